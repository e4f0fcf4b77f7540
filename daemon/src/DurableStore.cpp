#include "DurableStore.hpp"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string_view>
#include <utility>

#include <kelnou/Exception.hpp>

namespace kelnod {

namespace {

constexpr int kelno_application_id = 0x4B454C4E;  // "KELN"

// A WAL left at its largest after a burst is cut back to this at a checkpoint.
constexpr const char* wal_size_limit = "4194304";

// --- Row codec: each byte string is a 4-byte little-endian length and the
// bytes. Read back with every length checked: the file is outside the process.

void put_bytes(std::string& out, std::string_view bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((size >> shift) & 0xff);
    out.append(bytes.data(), bytes.size());
}

bool take_bytes(std::string_view& in, std::string& out) {
    if (in.size() < 4) return false;
    std::uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(in[i]);
    in.remove_prefix(4);
    if (in.size() < size) return false;
    out.assign(in.data(), size);
    in.remove_prefix(size);
    return true;
}

std::string encode_list(const std::vector<std::string>& list) {
    std::string out;
    for (const auto& item : list) put_bytes(out, item);
    return out;
}

bool decode_list(std::string_view in, std::vector<std::string>& list) {
    std::string item;
    while (!in.empty()) {
        if (!take_bytes(in, item)) return false;
        list.push_back(item);
    }
    return true;
}

// The headers a message is sent with, but those of its payload, which the
// row keeps in columns of their own (as the wire keeps them in the frame).
std::string encode_headers(const kelnom::Message& message) {
    kelnom::HeaderMap headers = message.create_protocol_headers();
    headers.erase(kelnom::internal_objects::PayloadRequest::_payload_sz_hdr_key);
    headers.erase(kelnom::internal_objects::PayloadRequest::_payload_type_hdr_key);
    std::string out;
    for (const auto& [key, value] : headers) {
        put_bytes(out, key);
        put_bytes(out, value);
    }
    return out;
}

bool decode_headers(std::string_view in, kelnom::HeaderMap& headers) {
    std::string key;
    std::string value;
    while (!in.empty()) {
        if (!take_bytes(in, key) || !take_bytes(in, value)) return false;
        headers[key] = value;
    }
    return true;
}

std::string_view column_bytes(sqlite3_stmt* statement, int column) {
    const void* bytes = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    if (bytes == nullptr || size <= 0) return {};
    return {static_cast<const char*>(bytes), static_cast<std::size_t>(size)};
}

// Null when the row does not make a message again.
std::shared_ptr<kelnom::Message> decode_message(sqlite3_stmt* row) {
    kelnom::HeaderMap headers;
    std::vector<std::string> routes;
    if (!decode_headers(column_bytes(row, 2), headers) ||
        !decode_list(column_bytes(row, 3), routes) || routes.empty()) {
        return nullptr;
    }
    const std::string_view type = column_bytes(row, 4);
    const std::string_view bytes = column_bytes(row, 5);
    try {
        kelnom::Payload payload(static_cast<std::uint32_t>(bytes.size()), std::string(type));
        if (!bytes.empty()) std::memcpy(payload.getBuffer(), bytes.data(), bytes.size());
        return std::make_shared<kelnom::Message>(std::move(payload), std::move(routes), headers);
    } catch (const std::exception&) {
        return nullptr;  // a header missing (kelnom::ProtocolError) or not a number
    }
}

void bind_bytes(sqlite3_stmt* statement, int index, std::string_view bytes) {
    // An empty blob, not NULL: the columns are NOT NULL.
    sqlite3_bind_blob(statement, index, bytes.empty() ? "" : bytes.data(),
                      static_cast<int>(bytes.size()), SQLITE_STATIC);
}

[[noreturn]] void fail(sqlite3* database, const std::string& doing) {
    throw kelnou::GeneralException(doing + ": " + sqlite3_errmsg(database));
}

// Runs a statement that returns no rows, and makes it ready again.
void run(sqlite3* database, sqlite3_stmt* statement, const char* doing) {
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    if (result != SQLITE_DONE && result != SQLITE_ROW) fail(database, doing);
}

// "20261210T142501Z" from 64-bit milliseconds (no time_t: 32 bits on ARM).
std::string utc_stamp(WallTime when) {
    const std::int64_t millis = when.time_since_epoch().count();
    std::int64_t days = millis / 86400000;
    std::int64_t rest = millis % 86400000;
    if (rest < 0) {
        rest += 86400000;
        --days;
    }
    // Civil date from a day count (H. Hinnant's days_from_civil, inverted).
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    const std::int64_t seconds = rest / 1000;
    char text[128];
    std::snprintf(text, sizeof(text), "%04lld%02lld%02lldT%02lld%02lld%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

bool exists(const std::string& path) {
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0;
}

const char* const side_files[] = {"-wal", "-shm", "-journal"};

// Renames the file and its side files to a free "<path>.bad-<time>[-n]".
// The side files must not stay: SQLite would take an old WAL for the new file's.
bool move_aside(const std::string& path, std::string& moved_to, std::string& error) {
    const std::string base = path + ".bad-" + utc_stamp(wall_now());
    moved_to = base;
    for (int n = 2; exists(moved_to) || exists(moved_to + "-wal"); ++n) {
        moved_to = base + "-" + std::to_string(n);
    }
    if (std::rename(path.c_str(), moved_to.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    for (const char* side : side_files) {
        const std::string from = path + side;
        if (!exists(from)) continue;
        if (std::rename(from.c_str(), (moved_to + side).c_str()) != 0 &&
            std::remove(from.c_str()) != 0) {
            error = from + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

// Opening, one attempt at a time: each ends usable, damaged (to be moved
// aside) or unavailable (left alone).
struct DurableStoreOpening {
    enum class Verdict { Usable, Damaged, Unavailable };

    struct Refusal {
        Verdict verdict;
        std::string reason;
    };

    struct Attempt {
        std::unique_ptr<DurableStore> store;
        std::vector<DurableStore::Row> rows;
        std::uint64_t unreadable = 0;
        Verdict verdict = Verdict::Usable;
        std::string reason;
    };

    static Attempt attempt(const std::string& path) {
        Attempt result;
        struct stat status;
        bool existed = false;
        if (::stat(path.c_str(), &status) == 0) {
            existed = true;
            if (!S_ISREG(status.st_mode)) {
                result.verdict = Verdict::Damaged;
                result.reason =
                    S_ISDIR(status.st_mode) ? "a directory, not a file" : "not a regular file";
                return result;
            }
        } else if (errno != ENOENT) {
            result.verdict = Verdict::Unavailable;
            result.reason = std::strerror(errno);
            return result;
        }

        sqlite3* database = nullptr;
        const int opened = sqlite3_open_v2(
            path.c_str(), &database,
            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (opened != SQLITE_OK) {
            result.reason = database != nullptr ? sqlite3_errmsg(database) : sqlite3_errstr(opened);
            sqlite3_close(database);
            result.verdict = existed ? Verdict::Damaged : Verdict::Unavailable;
            return result;
        }
        result.store.reset(new DurableStore(path, database));
        try {
            prepare(*result.store, existed);
            load(*result.store, result);
        } catch (const Refusal& refusal) {
            result.store.reset();
            result.rows.clear();
            result.verdict = refusal.verdict;
            result.reason = refusal.reason;
        }
        return result;
    }

    // A failed SQLite step during opening. Locked means another process has
    // the file: never moved aside. Anything else damns a file that was there
    // before; a new one the daemon just failed to make is left alone.
    static Refusal refusal_for(sqlite3* database, bool existed) {
        const int code = sqlite3_errcode(database);
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
            return Refusal{Verdict::Unavailable, "in use by another process"};
        }
        return Refusal{existed ? Verdict::Damaged : Verdict::Unavailable, sqlite3_errmsg(database)};
    }

    [[noreturn]] static void refuse(sqlite3* database, bool existed) {
        throw refusal_for(database, existed);
    }

    static void exec(sqlite3* database, const char* sql, bool existed) {
        if (sqlite3_exec(database, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
            refuse(database, existed);
        }
    }

    // The first column of the first row of `sql` as text.
    static std::string single(sqlite3* database, const char* sql, bool existed) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) != SQLITE_OK) {
            refuse(database, existed);
        }
        const int result = sqlite3_step(statement);
        std::string text;
        if (result == SQLITE_ROW) {
            const auto* value = sqlite3_column_text(statement, 0);
            if (value != nullptr) text = reinterpret_cast<const char*>(value);
        }
        if (result != SQLITE_ROW && result != SQLITE_DONE) {
            // Taken before finalising, which may reset the connection's error.
            Refusal refusal = refusal_for(database, existed);
            sqlite3_finalize(statement);
            throw refusal;
        }
        sqlite3_finalize(statement);
        return text;
    }

    static void prepare(DurableStore& store, bool existed) {
        sqlite3* database = store.database;
        if (sqlite3_db_readonly(database, "main") == 1) {
            throw Refusal{existed ? Verdict::Damaged : Verdict::Unavailable, "cannot be written"};
        }
        // Held from the first read to the close: no other process shares it.
        exec(database, "PRAGMA locking_mode=EXCLUSIVE", existed);
        const std::string check = single(database, "PRAGMA quick_check", existed);
        if (check != "ok") {
            // One line, cut short: the check lists every damaged page.
            std::string line = check.substr(0, 200);
            std::replace(line.begin(), line.end(), '\n', ' ');
            throw Refusal{Verdict::Damaged, "integrity check: " + line};
        }
        if (single(database, "PRAGMA journal_mode=WAL", existed) != "wal") {
            throw Refusal{existed ? Verdict::Damaged : Verdict::Unavailable,
                          "cannot use a write-ahead log"};
        }
        exec(database,
             (std::string("PRAGMA synchronous=FULL; PRAGMA cell_size_check=ON; "
                          "PRAGMA journal_size_limit=") +
              wal_size_limit)
                 .c_str(),
             existed);

        const long long application =
            std::strtoll(single(database, "PRAGMA application_id", existed).c_str(), nullptr, 10);
        const long long version =
            std::strtoll(single(database, "PRAGMA user_version", existed).c_str(), nullptr, 10);
        if (version == 0) {
            const std::string tables =
                single(database, "SELECT count(*) FROM sqlite_master", existed);
            if (application != 0 || tables != "0") {
                throw Refusal{Verdict::Damaged, "not a Kelno store"};
            }
            const std::string schema =
                "BEGIN;"
                "CREATE TABLE kept_message(seq INTEGER PRIMARY KEY, arrival_ms INTEGER NOT NULL,"
                " headers BLOB NOT NULL, push_routes BLOB NOT NULL,"
                " payload_type BLOB NOT NULL, payload BLOB NOT NULL);"
                "PRAGMA application_id=" +
                std::to_string(kelno_application_id) +
                ";"
                "PRAGMA user_version=" +
                std::to_string(DurableStore::_schema_version) + ";COMMIT;";
            if (sqlite3_exec(database, schema.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
                Refusal refusal = refusal_for(database, existed);
                sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
                throw refusal;
            }
        } else if (application != kelno_application_id) {
            throw Refusal{Verdict::Damaged, "not a Kelno store"};
        } else if (version > DurableStore::_schema_version) {
            throw Refusal{Verdict::Damaged, "schema version " + std::to_string(version) +
                                                ", newer than this kelnod's " +
                                                std::to_string(DurableStore::_schema_version)};
        }
        // Version 1 is the only one so far; a later one migrates here.

        auto make = [&](const char* sql, sqlite3_stmt*& statement) {
            if (sqlite3_prepare_v3(database, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement,
                                   nullptr) != SQLITE_OK) {
                refuse(database, existed);
            }
        };
        make("BEGIN", store.begin_statement);
        make("COMMIT", store.commit_statement);
        make("ROLLBACK", store.rollback_statement);
        make(
            "INSERT INTO kept_message(seq, arrival_ms, headers, push_routes, payload_type, "
            "payload) VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
            store.insert_statement);
        make("DELETE FROM kept_message WHERE seq = ?1", store.remove_statement);
        make("SELECT seq FROM kept_message ORDER BY seq", store.sequences_statement);
    }

    static void load(DurableStore& store, Attempt& result) {
        sqlite3* database = store.database;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(database,
                               "SELECT seq, arrival_ms, headers, push_routes, payload_type, "
                               "payload FROM kept_message ORDER BY seq",
                               -1, &statement, nullptr) != SQLITE_OK) {
            refuse(database, true);
        }
        std::vector<std::uint64_t> unreadable;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            const sqlite3_int64 sequence = sqlite3_column_int64(statement, 0);
            auto message = sequence > 0 ? decode_message(statement) : nullptr;
            if (message == nullptr) {
                unreadable.push_back(static_cast<std::uint64_t>(sequence));
                continue;
            }
            result.rows.push_back(
                DurableStore::Row{static_cast<std::uint64_t>(sequence),
                                  WallTime(WallTime::duration(sqlite3_column_int64(statement, 1))),
                                  std::move(message)});
        }
        sqlite3_finalize(statement);
        if (step != SQLITE_DONE) refuse(database, true);

        result.unreadable = unreadable.size();
        if (unreadable.empty()) return;
        try {
            store.begin();
            for (const auto sequence : unreadable) store.remove(sequence);
            store.commit();
        } catch (const kelnou::Exception&) {
            store.rollback();
            refuse(database, true);
        }
    }
};

DurableStore::Opened DurableStore::open(const std::string& path) {
    Opened opened;
    auto attempt = DurableStoreOpening::attempt(path);
    if (attempt.verdict == DurableStoreOpening::Verdict::Damaged) {
        std::string moved_to;
        std::string error;
        if (!move_aside(path, moved_to, error)) {
            opened.problems.push_back("store " + path + ": cannot be used (" + attempt.reason +
                                      ") nor moved aside (" + error +
                                      "); the node keeps its messages in memory only");
            return opened;
        }
        opened.problems.push_back("store " + path + ": cannot be used (" + attempt.reason +
                                  "); moved aside to " + moved_to +
                                  ", starting with an empty store");
        attempt = DurableStoreOpening::attempt(path);
    }
    if (attempt.verdict != DurableStoreOpening::Verdict::Usable) {
        opened.problems.push_back("store " + path + ": cannot be opened (" + attempt.reason +
                                  "); the node keeps its messages in memory only");
        return opened;
    }
    if (attempt.unreadable != 0) {
        opened.problems.push_back("store " + path + ": " + std::to_string(attempt.unreadable) +
                                  " unreadable messages removed");
    }
    opened.store = std::move(attempt.store);
    opened.rows = std::move(attempt.rows);
    return opened;
}

DurableStore::DurableStore(std::string path, sqlite3* database)
    : file_path(std::move(path)), database(database) {}

DurableStore::~DurableStore() {
    for (sqlite3_stmt* statement : {begin_statement, commit_statement, rollback_statement,
                                    insert_statement, remove_statement, sequences_statement}) {
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(database);
}

void DurableStore::begin() { run(database, begin_statement, "begin"); }

void DurableStore::insert(const KeptEntry& entry) {
    const kelnom::Message& message = *entry.message;
    const std::string headers = encode_headers(message);
    const std::string routes = encode_list(message.pushRoutes());
    const auto& payload = message.payload();
    sqlite3_bind_int64(insert_statement, 1, static_cast<sqlite3_int64>(entry.sequence));
    sqlite3_bind_int64(insert_statement, 2, entry.arrival.time_since_epoch().count());
    bind_bytes(insert_statement, 3, headers);
    bind_bytes(insert_statement, 4, routes);
    bind_bytes(insert_statement, 5, payload.type());
    bind_bytes(insert_statement, 6, std::string_view(payload.getBuffer(), payload.size()));
    run(database, insert_statement, "insert");
}

void DurableStore::remove(std::uint64_t sequence) {
    sqlite3_bind_int64(remove_statement, 1, static_cast<sqlite3_int64>(sequence));
    run(database, remove_statement, "delete");
}

void DurableStore::commit() { run(database, commit_statement, "commit"); }

void DurableStore::rollback() noexcept {
    // Some errors (a full disk among them) end the transaction by themselves.
    if (sqlite3_get_autocommit(database) == 0) {
        sqlite3_step(rollback_statement);
        sqlite3_reset(rollback_statement);
    }
}

std::vector<std::uint64_t> DurableStore::sequences() {
    std::vector<std::uint64_t> found;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(sequences_statement)) == SQLITE_ROW) {
        found.push_back(static_cast<std::uint64_t>(sqlite3_column_int64(sequences_statement, 0)));
    }
    sqlite3_reset(sequences_statement);
    if (step != SQLITE_DONE) fail(database, "read");
    return found;
}

std::uint64_t DurableStore::diskBytes() const {
    std::uint64_t total = 0;
    for (const std::string& file : {file_path, file_path + "-wal"}) {
        struct stat status;
        if (::stat(file.c_str(), &status) == 0) total += static_cast<std::uint64_t>(status.st_size);
    }
    return total;
}

void DurableStore::limitPages(std::uint32_t pages) {
    const std::string sql = "PRAGMA max_page_count=" + std::to_string(pages);
    sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr);
}

}  // namespace kelnod
