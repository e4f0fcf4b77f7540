#pragma once

#include <string>

namespace kelno_test {

// A fresh directory under /tmp, removed with its contents on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dir; }
    // Writes `content` to path()/name and returns the full path.
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string dir;
};

}  // namespace kelno_test
