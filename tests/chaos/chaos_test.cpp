// The short chaos run: a reliable chain whose middle node is killed and
// stopped a few times while every node sends to every other. Each
// acknowledged message arrives once on its node, none twice, and the stores
// and outboxes empty (see ChaosRun.hpp).
#include <gtest/gtest.h>
#include <signal.h>

#include <iostream>

#include "ChaosRun.hpp"

namespace {

using namespace std::chrono_literals;

TEST(Chaos, ShortRunDeliversEveryAcknowledgedMessageExactlyOnce) {
    signal(SIGPIPE, SIG_IGN);
    kelno_chaos::ChaosOptions options;
    options.duration = 20s;
    options.events = 3;
    options.rate = 60;
    EXPECT_TRUE(kelno_chaos::run_chaos(options, std::cout));
}

}  // namespace
