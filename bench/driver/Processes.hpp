#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kelno_bench {

// A loopback TCP port that was free a moment ago.
int free_port();

// Waits until something accepts TCP connections on 127.0.0.1:`port`.
bool wait_for_listener(int port, std::chrono::milliseconds timeout);

// A program started by the driver. It dies with the driver (parent-death
// signal), and every child still running is killed if the driver is
// interrupted; the destructor stops it (SIGTERM, then SIGKILL).
class Child {
public:
    // Standard output and error go to `output_path` (e.g. "/dev/null"), as a
    // deployed daemon's would go to the journal.
    Child(const std::vector<std::string>& argv, const std::string& output_path);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return child_pid; }
    bool running();
    void stop();

    // VmRSS in KiB, from /proc/<pid>/status.
    long residentKiB() const;
    // User plus system CPU time used so far.
    std::chrono::milliseconds cpuTime() const;

private:
    pid_t child_pid = -1;
};

// Kills every running child and exits when SIGINT or SIGTERM reaches the driver.
void stop_children_on_interrupt();

// A fresh directory under /tmp, removed with its files by the destructor.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Writes `content` to `name` inside the directory; returns its path.
    std::string write(const std::string& name, const std::string& content) const;
    std::string path(const std::string& name) const { return dir + "/" + name; }

private:
    std::string dir;
};

// Size of a file in bytes, or -1 when it cannot be read.
long long file_size(const std::string& path);

}  // namespace kelno_bench
