// The result archive in the real window, offscreen, on a pseudo-terminal, with its archive on
// the disk:
//   the archive's window with 100,000 results shown: from the menu item 结果档案… triggered to
//     the list painted with its first rows (an event filter sees the list's viewport paint), on
//     a main window just started, so that the archive's window is made by that trigger;
//   the main window's start-up with a 100,000-result archive against the same with none: from
//     the window made to its idle page painted, the two taken in turn;
//   (info) a final result handled with its archiving: the window's handling of a final result
//     frame, the archive's Add included, in a connected window on the 100,000-result archive.
// References measured in the same run: the archive's window over ten results; the handling of
// the same frames by a window whose archive cannot be used (a damaged file: nothing archived).
//
//   bench_archive_window [FOLDER]   (the archives are made in a temporary folder under FOLDER,
//                                    by default the current one, so that they lie on that disk)
#include "archive_results.h"
#include "archivewindow.h"
#include "figures.h"
#include "line.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QThread>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iostream>

using namespace dielmon;
using bench::SteadyClock;
namespace fs = std::filesystem;

namespace {

// Sees the first paint of a widget.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(QWidget* target) { target->installEventFilter(this); }
    bool Painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            Painted = true;
        }
        return QObject::eventFilter(watched, event);
    }
};

bool RunUntil(const std::function<bool()>& condition, int ms = 20000) {
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double Ms(SteadyClock::time_point a, SteadyClock::time_point b) {
    return bench::MillisecondsBetween(a, b);
}

std::string MsText(double ms) {
    return ms < 10 ? bench::Fixed(ms, 2) + " ms" : bench::Fixed(ms, 1) + " ms";
}

struct Homes {
    bench::PtyLine Line;
    UnattendedDialogs Quiet;
    WindowSetup Setup(const std::string& home) {
        WindowSetup s;
        s.AppPath = home;
        s.Port = Line.Path();
        s.DialogSource = &Quiet;
        return s;
    }
};

// From the window made to its idle page painted.
double StartUp(Homes& homes, const std::string& home) {
    const auto t0 = SteadyClock::now();
    auto w = std::make_unique<TfrmDielmon>(homes.Setup(home));
    PaintWatch watch(w->Lbl_Default1);
    w->show();
    RunUntil([&] { return watch.Painted; });
    const double ms = Ms(t0, SteadyClock::now());
    w.reset();
    QCoreApplication::processEvents();
    return ms;
}

// From 结果档案… to the archive's list painted with its rows, on a window just started; and
// (into `judged`) to the verdicts of those rows, which follow the paint.
double ArchivePage(Homes& homes, const std::string& home, std::int64_t* total = nullptr,
                   double* judged = nullptr) {
    auto w = std::make_unique<TfrmDielmon>(homes.Setup(home));
    PaintWatch shown(w->Lbl_Default1);
    w->show();
    RunUntil([&] { return shown.Painted; });
    const auto t0 = SteadyClock::now();
    w->N_ArchiveOpen->trigger();
    TfrmArchive* a = w->ArchiveWindow();
    PaintWatch list(a->LView_Archive->viewport());
    RunUntil([&] { return list.Painted && a->Model().rowCount() > 0; });
    const double ms = Ms(t0, SteadyClock::now());
    RunUntil([&] { return !a->Model().Judging(); });
    if (judged != nullptr) {
        *judged = Ms(t0, SteadyClock::now());
    }
    if (total != nullptr) {
        *total = a->Model().Total();
    }
    w.reset();
    QCoreApplication::processEvents();
    return ms;
}

// The window's handling of `n` final result frames, each timed alone.
std::vector<double> FinalResults(Homes& homes, const std::string& home, int n) {
    auto w = std::make_unique<TfrmDielmon>(homes.Setup(home));
    w->show();
    RunUntil([&] { return w->State().PortOpen; });
    const auto parameters = bench::ParametersFrame();
    w->DispatchFrame(parameters.data(), static_cast<int>(parameters.size()));
    std::vector<double> times;
    for (int k = 0; k < n; ++k) {
        const sim::SingleResult v{10,    0.0148f, 500,     500,    1, 4.7f + 0.001f * (k % 50),
                                  0.45f, 89.7f,   0.0045f, 0.0007f};
        const sim::DateStamp date{23, 5, 1, 10, static_cast<std::uint8_t>(k % 60), 0};
        const auto frame = BuildFrame(RspFinalResult, sim::EncodeFinalResult({v, date}));
        const auto t0 = SteadyClock::now();
        w->DispatchFrame(frame.data(), static_cast<int>(frame.size()));
        times.push_back(Ms(t0, SteadyClock::now()));
        // Results come seconds apart: the window paints and idles between them.
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    w.reset();
    QCoreApplication::processEvents();
    return times;
}

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    InstallFontSubstitutes();
    QApplication::setFont(SongFont(13));
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    std::string pattern = (base / "bench-archive-window-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::cerr << "no folder under " << base << "\n";
        return 1;
    }
    const std::string folder = pattern + "/";
    const std::string big = folder + "big/";
    const std::string none = folder + "none/";
    const std::string few = folder + "few/";
    const std::string damaged = folder + "damaged/";
    for (const std::string& f : {big, none, few, damaged}) {
        fs::create_directories(f);
    }
    const int runs = bench::Runs(3);
    {
        std::mt19937 random(14);
        auto fill = [&](const std::string& home, int n) {
            archive::Opened opened = archive::Archive::Open(home + archive::kArchiveFileName);
            if (!opened.Store) {
                std::cerr << opened.Error << "\n";
                std::exit(1);
            }
            for (int k = 0; k < n; ++k) {
                if (!opened.Store->Add(bench::Made(k, random)).Ok()) {
                    std::cerr << "cannot fill " << home << "\n";
                    std::exit(1);
                }
            }
        };
        const auto t0 = SteadyClock::now();
        fill(big, bench::kResults);
        fill(few, 10);
        std::cout << "archive of " << bench::kResults << " results made in "
                  << bench::Fixed(Ms(t0, SteadyClock::now()) / 1000, 1) << " s" << std::endl;
        std::ofstream(damaged + archive::kArchiveFileName)
            << std::string("SQLite format 3\0", 16) << std::string(5000, '\x13');
    }
    Homes homes;
    // Once each first: fonts, glyph caches and the loader are warm for every run.
    StartUp(homes, none);
    ArchivePage(homes, few);

    // The archive's window.
    std::vector<double> pages, smallPages, judgedPages;
    std::int64_t shown = 0;
    for (int r = 0; r < runs; ++r) {
        double judged = 0;
        pages.push_back(ArchivePage(homes, big, &shown, &judged));
        judgedPages.push_back(judged);
        smallPages.push_back(ArchivePage(homes, few));
        std::cout << "archive window run " << r + 1 << ": " << MsText(pages.back()) << " (" << shown
                  << " results; their verdicts " << MsText(judgedPages.back()) << "), "
                  << MsText(smallPages.back()) << " (10 results)" << std::endl;
    }
    const double page = bench::Median(pages);
    if (shown != bench::kResults) {
        bench::PrintUnmeasured("Archive window with 100,000 results shown", "≤ 200 ms",
                               "the list did not show the archive's results");
    } else {
        bench::PrintFigure("Archive window with 100,000 results shown", MsText(page), "≤ 200 ms",
                           page <= 200,
                           "from 结果档案… to the list painted with its first rows; the verdicts "
                           "of the rows on show follow by " +
                               MsText(bench::Median(judgedPages)) + "; 10 results " +
                               MsText(bench::Median(smallPages)) + " (median of " +
                               std::to_string(runs) + " runs)");
    }

    // Start-up with and without the archive, in turn.
    std::vector<double> withArchive, without;
    const int starts = std::max(runs, 5);
    for (int r = 0; r < starts; ++r) {
        if (r % 2 == 0) {
            withArchive.push_back(StartUp(homes, big));
            without.push_back(StartUp(homes, none));
        } else {
            without.push_back(StartUp(homes, none));
            withArchive.push_back(StartUp(homes, big));
        }
        std::cout << "start-up run " << r + 1 << ": " << MsText(withArchive.back())
                  << " with 100,000 results, " << MsText(without.back()) << " without" << std::endl;
    }
    const double difference = bench::Median(withArchive) - bench::Median(without);
    bench::PrintFigure(
        "Window start-up, 100,000-result archive vs none", MsText(difference), "≤ 50 ms",
        difference <= 50,
        "window made to its idle page painted: " + MsText(bench::Median(withArchive)) +
            " with the archive, " + MsText(bench::Median(without)) + " without (median of " +
            std::to_string(starts) + " each)");

    // A final result handled with its archiving.
    const int results = 200;
    const std::vector<double> kept = FinalResults(homes, big, results);
    const std::vector<double> bare = FinalResults(homes, damaged, results);
    const double p99 = bench::Percentile(kept, 99);
    bench::PrintInformation(
        "Final result handled with its archiving, p99", MsText(p99), "— (archiving ≤ 2 ms above)",
        "p50 " + MsText(bench::Median(kept)) +
            " into the 100,000-result archive; without an archive p50 " +
            MsText(bench::Median(bare)) + " / p99 " + MsText(bench::Percentile(bare, 99)) + "; " +
            std::to_string(results) + " results 10 ms apart");

    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return 0;
}
