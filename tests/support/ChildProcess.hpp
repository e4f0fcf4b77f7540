#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kelno_test {

using namespace std::chrono_literals;

// How a child is started; the defaults suit a test.
struct ChildOptions {
    // Standard output and error are appended to this file instead of being
    // collected (out() and err() stay empty): for children that write much
    // while measured, as a daemon under a service manager writes to its journal.
    std::optional<std::string> output_path;
    // The child is killed when the thread that started it ends.
    bool die_with_parent = false;
    // The destructor sends SIGTERM and waits this long before SIGKILL.
    std::chrono::milliseconds stop_grace{0};
};

// A program started for a test, with its standard streams piped to the test.
// Output is collected in the background; every wait is bounded. The destructor
// kills and reaps a child that is still running.
class ChildProcess {
public:
    // argv[0] is the path of the program.
    explicit ChildProcess(std::vector<std::string> argv, ChildOptions options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return child_pid; }

    std::string out() const;  // everything written to standard output so far
    std::string err() const;  // everything written to standard error so far

    // True once `text` appears on the stream, false after `timeout`.
    bool waitForOut(const std::string& text, std::chrono::milliseconds timeout = 10s) const;
    bool waitForErr(const std::string& text, std::chrono::milliseconds timeout = 10s) const;
    // True once `count` occurrences of `text` appeared on standard output.
    bool waitForOutCount(const std::string& text, std::size_t count,
                         std::chrono::milliseconds timeout = 10s) const;

    void writeStdin(const std::string& text);
    void closeStdin();
    void signal(int signal_number);
    bool running() { return !waitExit(std::chrono::milliseconds(0)); }

    // The exit status (or 128 + signal number when killed by a signal), or
    // nothing when the child is still running after `timeout`. Once it returns
    // a status, out() and err() hold everything the child wrote.
    std::optional<int> waitExit(std::chrono::milliseconds timeout = 10s);

private:
    void readLoop();
    bool waitFor(const std::string& stream_text_name, const std::string& text, std::size_t count,
                 std::chrono::milliseconds timeout) const;

    ChildOptions options;
    int child_pid = -1;
    int stdin_fd = -1;
    int stdout_fd = -1;
    int stderr_fd = -1;
    std::optional<int> exit_status;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::string out_text;
    std::string err_text;
    bool output_complete = false;  // both streams reached end of file
    std::thread reader;
};

// Stops a process (SIGSTOP) until destroyed (SIGCONT): held in a
// std::optional, reset() resumes it early.
class Paused {
public:
    explicit Paused(ChildProcess& process);
    ~Paused();
    Paused(const Paused&) = delete;
    Paused& operator=(const Paused&) = delete;

private:
    ChildProcess& process;
};

// From now on SIGINT and SIGTERM kill every child still running and end this
// process, so an interrupted run leaves none behind.
void kill_children_on_interrupt();

// True in a cross build, whose tests run under the emulator the build names
// (qemu-user for armhf): the few tests that meet a fault of the emulator
// itself adapt or skip there, and say why.
bool under_emulator();

// Counts the occurrences of `needle` in `haystack`.
std::size_t count_of(const std::string& haystack, const std::string& needle);

}  // namespace kelno_test
