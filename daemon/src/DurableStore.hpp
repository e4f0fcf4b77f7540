#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "MessageStore.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace kelnod {

// The store file: one SQLite row per kept message, so that what was kept for
// inbox polls survives a stop, a crash or a power cut. WAL journal with
// synchronous=FULL (a commit that returned is on the disk), the file locked
// for this process alone (a second daemon on the same file leaves it alone).
// The rows mirror the memory store; the memory store stays the truth (see
// KeptMessages, which decides what is written when).
//
// Schema version 1 (PRAGMA user_version; application_id "KELN"):
//   kept_message(seq INTEGER PRIMARY KEY,  -- the entry's sequence (arrival order)
//                arrival_ms INTEGER,       -- wall clock, ms since the epoch
//                headers BLOB,             -- the message's protocol headers but p_size/p_type
//                push_routes BLOB,
//                payload_type BLOB, payload BLOB)
// (columns as StoredMessageCodec writes them). Version 2 adds the reliable
// chain's tables, made only for a node with kelno.chain.reliable (a file of a
// node without it stays at version 1, so an older kelnod still reads it):
//   outbox(seq INTEGER PRIMARY KEY,        -- order first passed up
//          headers, push_routes, payload_type, payload)
//   unpublished(seq INTEGER PRIMARY KEY,   -- accepted, publication not yet sent
//               headers, push_routes, payload_type, payload)
//   accepted_id(seq INTEGER PRIMARY KEY, id BLOB)  -- the window of accepted ids
class DurableStore {
public:
    static constexpr int _schema_version = 2;

    // One message read back from the file.
    struct Row {
        std::uint64_t sequence;
        WallTime arrival;
        std::shared_ptr<kelnom::Message> message;
    };

    // A message of the outbox or of the unpublished table.
    struct ChainMessage {
        std::uint64_t sequence;
        std::shared_ptr<kelnom::Message> message;
    };
    // What the reliable chain's tables held, each by sequence.
    struct ChainRows {
        std::vector<ChainMessage> outbox;
        std::vector<ChainMessage> unpublished;
        std::vector<std::pair<std::uint64_t, std::string>> accepted_ids;
    };
    // The tables of messages the chain keeps besides the kept ones.
    enum class ChainTable { outbox, unpublished };

    // What opening at start gave. Never an exception: a node does not refuse
    // to start because of its store.
    struct Opened {
        std::unique_ptr<DurableStore> store;  // null: no file can be used now
        std::vector<Row> rows;                // what the file kept, by sequence
        ChainRows chain;                      // empty without chain tables
        std::vector<std::string> problems;    // lines for standard error, in order
    };

    // Opens (or creates) the file at `path`, checks it (quick_check, schema)
    // and reads it. A file that exists but cannot be opened, fails the check,
    // is not a Kelno store or is of a newer schema, and anything else at the
    // path (a directory), is renamed to "<path>.bad-<UTC time>" (with its
    // -wal/-shm files) and a new file is made. A file in use by another
    // process, or a path where no file can be made (no such directory, no
    // right to write), gives no store. Rows that do not decode are deleted
    // and counted in `problems`.
    // With `chain_tables`, a file of version 1 gets the chain's tables (and
    // version 2) and their rows are read; without, they are left alone.
    static Opened open(const std::string& path, bool chain_tables = false);

    ~DurableStore();
    DurableStore(const DurableStore&) = delete;
    DurableStore& operator=(const DurableStore&) = delete;

    // One transaction of inserts and removals. Each throws a
    // kelnou::GeneralException with SQLite's text on failure; then rollback()
    // leaves the file as the last commit did.
    void begin();
    void insert(const KeptEntry& entry);
    void remove(std::uint64_t sequence);
    // The chain's tables; only on a file opened with chain tables.
    void insertChainMessage(ChainTable table, std::uint64_t sequence,
                            const kelnom::Message& message);
    void removeChainMessage(ChainTable table, std::uint64_t sequence);
    void insertAcceptedId(std::uint64_t sequence, const std::string& id);
    // Forgets the accepted ids up to `sequence`, that one included.
    void forgetAcceptedIds(std::uint64_t up_to_sequence);
    // Empties a chain table, to write it again in full.
    void clearChainTables();
    void commit();
    // Whether a commit waits for the disk (synchronous=FULL, the default) or
    // only hands the write to the kernel (synchronous=OFF).
    void setFlushed(bool flushed);
    void rollback() noexcept;

    // The sequences of the rows in the file, ascending. Throws as above.
    std::vector<std::uint64_t> sequences();

    const std::string& path() const { return file_path; }
    // Bytes of the file and its WAL on disk now.
    std::uint64_t diskBytes() const;
    // Testing aid: the database may grow to `pages` pages at most, so that a
    // write fails with SQLITE_FULL as on a full disk.
    void limitPages(std::uint32_t pages);

private:
    DurableStore(std::string path, sqlite3* database);
    friend struct DurableStoreOpening;

    std::string file_path;
    sqlite3* database;
    sqlite3_stmt* begin_statement = nullptr;
    sqlite3_stmt* commit_statement = nullptr;
    sqlite3_stmt* rollback_statement = nullptr;
    sqlite3_stmt* insert_statement = nullptr;
    sqlite3_stmt* remove_statement = nullptr;
    sqlite3_stmt* sequences_statement = nullptr;
    sqlite3_stmt* outbox_insert = nullptr;
    sqlite3_stmt* outbox_remove = nullptr;
    sqlite3_stmt* unpublished_insert = nullptr;
    sqlite3_stmt* unpublished_remove = nullptr;
    sqlite3_stmt* accepted_insert = nullptr;
    sqlite3_stmt* accepted_forget = nullptr;
};

}  // namespace kelnod
