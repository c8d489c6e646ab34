#include "app.h"

#include "core/homefolders.h"
#include "mainwindow.h"
#include "options.h"
#include "sim/simulator.h"
#include "translations.h"
#include "usage/dielmon.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <clocale>
#include <cstdlib>
#include <iostream>
#include <memory>

namespace dielmon {

namespace {

bool DisplayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (platform != nullptr && *platform != '\0') || (x11 != nullptr && *x11 != '\0') ||
           (wayland != nullptr && *wayland != '\0');
}

} // namespace

int RunProgram(int argc, char** argv) {
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto parsed = ParseProgramOptions(args);
    if (const auto* refusal = std::get_if<std::string>(&parsed)) {
        std::cerr << "dielmon: " << *refusal << "\n" << kProgramUsage;
        return 2;
    }
    ProgramOptions options = std::get<ProgramOptions>(parsed);
    if (options.Help) {
        std::cout << kProgramUsage;
        return 0;
    }
    if (options.Version) {
        std::cout << usage::kDielmon.VersionLine() << "\nQt " << qVersion() << "\n";
        return 0;
    }
    const std::string programFolder = ExecutableFolder(argc > 0 ? argv[0] : nullptr);
    const HomeFolders folders = ResolveHomeFolders(options.Home, programFolder);
    if (options.Folders) {
        std::cout << "settings  " << folders.ConfigFile << "\nlog       " << folders.LogFolder
                  << "\ndata      " << folders.DataFolder << "\n";
        return 0;
    }
    // The simulator's options are checked before the display, so that a mistyped one is
    // reported as such even where no display is available.
    std::optional<sim::SimOptions> simOptions;
    if (options.Simulate) {
        std::string error;
        simOptions = sim::ParseSimOptions(options.SimArgs, &error);
        if (!simOptions) {
            std::cerr << "dielmon: " << error << "\n" << sim::SimHelpText();
            return 2;
        }
    }
    if (!DisplayAvailable()) {
        std::cerr << "dielmon: no display is available (DISPLAY is not set).\n"
                     "Run it under a virtual display, for example:\n"
                     "    xvfb-run -a -s \"-screen 0 1280x800x24\" "
                  << (argc > 0 ? argv[0] : "dielmon") << " --simulate\n";
        return 2;
    }

    std::unique_ptr<sim::Simulator> simulator;
    if (simOptions) {
        std::string error;
        simulator = std::make_unique<sim::Simulator>(*simOptions);
        if (!simulator->Start(&error)) {
            std::cerr << "dielmon: the simulated instrument did not start: " << error << "\n";
            return 2;
        }
        options.Port = simulator->DevicePath();
    }

    QApplication app(argc, argv);
    InstallQtTranslations(app);
    // The desktop entry, the AppStream metadata and the icon share this id; with it the
    // desktop matches the window to its menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral(DIELMON_APP_ID));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral(DIELMON_APP_ID)));
    // Numbers are written with "." whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    InstallFontSubstitutes();
    QApplication::setFont(SongFont(13));

    WindowSetup setup;
    setup.Folders = folders;
    setup.ProgramFolder = programFolder;
    // The settings are saved into this folder, so it is there from the start; the log and
    // the data make their folders when they first write.
    QDir().mkpath(QFileInfo(QString::fromStdString(folders.ConfigFile)).path());
    setup.Port = options.Port;
    setup.Trace = options.Trace;
    int status = 0;
    {
        TfrmDielmon window(setup);
        window.showMaximized();
        status = app.exec();
    }
    if (simulator) {
        simulator->Stop();
    }
    return status;
}

} // namespace dielmon
