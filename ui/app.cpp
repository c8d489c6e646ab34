#include "app.h"

#include "mainwindow.h"
#include "options.h"
#include "sim/simulator.h"
#include "translations.h"

#include <QApplication>
#include <QDir>
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
    if (!DisplayAvailable()) {
        std::cerr << "dielmon: no display is available (DISPLAY is not set).\n"
                     "Run it under a virtual display, for example:\n"
                     "    xvfb-run -a -s \"-screen 0 1280x800x24\" "
                  << (argc > 0 ? argv[0] : "dielmon") << " --simulate\n";
        return 2;
    }

    std::unique_ptr<sim::Simulator> simulator;
    if (options.Simulate) {
        std::string error;
        const auto simOptions = sim::ParseSimOptions(options.SimArgs, &error);
        if (!simOptions) {
            std::cerr << "dielmon: " << error << "\n" << sim::SimHelpText();
            return 2;
        }
        simulator = std::make_unique<sim::Simulator>(*simOptions);
        if (!simulator->Start(&error)) {
            std::cerr << "dielmon: the simulated instrument did not start: " << error << "\n";
            return 2;
        }
        options.Port = simulator->DevicePath();
    }

    QApplication app(argc, argv);
    InstallQtTranslations(app);
    // Numbers are written with "." whatever the desktop's language.
    std::setlocale(LC_NUMERIC, "C");
    InstallFontSubstitutes();
    QApplication::setFont(SongFont(13));

    WindowSetup setup;
    setup.AppPath = options.Home.empty()
                        ? QCoreApplication::applicationDirPath().toStdString() + "/"
                        : options.Home;
    QDir().mkpath(QString::fromStdString(setup.AppPath));
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
