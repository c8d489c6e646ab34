// dielmon-sim: the instrument simulator as a program of its own. The first line of standard
// output is the port to open; it runs until interrupted or until it hangs up the line.
#include "sim/options.h"
#include "sim/simulator.h"

#include "core/frame.h"

#include <csignal>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace dielmon::sim;
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const std::optional<SimOptions> options = ParseSimOptions(args, &error);
    if (!options) {
        std::cerr << "dielmon-sim: " << error << "\nTry 'dielmon-sim --help'.\n";
        return 2;
    }
    if (options->Help) {
        std::cout << SimHelpText();
        return 0;
    }
    if (options->Version) {
        std::cout << SimVersionLine() << '\n';
        return 0;
    }

    // The signals that end the program are taken by sigtimedwait below; blocking them before
    // the simulator's thread starts keeps them away from that thread.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Simulator simulator(*options);
    if (options->Trace) {
        simulator.SetTraceSink([](bool incoming, const std::uint8_t* data, int count) {
            std::cerr << (incoming ? "<- " : "-> ") << dielmon::HexPairs(data, count) << '\n';
        });
    }
    if (!simulator.Start(&error)) {
        std::cerr << "dielmon-sim: " << error << '\n';
        return 1;
    }
    std::cout << simulator.DevicePath() << std::endl;

    const timespec tick{0, 200'000'000};
    bool signalled = false;
    while (simulator.Running() && !signalled) {
        signalled = sigtimedwait(&endSignals, nullptr, &tick) > 0;
    }
    const bool lineLost = !signalled && !simulator.HungUp();
    simulator.Stop();
    if (lineLost) {
        std::cerr << "dielmon-sim: the line failed\n";
        return 1;
    }
    if (!signalled) {
        std::cerr << "dielmon-sim: hung up the line\n";
    }
    return 0;
}
