#include "ChildProcess.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kelno_test {

namespace {

// Running children, for the interrupt handler: plain atomics, signal-safe.
constexpr int max_children = 64;
std::array<std::atomic<pid_t>, max_children> running_children{};

void remember(pid_t pid) {
    for (auto& slot : running_children) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid)) return;
    }
}

void forget(pid_t pid) {
    for (auto& slot : running_children) {
        pid_t expected = pid;
        if (slot.compare_exchange_strong(expected, 0)) return;
    }
}

void kill_children_and_exit(int signal_number) {
    for (auto& slot : running_children) {
        const pid_t pid = slot.load();
        if (pid > 0) ::kill(pid, SIGKILL);
    }
    _exit(128 + signal_number);
}

}  // namespace

void kill_children_on_interrupt() {
    struct sigaction action {};
    action.sa_handler = kill_children_and_exit;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::size_t count_of(const std::string& haystack, const std::string& needle) {
    if (needle.empty()) return 0;
    std::size_t count = 0;
    for (auto at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

namespace {

#ifdef KELNO_TEST_EMULATOR
// The machine field of an ELF file's header (e_machine, at byte 18 of both
// ELF classes), or -1 for a file that is not ELF.
int elf_machine(const std::string& path) {
    char header[20] = {};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(header, sizeof(header)) || std::memcmp(header, "\x7f" "ELF", 4) != 0) return -1;
    const bool little_endian = header[5] == 1;  // EI_DATA: ELFDATA2LSB
    const auto low = static_cast<unsigned char>(header[little_endian ? 18 : 19]);
    const auto high = static_cast<unsigned char>(header[little_endian ? 19 : 18]);
    return low | high << 8;
}
#endif

// In a cross build, KELNO_TEST_EMULATOR holds the emulator the build names
// (CMAKE_CROSSCOMPILING_EMULATOR, e.g. "qemu-arm"). A program of the target,
// one of the same machine as this test program, is started through it; a
// host program such as /bin/sh starts as it is. The test program's own
// /proc/self/exe is the target program even under qemu-user.
std::vector<std::string> through_emulator(std::vector<std::string> argv) {
#ifdef KELNO_TEST_EMULATOR
    if (!argv.empty() && elf_machine(argv[0]) == elf_machine("/proc/self/exe")) {
        std::istringstream words(KELNO_TEST_EMULATOR);
        std::vector<std::string> emulator;
        for (std::string word; words >> word;) emulator.push_back(word);
        argv.insert(argv.begin(), emulator.begin(), emulator.end());
    }
#endif
    return argv;
}

}  // namespace

bool under_emulator() {
#ifdef KELNO_TEST_EMULATOR
    return true;
#else
    return false;
#endif
}

ChildProcess::ChildProcess(std::vector<std::string> program_argv, ChildOptions child_options)
    : options(std::move(child_options)) {
    std::vector<std::string> argv = through_emulator(std::move(program_argv));
    int in_pipe[2], out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
    const bool collects = !options.output_path;
    if (::pipe2(in_pipe, O_CLOEXEC) != 0 ||
        (collects && (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0))) {
        throw std::runtime_error("pipe failed");
    }
    int output_fd = -1;
    if (!collects) {
        output_fd =
            ::open(options.output_path->c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (output_fd < 0) throw std::runtime_error("cannot open " + *options.output_path);
    }
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);

    const pid_t parent = ::getpid();
    child_pid = ::fork();
    if (child_pid < 0) throw std::runtime_error("fork failed");
    if (child_pid == 0) {
        if (options.die_with_parent) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) _exit(127);  // the parent died before prctl
        }
        ::dup2(in_pipe[0], 0);
        ::dup2(collects ? out_pipe[1] : output_fd, 1);
        ::dup2(collects ? err_pipe[1] : output_fd, 2);
        // The test runner may block or handle signals; the child starts clean.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGTERM, SIG_DFL);
        ::execv(args[0], args.data());
        _exit(127);
    }
    remember(child_pid);
    ::close(in_pipe[0]);
    stdin_fd = in_pipe[1];
    if (!collects) {
        ::close(output_fd);
        output_complete = true;
        return;
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    stdout_fd = out_pipe[0];
    stderr_fd = err_pipe[0];
    reader = std::thread([this] { readLoop(); });
}

ChildProcess::~ChildProcess() {
    if (!exit_status && options.stop_grace.count() > 0) {
        ::kill(child_pid, SIGTERM);
        waitExit(options.stop_grace);
    }
    if (!exit_status) {
        ::kill(child_pid, SIGKILL);
        waitExit(5s);
    }
    closeStdin();
    if (reader.joinable()) reader.join();
    if (stdout_fd >= 0) ::close(stdout_fd);
    if (stderr_fd >= 0) ::close(stderr_fd);
}

void ChildProcess::readLoop() {
    pollfd fds[2] = {{stdout_fd, POLLIN, 0}, {stderr_fd, POLLIN, 0}};
    int open_streams = 2;
    char buffer[4096];
    while (open_streams > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (auto& fd : fds) {
            if (fd.fd < 0 || fd.revents == 0) continue;
            ssize_t got = ::read(fd.fd, buffer, sizeof(buffer));
            if (got <= 0) {
                fd.fd = -1;
                --open_streams;
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex);
            (fd.fd == stdout_fd ? out_text : err_text).append(buffer, static_cast<size_t>(got));
            changed.notify_all();
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    output_complete = true;
    changed.notify_all();
}

std::string ChildProcess::out() const {
    std::lock_guard<std::mutex> lock(mutex);
    return out_text;
}

std::string ChildProcess::err() const {
    std::lock_guard<std::mutex> lock(mutex);
    return err_text;
}

bool ChildProcess::waitFor(const std::string& stream, const std::string& text, std::size_t count,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex);
    const std::string& source = stream == "out" ? out_text : err_text;
    return changed.wait_for(lock, timeout, [&] { return count_of(source, text) >= count; });
}

bool ChildProcess::waitForOut(const std::string& text, std::chrono::milliseconds timeout) const {
    return waitFor("out", text, 1, timeout);
}

bool ChildProcess::waitForErr(const std::string& text, std::chrono::milliseconds timeout) const {
    return waitFor("err", text, 1, timeout);
}

bool ChildProcess::waitForOutCount(const std::string& text, std::size_t count,
                                   std::chrono::milliseconds timeout) const {
    return waitFor("out", text, count, timeout);
}

void ChildProcess::writeStdin(const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = ::write(stdin_fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error("write to child failed");
        }
        written += static_cast<std::size_t>(n);
    }
}

void ChildProcess::closeStdin() {
    if (stdin_fd >= 0) {
        ::close(stdin_fd);
        stdin_fd = -1;
    }
}

void ChildProcess::signal(int signal_number) { ::kill(child_pid, signal_number); }

Paused::Paused(ChildProcess& process) : process(process) { process.signal(SIGSTOP); }

Paused::~Paused() { process.signal(SIGCONT); }

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (exit_status) return exit_status;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        int status = 0;
        pid_t done = ::waitpid(child_pid, &status, WNOHANG);
        if (done == child_pid) {
            forget(child_pid);
            exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            // The child is gone, but what it wrote last may still sit in the
            // pipes: wait (bounded) until the reader has seen both ends close.
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, 5s, [this] { return output_complete; });
            return exit_status;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        // No event to wait on for a child's exit short of SIGCHLD; poll briefly.
        std::this_thread::sleep_for(10ms);
    }
}

}  // namespace kelno_test
