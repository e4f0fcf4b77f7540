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

#include "StoredMessageCodec.hpp"

namespace kelnod {

namespace {

constexpr int kelno_application_id = 0x4B454C4E;  // "KELN"

// A WAL left at its largest after a burst is cut back to this at a checkpoint.
constexpr const char* wal_size_limit = "4194304";

std::string_view column_bytes(sqlite3_stmt* statement, int column) {
    const void* bytes = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    if (bytes == nullptr || size <= 0) return {};
    return {static_cast<const char*>(bytes), static_cast<std::size_t>(size)};
}

// Null when the row's columns from `first` on do not make a message again.
std::shared_ptr<kelnom::Message> decode_row(sqlite3_stmt* row, int first, bool needs_route) {
    return decode_stored_message(column_bytes(row, first), column_bytes(row, first + 1),
                                 column_bytes(row, first + 2), column_bytes(row, first + 3),
                                 needs_route);
}

void bind_bytes(sqlite3_stmt* statement, int index, std::string_view bytes) {
    // An empty blob, not NULL: the columns are NOT NULL.
    sqlite3_bind_blob(statement, index, bytes.empty() ? "" : bytes.data(),
                      static_cast<int>(bytes.size()), SQLITE_STATIC);
}

// Binds the message's four columns from `first` on. The encoded columns are
// copied into the statement: they go out of scope before it runs.
void bind_message(sqlite3_stmt* statement, int first, const kelnom::Message& message) {
    const StoredMessage stored = encode_stored_message(message);
    const auto& payload = message.payload();
    for (const auto& [index, bytes] :
         {std::pair<int, const std::string*>{first, &stored.headers},
          std::pair<int, const std::string*>{first + 1, &stored.push_routes}}) {
        sqlite3_bind_blob(statement, index, bytes->empty() ? "" : bytes->data(),
                          static_cast<int>(bytes->size()), SQLITE_TRANSIENT);
    }
    bind_bytes(statement, first + 2, payload.type());
    bind_bytes(statement, first + 3, std::string_view(payload.getBuffer(), payload.size()));
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
        DurableStore::ChainRows chain;
        std::uint64_t unreadable = 0;
        Verdict verdict = Verdict::Usable;
        std::string reason;
    };

    static Attempt attempt(const std::string& path, bool chain_tables) {
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
            const bool has_chain_tables = prepare(*result.store, existed, chain_tables);
            load(*result.store, result);
            if (has_chain_tables) load_chain(*result.store, result);
        } catch (const Refusal& refusal) {
            result.store.reset();
            result.rows.clear();
            result.chain = {};
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

    // Creates the chain's tables (a version 2 file) in one transaction.
    static void add_chain_tables(sqlite3* database, bool existed) {
        const std::string columns =
            "(seq INTEGER PRIMARY KEY, headers BLOB NOT NULL, push_routes BLOB NOT NULL,"
            " payload_type BLOB NOT NULL, payload BLOB NOT NULL);";
        const std::string sql =
            "BEGIN;"
            "CREATE TABLE IF NOT EXISTS outbox" +
            columns + "CREATE TABLE IF NOT EXISTS unpublished" + columns +
            "CREATE TABLE IF NOT EXISTS accepted_id(seq INTEGER PRIMARY KEY, id BLOB NOT NULL);"
            "PRAGMA user_version=2;COMMIT;";
        if (sqlite3_exec(database, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            Refusal refusal = refusal_for(database, existed);
            sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
            throw refusal;
        }
    }

    // True when the file has the chain's tables, as `chain_tables` asks or
    // as an earlier run with them left it.
    static bool prepare(DurableStore& store, bool existed, bool chain_tables) {
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
                "PRAGMA user_version=1;COMMIT;";
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
        const bool has_chain_tables = chain_tables || version == 2;
        if (chain_tables && version < 2) add_chain_tables(database, existed);

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
        if (!has_chain_tables) return false;
        make("INSERT INTO outbox(seq, headers, push_routes, payload_type, payload) "
             "VALUES(?1, ?2, ?3, ?4, ?5)",
             store.outbox_insert);
        make("DELETE FROM outbox WHERE seq = ?1", store.outbox_remove);
        make("INSERT INTO unpublished(seq, headers, push_routes, payload_type, payload) "
             "VALUES(?1, ?2, ?3, ?4, ?5)",
             store.unpublished_insert);
        make("DELETE FROM unpublished WHERE seq = ?1", store.unpublished_remove);
        make("INSERT INTO accepted_id(seq, id) VALUES(?1, ?2)", store.accepted_insert);
        make("DELETE FROM accepted_id WHERE seq <= ?1", store.accepted_forget);
        return true;
    }

    // Reads a chain table of messages; rows that do not decode are deleted
    // and counted as unreadable.
    static std::vector<DurableStore::ChainMessage> load_messages(DurableStore& store,
                                                                 const std::string& table,
                                                                 Attempt& result) {
        sqlite3* database = store.database;
        sqlite3_stmt* statement = nullptr;
        const std::string select =
            "SELECT seq, headers, push_routes, payload_type, payload FROM " + table +
            " ORDER BY seq";
        if (sqlite3_prepare_v2(database, select.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            refuse(database, true);
        }
        std::vector<DurableStore::ChainMessage> messages;
        std::vector<sqlite3_int64> unreadable;
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            const sqlite3_int64 sequence = sqlite3_column_int64(statement, 0);
            auto message = sequence > 0 ? decode_row(statement, 1, false) : nullptr;
            if (message == nullptr) {
                unreadable.push_back(sequence);
                continue;
            }
            messages.push_back({static_cast<std::uint64_t>(sequence), std::move(message)});
        }
        sqlite3_finalize(statement);
        if (step != SQLITE_DONE) refuse(database, true);
        for (const auto sequence : unreadable) {
            const std::string sql =
                "DELETE FROM " + table + " WHERE seq = " + std::to_string(sequence);
            exec(database, sql.c_str(), true);
        }
        result.unreadable += unreadable.size();
        return messages;
    }

    static void load_chain(DurableStore& store, Attempt& result) {
        result.chain.outbox = load_messages(store, "outbox", result);
        result.chain.unpublished = load_messages(store, "unpublished", result);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(store.database, "SELECT seq, id FROM accepted_id ORDER BY seq", -1,
                               &statement, nullptr) != SQLITE_OK) {
            refuse(store.database, true);
        }
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            result.chain.accepted_ids.emplace_back(
                static_cast<std::uint64_t>(sqlite3_column_int64(statement, 0)),
                std::string(column_bytes(statement, 1)));
        }
        sqlite3_finalize(statement);
        if (step != SQLITE_DONE) refuse(store.database, true);
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
            auto message = sequence > 0 ? decode_row(statement, 2, true) : nullptr;
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

DurableStore::Opened DurableStore::open(const std::string& path, bool chain_tables) {
    Opened opened;
    auto attempt = DurableStoreOpening::attempt(path, chain_tables);
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
        attempt = DurableStoreOpening::attempt(path, chain_tables);
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
    opened.chain = std::move(attempt.chain);
    return opened;
}

DurableStore::DurableStore(std::string path, sqlite3* database)
    : file_path(std::move(path)), database(database) {}

DurableStore::~DurableStore() {
    for (sqlite3_stmt* statement :
         {begin_statement, commit_statement, rollback_statement, insert_statement,
          remove_statement, sequences_statement, outbox_insert, outbox_remove, unpublished_insert,
          unpublished_remove, accepted_insert, accepted_forget}) {
        sqlite3_finalize(statement);
    }
    sqlite3_close_v2(database);
}

void DurableStore::begin() { run(database, begin_statement, "begin"); }

void DurableStore::insert(const KeptEntry& entry) {
    const kelnom::Message& message = *entry.message;
    sqlite3_bind_int64(insert_statement, 1, static_cast<sqlite3_int64>(entry.sequence));
    sqlite3_bind_int64(insert_statement, 2, entry.arrival.time_since_epoch().count());
    bind_message(insert_statement, 3, message);
    run(database, insert_statement, "insert");
}

void DurableStore::remove(std::uint64_t sequence) {
    sqlite3_bind_int64(remove_statement, 1, static_cast<sqlite3_int64>(sequence));
    run(database, remove_statement, "delete");
}

void DurableStore::insertChainMessage(ChainTable table, std::uint64_t sequence,
                                      const kelnom::Message& message) {
    sqlite3_stmt* statement = table == ChainTable::outbox ? outbox_insert : unpublished_insert;
    sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(sequence));
    bind_message(statement, 2, message);
    run(database, statement, "insert");
}

void DurableStore::removeChainMessage(ChainTable table, std::uint64_t sequence) {
    sqlite3_stmt* statement = table == ChainTable::outbox ? outbox_remove : unpublished_remove;
    sqlite3_bind_int64(statement, 1, static_cast<sqlite3_int64>(sequence));
    run(database, statement, "delete");
}

void DurableStore::insertAcceptedId(std::uint64_t sequence, const std::string& id) {
    sqlite3_bind_int64(accepted_insert, 1, static_cast<sqlite3_int64>(sequence));
    bind_bytes(accepted_insert, 2, id);
    run(database, accepted_insert, "insert");
}

void DurableStore::forgetAcceptedIds(std::uint64_t up_to_sequence) {
    sqlite3_bind_int64(accepted_forget, 1, static_cast<sqlite3_int64>(up_to_sequence));
    run(database, accepted_forget, "delete");
}

void DurableStore::clearChainTables() {
    if (sqlite3_exec(database, "DELETE FROM outbox; DELETE FROM unpublished; DELETE FROM accepted_id",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
        fail(database, "delete");
    }
}

void DurableStore::commit() { run(database, commit_statement, "commit"); }

void DurableStore::setFlushed(bool flushed) {
    sqlite3_exec(database, flushed ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF", nullptr,
                 nullptr, nullptr);
}

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
