// The chaos run of a reliable chain (see ChaosRun.hpp), for minutes:
//
//   kelno_chaos [seconds] [events] [messages per second] [seed]
//
// Defaults: 180 s, 12 events on mid, 100 messages per second, a seed from the
// clock (printed, so a failed run can be replayed). Exit status 0 when every
// check holds, 1 otherwise; progress and the summary go to standard output.
#include <signal.h>

#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "ChaosRun.hpp"
#include "ChildProcess.hpp"

int main(int argc, char** argv) {
    kelno_chaos::ChaosOptions options;
    if (argc > 1) options.duration = std::chrono::seconds(std::atol(argv[1]));
    if (argc > 2) options.events = std::atoi(argv[2]);
    if (argc > 3) options.rate = std::atoi(argv[3]);
    if (argc > 4) options.seed = std::strtoull(argv[4], nullptr, 10);
    if (argc > 5 || options.duration.count() < 1 || options.events < 0 || options.rate < 1 ||
        options.rate > 10000) {
        std::cerr << "kelno_chaos [seconds (at least 1)] [events] [messages per second (1 to "
                     "10000)] [seed]"
                  << std::endl;
        return 2;
    }
    signal(SIGPIPE, SIG_IGN);
    // Ctrl-C leaves no kelnod behind.
    kelno_test::kill_children_on_interrupt();
    bool ok = false;
    try {
        ok = kelno_chaos::run_chaos(options, std::cout);
    } catch (const std::exception& error) {
        std::cout << "FAILED: " << error.what() << "\nchaos failed" << std::endl;
    }
    return ok ? 0 : 1;
}
