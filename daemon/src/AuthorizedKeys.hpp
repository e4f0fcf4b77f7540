#pragma once

#include <set>
#include <string>

namespace kelnod {

// The public keys of the peers that may use the secure port, from a file with
// one Z85 key per line. Blank lines and lines beginning with '#' are skipped,
// and a key may be followed by blanks and a '#' comment. A line of exactly 40
// Z85 characters is a key even if it begins with '#' (Z85 has that digit); a
// key commented out ("#" and the key) is not.
class AuthorizedKeys {
public:
    // Reads the file now. A file that cannot be read, or that holds no key,
    // lets nobody in; that and every line that is not a key are reported.
    explicit AuthorizedKeys(const std::string& path);

    // `key` is the 32 bytes a CURVE handshake presents.
    bool allows(const std::string& key) const { return keys.count(key) != 0; }
    std::size_t size() const { return keys.size(); }

private:
    std::set<std::string> keys;  // 32 bytes each
};

}  // namespace kelnod
