#pragma once

#include <map>
#include <string>

namespace kelnou {

// Reader of "key=value" files. The first definition of a key wins, "#" cuts the
// rest of a line, nothing is trimmed, lines without "=" are skipped.
class Properties {
public:
    // False (after printing "Failed to load input file <path>") when the file
    // cannot be opened; the previous contents are kept then. Otherwise the
    // contents are replaced by the file's.
    bool load(const char* path);

    // The stored value, or `default_value` unchanged when the key is absent.
    // The pointer stays valid until the next successful load.
    const char* getString(const char* key, const char* default_value) const;

    // strtol in base 10 on the stored value, or `default_value` when absent.
    int getInt(const char* key, int default_value) const;

private:
    std::map<std::string, std::string> values;
};

}  // namespace kelnou
