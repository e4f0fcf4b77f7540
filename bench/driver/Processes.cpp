#include "Processes.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace kelno_bench {

namespace {

// Running children, for the interrupt handler: plain atomics, signal-safe.
constexpr int max_children = 32;
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

void kill_children_and_exit(int signal) {
    for (auto& slot : running_children) {
        const pid_t pid = slot.load();
        if (pid > 0) kill(pid, SIGKILL);
    }
    _exit(128 + signal);
}

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error("socket() failed");
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("cannot find a free port");
    }
    close(fd);
    return ntohs(address.sin_port);
}

bool wait_for_listener(int port, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = loopback(port);
        const bool accepted =
            connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        if (accepted) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

Child::Child(const std::vector<std::string>& argv, const std::string& output_path) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = getpid();
    child_pid = fork();
    if (child_pid < 0) throw std::runtime_error("fork failed");
    if (child_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(127);  // the driver died before prctl
        const int out = open(output_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            close(out);
        }
        // The driver's blocked or handled signals must not carry over.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        execv(args[0], args.data());
        std::fprintf(stderr, "cannot start %s: %s\n", args[0], std::strerror(errno));
        _exit(127);
    }
    remember(child_pid);
}

Child::~Child() { stop(); }

bool Child::running() {
    if (child_pid <= 0) return false;
    int status = 0;
    if (waitpid(child_pid, &status, WNOHANG) == child_pid) {
        forget(child_pid);
        child_pid = -1;
        return false;
    }
    return true;
}

void Child::stop() {
    if (!running()) return;
    kill(child_pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(child_pid, &status, WNOHANG) == child_pid) {
            forget(child_pid);
            child_pid = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(child_pid, SIGKILL);
    waitpid(child_pid, &status, 0);
    forget(child_pid);
    child_pid = -1;
}

long Child::residentKiB() const {
    std::ifstream status("/proc/" + std::to_string(child_pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

std::chrono::milliseconds Child::cpuTime() const {
    std::ifstream stat("/proc/" + std::to_string(child_pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The command name may hold blanks; the fields after it do not.
    const auto name_end = text.rfind(')');
    if (name_end == std::string::npos) return std::chrono::milliseconds(-1);
    std::istringstream fields(text.substr(name_end + 2));
    std::string field;
    long long user = 0, system = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14) user = std::stoll(field);
        if (index == 15) system = std::stoll(field);
    }
    const long ticks_per_second = sysconf(_SC_CLK_TCK);
    return std::chrono::milliseconds((user + system) * 1000 / ticks_per_second);
}

void stop_children_on_interrupt() {
    struct sigaction action {};
    action.sa_handler = kill_children_and_exit;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

ScratchDir::ScratchDir() {
    char pattern[] = "/tmp/kelno-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::string ScratchDir::write(const std::string& name, const std::string& content) const {
    const std::string file = path(name);
    std::ofstream(file) << content;
    return file;
}

long long file_size(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace kelno_bench
