// SIGINT and SIGTERM close every socket of the process. Each scenario runs in
// a child process, so a signal cannot take the test runner down.

#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <zmq.h>

#include <cplt/Context.hpp>
#include <cplt/Exception.hpp>
#include <cplt/InputSelector.hpp>
#include <cplt/Socket.hpp>

#include "child_checks.hpp"
#include "loopback.hpp"

namespace {

using cplt::Socket;
using cplt::SocketType;
using namespace zmq_test;

// ---------------------------------------------------------------- child side

// The program's own handler, installed before the first socket exists.
std::atomic<int> previous_handler_calls{0};
std::atomic<bool> socket_open_in_previous_handler{false};
std::atomic<Socket*> watched_socket{nullptr};

void previous_handler(int) {
    Socket* socket = watched_socket.load();
    socket_open_in_previous_handler = socket != nullptr && socket->isOpen();
    ++previous_handler_calls;
}

void install_previous_handler(int signal_number) {
    struct sigaction action {};
    action.sa_handler = previous_handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
}

bool raises_termination(const std::function<void()>& call) {
    try {
        call();
    } catch (const cplt::ZmqTermination&) {
        return true;
    } catch (...) {
    }
    return false;
}

// Waits until `predicate` holds; there is no event to wait for instead.
bool eventually(const std::function<bool()>& predicate) {
    const auto deadline = std::chrono::steady_clock::now() + bounded_wait;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// True while thread `tid` of this process sleeps in the kernel.
bool is_sleeping(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    const std::string line((std::istreambuf_iterator<char>(stat)),
                           std::istreambuf_iterator<char>());
    const auto name_end = line.rfind(')');
    return name_end != std::string::npos && line.size() > name_end + 2 && line[name_end + 2] == 'S';
}

// With every socket closed with linger 0, terminating the context does not
// wait for messages that nobody will take.
bool context_terminates_at_once() {
    auto terminated = std::make_shared<std::promise<bool>>();
    auto result = terminated->get_future();
    // Detached: a hung termination is abandoned when the child exits.
    std::thread([terminated] {
        terminated->set_value(zmq_ctx_term(cplt::Context::get().handle()) == 0);
    }).detach();
    return result.wait_for(bounded_wait) == std::future_status::ready && result.get();
}

enum class BlockingCall { Recv, Run };

[[noreturn]] void signal_while_blocked(int signal_number, BlockingCall call) {
    start_watchdog();
    install_previous_handler(signal_number);
    RouterAndDealer pair;
    // A round trip first: once connected, nothing wakes the router's thread
    // inside ZeroMQ but the signal (see the note on signals in Context.cpp).
    pair.dealer.send("hello", false);
    require(wait_for_input(pair.router), "the dealer's message arrives");
    char identity[16];
    pair.router.recv(identity, sizeof identity);
    pair.router.flushMessage();
    require(!wait_for_input(pair.router, std::chrono::milliseconds(0)), "nothing else is pending");
    Socket unheard(SocketType::Dealer);  // holds a message nobody will take
    unheard.connect(unheard_endpoint());
    require(unheard.send_nowait("pending", false), "a message is queued");
    watched_socket = &pair.router;
    cplt::InputSelector selector({{&pair.router, [](Socket*) {}}});

    const pid_t blocked_tid = static_cast<pid_t>(syscall(SYS_gettid));
    const pthread_t blocked_thread = pthread_self();
    std::thread signaller([&] {
        // Should the signal come early, the call finds its socket closed:
        // the outcome checked below is the same.
        eventually([&] { return is_sleeping(blocked_tid); });
        pthread_kill(blocked_thread, signal_number);
    });
    const bool terminated = raises_termination([&] {
        if (call == BlockingCall::Recv) {
            char byte;
            pair.router.recv(&byte, 1);
        } else {
            selector.run(std::chrono::milliseconds(-1));
        }
    });
    signaller.join();

    require(terminated, "the blocked call raises cplt::ZmqTermination");
    require(previous_handler_calls == 1, "the previously installed handler is called once");
    require(socket_open_in_previous_handler, "the previous handler runs before the sockets close");
    require(!pair.router.isOpen() && !pair.dealer.isOpen() && !unheard.isOpen(),
            "every socket is closed");
    require(raises_termination([&] { pair.dealer.send("x", false); }),
            "the next call on a closed socket raises cplt::ZmqTermination");
    require(raises_termination([&] { selector.run(std::chrono::milliseconds(0)); }),
            "the next run of the selector raises cplt::ZmqTermination");
    require(context_terminates_at_once(), "the sockets were closed with linger 0");
    pass();
}

enum class SignalledThread { LockHolder, Other };

[[noreturn]] void signal_while_lock_is_held(int signal_number, SignalledThread target) {
    start_watchdog();
    install_previous_handler(signal_number);
    Socket socket(SocketType::Dealer);
    watched_socket = &socket;

    std::atomic<bool> holding{false};
    std::atomic<bool> open_while_held{false};
    std::thread holder([&] {
        std::lock_guard lock(cplt::Context::getLock());
        holding = true;
        // When the handler ran on this thread, it has returned by now.
        require(eventually([] { return previous_handler_calls == 1; }), "the handler runs");
        open_while_held = socket.isOpen();
    });  // releasing the lock carries out the shutdown

    require(eventually([&] { return holding.load(); }), "the holder takes the lock");
    pthread_kill(target == SignalledThread::LockHolder ? holder.native_handle() : pthread_self(),
                 signal_number);
    holder.join();

    require(open_while_held, "the handler leaves the shutdown to the lock holder");
    require(!socket.isOpen(), "the holder closes the socket when it releases the lock");
    require(raises_termination([&] { socket.send("x", false); }),
            "the next call raises cplt::ZmqTermination");
    pass();
}

// A handler installed with SA_SIGINFO before the first socket: it takes three
// arguments and must be called with real ones.
std::atomic<int> info_handler_signal{0};

void previous_info_handler(int, siginfo_t* info, void*) {
    info_handler_signal = info != nullptr ? info->si_signo : -1;
}

// The signal lands on a thread that is not in ZeroMQ at all, while another
// thread blocks in a send that nothing will ever take: that send still ends.
[[noreturn]] void signal_elsewhere_while_blocked_in_send(int signal_number) {
    start_watchdog();
    struct sigaction action {};
    action.sa_sigaction = previous_info_handler;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);

    Socket dealer(SocketType::Dealer);  // no peer: a send waits for one
    std::atomic<pid_t> sender_tid{0};
    std::atomic<bool> terminated{false};
    std::thread sender([&] {
        sender_tid = static_cast<pid_t>(syscall(SYS_gettid));
        terminated = raises_termination([&] { dealer.send("never taken", false); });
    });
    require(eventually([&] { return sender_tid != 0 && is_sleeping(sender_tid); }),
            "the send blocks");
    pthread_kill(pthread_self(), signal_number);
    sender.join();

    require(terminated, "the blocked send raises cplt::ZmqTermination");
    require(info_handler_signal == signal_number,
            "the previous three-argument handler gets the signal's information");
    require(!dealer.isOpen(), "the socket is closed");
    pass();
}

// ---------------------------------------------------------------- parent side

using SignalDeathTest = ChildProcessTest;

struct Signal {
    int number;
    const char* name;
};
const Signal signals[] = {{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}};

TEST_F(SignalDeathTest, SignalToBlockedRecvClosesEverySocketAndRaisesTermination) {
    for (const Signal& signal : signals) {
        SCOPED_TRACE(signal.name);
        EXPECT_EXIT(signal_while_blocked(signal.number, BlockingCall::Recv),
                    ::testing::ExitedWithCode(0), "");
    }
}

TEST_F(SignalDeathTest, SignalToBlockedSelectorClosesEverySocketAndRaisesTermination) {
    for (const Signal& signal : signals) {
        SCOPED_TRACE(signal.name);
        EXPECT_EXIT(signal_while_blocked(signal.number, BlockingCall::Run),
                    ::testing::ExitedWithCode(0), "");
    }
}

TEST_F(SignalDeathTest, SignalWhileTheLockIsHeldNeverDeadlocksAndStillClosesTheSockets) {
    EXPECT_EXIT(signal_while_lock_is_held(SIGINT, SignalledThread::LockHolder),
                ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(signal_while_lock_is_held(SIGTERM, SignalledThread::Other),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(SignalDeathTest, SignalElsewhereEndsASendBlockedOnAnotherThread) {
    for (const Signal& signal : signals) {
        SCOPED_TRACE(signal.name);
        EXPECT_EXIT(signal_elsewhere_while_blocked_in_send(signal.number),
                    ::testing::ExitedWithCode(0), "");
    }
}

}  // namespace
