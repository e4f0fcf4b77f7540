#include "KeyFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include <kelnou/Exception.hpp>

#include "Console.hpp"

namespace kelnod {

namespace {

// A key file is a few lines; more than this is not one.
constexpr std::size_t kLongestKeyFile = 64 * 1024;

std::string system_error_text() { return std::strerror(errno); }

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw kelnou::GeneralException("key file " + path + ": " + why);
}

// The file's "key=value" lines, the first definition of a key winning, as in
// the node's configuration; but only whole lines are comments, for '#' is a
// Z85 digit and may be part of a key.
std::map<std::string, std::string> read_lines(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kLongestKeyFile) break;
    }
    std::map<std::string, std::string> values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        line.erase(line.find_last_not_of(" \t\r") + 1);
        const std::size_t equals = line.find('=');
        if (line.empty() || line[0] == '#' || equals == std::string::npos) continue;
        values.try_emplace(line.substr(0, equals), line.substr(equals + 1));
    }
    return values;
}

std::string read_key(const std::map<std::string, std::string>& values, const std::string& path,
                     const char* key) {
    auto value = values.find(key);
    if (value == values.end()) refuse(path, std::string("no ") + key + "=");
    if (!cplt::curve_key_bytes(value->second)) {
        refuse(path, std::string(key) + " must be 40 characters of Z85 text");
    }
    return value->second;
}

}  // namespace

cplt::CurveKeyPair read_key_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) refuse(path, "cannot be read: " + system_error_text());
    // The status of the very file read, not of whatever the path names later.
    struct stat status {};
    const bool stated = ::fstat(fd, &status) == 0;
    std::map<std::string, std::string> values;
    if (stated && S_ISREG(status.st_mode)) values = read_lines(fd);
    ::close(fd);
    if (!stated || !S_ISREG(status.st_mode)) refuse(path, "is not a regular file");

    cplt::CurveKeyPair keys;
    keys.secret_key = read_key(values, path, "secret_key");
    if ((status.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        refuse(path, "holds a secret key and can be read by others than its owner; make it "
                     "private with: chmod 600 " + path);
    }
    keys.public_key = read_key(values, path, "public_key");
    if (cplt::curve_public_key(keys.secret_key) != keys.public_key) {
        refuse(path, "public_key is not the public key of secret_key");
    }
    return keys;
}

int generate_key_file(const std::string& path) {
    cplt::CurveKeyPair keys;
    try {
        // The public key goes into configuration files, where '#' starts a
        // comment; Z85 has '#' as a digit, so a public key without it is kept.
        do {
            keys = cplt::generate_curve_key_pair();
        } while (keys.public_key.find('#') != std::string::npos);
    } catch (const kelnou::Exception& error) {
        report(error.generateMessage());
        return 1;
    }
    // Private from its first byte: a file made readable and narrowed later
    // could be read in between.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        const std::string why =
            errno == EEXIST ? "exists already; it is never overwritten (a node's secret key would "
                              "be lost)"
                            : "cannot be created: " + system_error_text();
        report("key file " + path + ": " + why);
        return 1;
    }
    const std::string text =
        "# CURVE key pair of a kelnod node. Keep this file to the node: give its peers\n"
        "# only the public key.\n"
        "public_key=" + keys.public_key + "\nsecret_key=" + keys.secret_key + "\n";
    bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    std::string why = written ? std::string() : system_error_text();
    if (::close(fd) != 0 && written) {
        written = false;
        why = system_error_text();
    }
    if (!written) {
        ::unlink(path.c_str());  // half a key file is no key file
        report("key file " + path + ": cannot be written: " + why);
        return 1;
    }
    say(keys.public_key);
    return 0;
}

}  // namespace kelnod
