// The store file behind KeptMessages: reload as sent, load order, expiry and
// bounds across a restart, damaged files moved aside, a file in use left
// alone, and a failed commit followed by recovery.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KeptMessages.hpp"

namespace kelnod {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kelno_store_XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    // Names in the directory that begin with `prefix`.
    std::vector<std::string> entries(const std::string& prefix) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            if (name.compare(0, prefix.size(), prefix) == 0) names.push_back(name);
        }
        return names;
    }

private:
    std::string dir;
};

WallTime at(std::int64_t seconds) { return WallTime(std::chrono::seconds(seconds)); }

std::shared_ptr<kelnom::Message> message(std::vector<std::string> routes, const std::string& id,
                                         const std::string& payload, std::int64_t validity = 0,
                                         const std::string& type = "text") {
    kelnom::HeaderMap headers = {{"ack_mode", "1"},
                                 {"app_id", "app"},
                                 {"id", id},
                                 {"origin", ","},
                                 {"valid_for", std::to_string(validity)}};
    kelnom::Payload bytes(static_cast<std::uint32_t>(payload.size()), type);
    if (!payload.empty()) std::memcpy(bytes.getBuffer(), payload.data(), payload.size());
    return std::make_shared<kelnom::Message>(std::move(bytes), std::move(routes), headers);
}

// What a message looks like on the wire: headers, routes, payload.
std::string wire_image(const kelnom::Message& m) {
    std::string image;
    for (const auto& [key, value] : m.create_protocol_headers()) image += key + "=" + value + ";";
    for (const auto& route : m.pushRoutes()) image += "route=" + route + ";";
    image += "payload=" + std::string(m.payload().getBuffer(), m.payload().size());
    return image;
}

// A KeptMessages with a made-up clock and captured output.
struct Node {
    explicit Node(const std::string& path, StoreLimits limits = {}, WallTime start = at(1000))
        : now(std::make_shared<WallTime>(start)),
          status(std::make_shared<std::vector<std::string>>()),
          errors(std::make_shared<std::vector<std::string>>()),
          kept(StoreSettings{path, limits},
               [s = status](const std::string& line) { s->push_back(line); },
               [e = errors](const std::string& line) { e->push_back(line); },
               [n = now] { return *n; }) {}

    std::string errorText() const {
        std::string text;
        for (const auto& line : *errors) text += line + "\n";
        return text;
    }

    std::shared_ptr<WallTime> now;
    std::shared_ptr<std::vector<std::string>> status;
    std::shared_ptr<std::vector<std::string>> errors;
    KeptMessages kept;
};

// Serves and acknowledges everything under `route`, smallest id first.
std::vector<std::string> drain(KeptMessages& kept, const std::string& route) {
    std::vector<std::string> ids;
    while (auto first = kept.firstFor(route)) {
        ids.push_back(first->msgId());
        kept.removeAcknowledged(first->msgId());
    }
    return ids;
}

TEST(DurableStore, AReloadedMessageIsSentExactlyAsBefore) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    std::vector<std::shared_ptr<kelnom::Message>> sent = {
        message({"b", "c"}, "id-1", std::string("\0\xff\x01 bytes", 9), 20, "bin"),
        message({"a"}, "id-2", "", -3, ""),
        message({"a"}, std::string("id-\0-3", 6), "json {}", 76, "JSON"),
    };
    {
        Node node(path);
        node.kept.beginBatch();
        for (const auto& m : sent) {
            node.kept.keep(m);
            // As the channeler does after keeping: this node's name, once per forwarder.
            m->appendOriginNode("here");
            m->appendOriginNode("again");
        }
        EXPECT_TRUE(node.kept.commitBatch());
        EXPECT_EQ(node.errorText(), "");
    }
    Node reloaded(path);
    EXPECT_EQ(reloaded.errorText(), "");
    EXPECT_EQ(reloaded.kept.size(), 3u);
    EXPECT_EQ(reloaded.kept.startupLine(), "Store: " + path + ", 3 messages loaded");
    const auto first_b = reloaded.kept.firstFor("b");
    ASSERT_TRUE(first_b);
    EXPECT_EQ(wire_image(*first_b), wire_image(*sent[0]));
    EXPECT_NE(wire_image(*first_b).find("origin=here,again,;"), std::string::npos);
    const auto first_a = reloaded.kept.firstFor("a");
    ASSERT_TRUE(first_a);
    EXPECT_EQ(wire_image(*first_a), wire_image(*sent[2]));  // "id-\0-3" < "id-2"
    reloaded.kept.removeAcknowledged(first_a->msgId());
    EXPECT_EQ(wire_image(*reloaded.kept.firstFor("a")), wire_image(*sent[1]));
}

// Polls see after a restart what they saw before: smallest id first per route.
TEST(DurableStore, LoadOrderIsTheSmallestIdFirstPerRoute) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    std::vector<std::string> ids;
    for (int i = 0; i < 90; ++i) ids.push_back(std::to_string(1000 + i * 7919 % 997));
    std::mt19937 random(7);
    std::shuffle(ids.begin(), ids.end(), random);
    std::map<std::string, std::vector<std::string>> expected;
    {
        Node node(path);
        for (std::size_t i = 0; i < ids.size(); ++i) {
            node.kept.beginBatch();
            const std::string route = i % 3 == 0 ? "x" : "y";
            node.kept.keep(message({route}, ids[i], "p"));
            expected[route].push_back(ids[i]);
            EXPECT_TRUE(node.kept.commitBatch());
        }
    }
    for (auto& [route, list] : expected) std::sort(list.begin(), list.end());
    Node reloaded(path);
    EXPECT_EQ(drain(reloaded.kept, "x"), expected["x"]);
    EXPECT_EQ(drain(reloaded.kept, "y"), expected["y"]);
    Node emptied(path);  // the acknowledgements outside a batch were committed too
    EXPECT_EQ(emptied.kept.size(), 0u);
}

TEST(DurableStore, AnAcknowledgementIsDurableAndAKeepAckedInOneBatchNeverWritten) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    {
        Node node(path);
        node.kept.beginBatch();
        node.kept.keep(message({"r"}, "a", "1"));
        node.kept.keep(message({"r"}, "b", "2"));
        node.kept.keep(message({"r"}, "c", "3"));
        node.kept.removeAcknowledged("c");
        EXPECT_TRUE(node.kept.commitBatch());
        EXPECT_EQ(node.kept.durableStore()->sequences(), (std::vector<std::uint64_t>{1, 2}));
        node.kept.beginBatch();
        node.kept.removeAcknowledged("a");
        EXPECT_TRUE(node.kept.commitBatch());
        node.kept.beginBatch();
        EXPECT_TRUE(node.kept.commitBatch());  // an empty batch
    }
    Node reloaded(path);
    EXPECT_EQ(drain(reloaded.kept, "r"), std::vector<std::string>{"b"});
}

// Expiry counts from this node's arrival, kept across restarts.
TEST(DurableStore, ExpiryCountsFromTheArrivalAcrossRestarts) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    const StoreLimits limits{0, 0, true};
    {
        Node node(path, limits, at(1000));
        node.kept.keep(message({"r"}, "short", "s", 10));
        node.kept.keep(message({"r"}, "long", "l", 100));
        node.kept.keep(message({"r"}, "forever", "f", 0));
    }
    {
        Node node(path, limits, at(1005));  // restarted before anything ran out
        EXPECT_EQ(node.kept.size(), 3u);
        *node.now = at(1009);
        EXPECT_EQ(node.kept.firstFor("r")->msgId(), "forever");
        node.kept.removeAcknowledged("forever");
        EXPECT_EQ(node.kept.firstFor("r")->msgId(), "long");
        node.kept.removeAcknowledged("long");
        EXPECT_EQ(node.kept.firstFor("r")->msgId(), "short");
        *node.now = at(1010);
        EXPECT_EQ(node.kept.firstFor("r"), nullptr);  // expired, not yet swept
    }
    {
        // The restart came after the validity ran out: never served, and gone from the file.
        Node node(path, limits, at(1010));
        EXPECT_EQ(node.kept.size(), 0u);
        EXPECT_EQ(node.kept.firstFor("r"), nullptr);
        EXPECT_EQ(node.kept.drops().expired, 1u);
        EXPECT_EQ(node.kept.startupLine(),
                  "Store: " + path +
                      ", 0 messages loaded (1 expired or over the bounds removed); expired "
                      "messages removed");
        EXPECT_EQ(node.kept.durableStore()->sequences(), std::vector<std::uint64_t>{});
    }
}

TEST(DurableStore, ExpiredMessagesAreSweptAndReportedAsACount) {
    TempDir dir;
    Node node(dir.path("store.db"), {0, 0, true}, at(0));
    for (int i = 0; i < 5; ++i) node.kept.keep(message({"r"}, "m" + std::to_string(i), "x", 10));
    *node.now = at(10);
    EXPECT_EQ(node.kept.expireDue(), 5u);
    EXPECT_EQ(*node.status, std::vector<std::string>{"store: 5 expired messages removed"});
    node.kept.keep(message({"r"}, "n", "x", 1));
    *node.now = at(11);
    EXPECT_EQ(node.kept.expireDue(), 1u);  // counted, reported later
    EXPECT_EQ(node.status->size(), 1u);
    *node.now = at(70);
    EXPECT_EQ(node.kept.expireDue(), 0u);
    EXPECT_EQ(node.status->back(), "store: 1 expired messages removed");
    EXPECT_EQ(node.kept.durableStore()->sequences(), std::vector<std::uint64_t>{});
}

TEST(DurableStore, ShrunkBoundsApplyAtLoad) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    {
        Node node(path);
        for (const char* id : {"d", "c", "b", "a"}) node.kept.keep(message({"r"}, id, "xx"));
    }
    {
        Node node(path, {2, 0, false});
        EXPECT_EQ(node.kept.size(), 2u);
        EXPECT_EQ(node.kept.drops().over_max_messages, 2u);
    }
    Node node(path);
    EXPECT_EQ(drain(node.kept, "r"), (std::vector<std::string>{"a", "b"}));  // the newest two
}

TEST(DurableStore, BoundDropsAreReportedOncePerEpisode) {
    TempDir dir;
    Node node(dir.path("store.db"), {2, 0, false});
    for (const char* id : {"a", "b", "c", "d", "e"}) node.kept.keep(message({"r"}, id, "x"));
    ASSERT_EQ(node.errors->size(), 1u);
    EXPECT_EQ(node.errors->at(0),
              "store full: the oldest kept messages go to make room for new ones (at most 2 "
              "messages); further drops are counted until a message is kept without one");
    node.kept.removeAcknowledged("e");
    node.kept.keep(message({"r"}, "f", "x"));
    ASSERT_EQ(node.errors->size(), 2u);
    EXPECT_EQ(node.errors->at(1),
              "store keeps messages without drops again, 3 messages dropped by its bounds");
    EXPECT_EQ(node.kept.drops().over_max_messages, 3u);
}

// Damaged files: the node starts with an empty store, says so, and the file
// is moved aside to a name that begins with the path and ".bad".
struct Damage {
    const char* name;
    void (*damage)(const std::string& path);
};

void PrintTo(const Damage& d, std::ostream* out) { *out << d.name; }

void overwrite(const std::string& path, long offset, const std::string& bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class DamagedStore : public testing::TestWithParam<Damage> {};

TEST_P(DamagedStore, IsMovedAsideAndTheNodeStartsEmpty) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    {
        Node node(path);
        node.kept.beginBatch();
        for (int i = 0; i < 50; ++i) {
            node.kept.keep(message({"r"}, "m" + std::to_string(i), std::string(1000, 'p')));
        }
        EXPECT_TRUE(node.kept.commitBatch());
    }
    ASSERT_TRUE(fs::is_regular_file(path));
    ASSERT_FALSE(fs::exists(path + "-wal"));  // checkpointed at the close
    GetParam().damage(path);

    {
        Node node(path);
        EXPECT_EQ(node.kept.size(), 0u);
        ASSERT_EQ(node.errors->size(), 1u) << node.errorText();
        const std::string& line = node.errors->at(0);
        EXPECT_EQ(line.rfind("store " + path + ": cannot be used (", 0), 0u) << line;
        EXPECT_NE(line.find("); moved aside to " + path + ".bad-"), std::string::npos) << line;
        EXPECT_NE(line.find(", starting with an empty store"), std::string::npos) << line;
        EXPECT_EQ(dir.entries("store.db.bad").size(), 1u);
        EXPECT_EQ(node.kept.startupLine(), "Store: " + path + ", 0 messages loaded");
        // The new file works.
        node.kept.keep(message({"r"}, "new", "n"));
        EXPECT_TRUE(node.kept.inStep());
    }
    Node again(path);
    EXPECT_EQ(again.errorText(), "");
    EXPECT_EQ(drain(again.kept, "r"), std::vector<std::string>{"new"});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedStore,
    testing::Values(
        Damage{"AFewBytesOverwrittenInAPageHeader",
               [](const std::string& path) { overwrite(path, 4096, "\x0d\xff\xff\xff\xff\xff"); }},
        Damage{"AFewBytesOverwrittenInTheFileHeader",
               [](const std::string& path) { overwrite(path, 0, "SQLite format 4"); }},
        Damage{"CutInTheMiddle",
               [](const std::string& path) { fs::resize_file(path, fs::file_size(path) / 2); }},
        Damage{"NotADatabaseAtAll",
               [](const std::string& path) {
                   std::ofstream(path, std::ios::trunc) << std::string(10000, 'x');
               }},
        Damage{"ADirectoryInItsPlace",
               [](const std::string& path) {
                   fs::remove(path);
                   fs::create_directory(path);
                   std::ofstream(path + "/inside") << "kept";
               }}),
    [](const testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

// Runs SQL on a file with a connection of its own.
void sql(const std::string& path, const std::string& text) {
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(database, text.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(database);
    sqlite3_close(database);
}

TEST(DurableStore, AnotherDatabaseOrANewerSchemaIsMovedAside) {
    for (const char* setup :
         {"CREATE TABLE other(x); INSERT INTO other VALUES(1);",
          "PRAGMA application_id=1262832718; PRAGMA user_version=3; CREATE TABLE later(x);"}) {
        SCOPED_TRACE(setup);
        TempDir dir;
        const std::string path = dir.path("store.db");
        sql(path, setup);
        Node node(path);
        ASSERT_EQ(node.errors->size(), 1u);
        EXPECT_NE(node.errors->at(0).find("moved aside to " + path + ".bad-"), std::string::npos)
            << node.errorText();
        EXPECT_TRUE(node.kept.inStep());
    }
}

TEST(DurableStore, RowsThatDoNotDecodeAreRemovedAndTheOthersLoaded) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    {
        Node node(path);
        node.kept.keep(message({"r"}, "good", "g"));
        node.kept.keep(message({"r"}, "bad", "b"));
    }
    sql(path, "UPDATE kept_message SET headers = x'ffffff7f00' WHERE seq = 2;");
    Node node(path);
    EXPECT_EQ(node.errorText(), "store " + path + ": 1 unreadable messages removed\n");
    EXPECT_EQ(drain(node.kept, "r"), std::vector<std::string>{"good"});
    EXPECT_EQ(node.kept.durableStore()->sequences(), std::vector<std::uint64_t>{});
}

// No file can be made there (as for a developer's `make run` without
// /var/lib/kelnod): reported, the node runs on memory, nothing is moved.
TEST(DurableStore, APathWhereNoFileCanBeMadeLeavesTheMemoryStore) {
    TempDir dir;
    const std::string path = dir.path("missing/store.db");
    Node node(path);
    ASSERT_EQ(node.errors->size(), 1u);
    EXPECT_EQ(node.errors->at(0), "store " + path +
                                      ": cannot be opened (unable to open database file); the "
                                      "node keeps its messages in memory only");
    EXPECT_EQ(node.kept.startupLine(), "Store: memory only (" + path + " cannot be used)");
    EXPECT_EQ(node.kept.durableStore(), nullptr);
    node.kept.beginBatch();
    node.kept.keep(message({"r"}, "a", "x"));
    EXPECT_FALSE(node.kept.commitBatch());
    EXPECT_EQ(drain(node.kept, "r"), std::vector<std::string>{"a"});
    EXPECT_EQ(dir.entries("missing").size(), 0u);
}

// A second daemon on the same file (a mistaken second start) never moves
// the first one's file aside.
TEST(DurableStore, AFileInUseIsLeftAlone) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    Node first(path);
    first.kept.keep(message({"r"}, "a", "x"));
    Node second(path);
    ASSERT_EQ(second.errors->size(), 1u);
    EXPECT_EQ(second.errors->at(0), "store " + path +
                                        ": cannot be opened (in use by another process); the "
                                        "node keeps its messages in memory only");
    EXPECT_EQ(dir.entries("store.db.bad").size(), 0u);
    first.kept.keep(message({"r"}, "b", "x"));
    EXPECT_TRUE(first.kept.inStep());
}

TEST(DurableStore, NoSettingsMeansTheMemoryStoreAndNoLines) {
    Node node("");
    EXPECT_EQ(node.kept.startupLine(), "");
    node.kept.beginBatch();
    node.kept.keep(message({"r"}, "a", "x"));
    EXPECT_FALSE(node.kept.commitBatch());
    EXPECT_EQ(drain(node.kept, "r"), std::vector<std::string>{"a"});
    EXPECT_TRUE(node.errors->empty());
    EXPECT_TRUE(node.status->empty());
    Node bounded("", {10, 100, true});
    EXPECT_EQ(bounded.kept.startupLine(),
              "Store: memory only; at most 10 messages, at most 100 payload bytes, expired "
              "messages removed");
}

// A full disk (the page limit): the write fails, is reported once, memory
// goes on; once writes can succeed, the next attempt brings the file in step.
TEST(DurableStore, AFailedCommitLeavesMemoryTheTruthUntilTheFileIsInStepAgain) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    {
        Node node(path, {}, at(100));
        node.kept.beginBatch();
        node.kept.keep(message({"r"}, "before", "b"));
        node.kept.keep(message({"r"}, "acked-later", "b"));
        EXPECT_TRUE(node.kept.commitBatch());
        node.kept.durableStore()->limitPages(1);  // no room to grow

        node.kept.beginBatch();
        node.kept.keep(message({"r"}, "big", std::string(200000, 'x')));
        EXPECT_FALSE(node.kept.commitBatch());
        ASSERT_EQ(node.errors->size(), 1u);
        EXPECT_EQ(node.errors->at(0).rfind("store " + path + ": write failed (While trying to "
                                           "write the kept messages to " + path + ". ", 0),
                  0u)
            << node.errorText();
        EXPECT_NE(node.errors->at(0).find("full"), std::string::npos) << node.errorText();
        EXPECT_FALSE(node.kept.inStep());

        // Memory goes on; nothing more is reported; no retry before the interval.
        node.kept.beginBatch();
        node.kept.keep(message({"r"}, "during", "d"));
        node.kept.removeAcknowledged("acked-later");
        EXPECT_FALSE(node.kept.commitBatch());
        node.kept.durableStore()->limitPages(1000000);  // room again
        *node.now = at(104);
        node.kept.beginBatch();
        EXPECT_FALSE(node.kept.commitBatch());
        EXPECT_EQ(node.errors->size(), 1u);

        *node.now = at(105);
        node.kept.beginBatch();
        node.kept.keep(message({"r"}, "after", "a"));
        EXPECT_TRUE(node.kept.commitBatch());
        EXPECT_TRUE(node.kept.inStep());
        ASSERT_EQ(node.errors->size(), 2u);
        EXPECT_EQ(node.errors->at(1),
                  "store " + path + ": written again, in step with memory (4 messages)");
        node.kept.beginBatch();
        node.kept.removeAcknowledged("before");
        EXPECT_TRUE(node.kept.commitBatch());
    }
    Node reloaded(path);
    EXPECT_EQ(reloaded.errorText(), "");
    EXPECT_EQ(drain(reloaded.kept, "r"), (std::vector<std::string>{"after", "big", "during"}));
}

}  // namespace
}  // namespace kelnod

namespace kelnod {
namespace {

int user_version(const std::string& path) {
    sqlite3* database = nullptr;
    sqlite3_open_v2(path.c_str(), &database, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(database, "PRAGMA user_version", -1, &statement, nullptr);
    const int version = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(database);
    return version;
}

// A file written without the reliable chain (version 1) gets the chain's
// tables when a reliable node opens it, keeping its messages; the outbox, the
// accepted ids and the unpublished messages then come back after a restart,
// and a node without the chain still reads the file's kept messages.
TEST(DurableStore, TheChainTablesJoinAVersionOneFileAndComeBack) {
    TempDir dir;
    const std::string path = dir.path("store.db");
    {
        Node plain(path);
        plain.kept.keep(message({"a"}, "kept-1", "x"));
    }
    EXPECT_EQ(user_version(path), 1);
    {
        StoreSettings settings{path, {}};
        settings.chain_tables = true;
        KeptMessages kept(settings, [](const std::string&) {}, [](const std::string&) {});
        EXPECT_EQ(kept.size(), 1u);
        DurableStore* file = kept.durableStore();
        ASSERT_TRUE(file);
        file->begin();
        file->insertChainMessage(DurableStore::ChainTable::outbox, 7, *message({}, "up-7", "u"));
        file->insertChainMessage(DurableStore::ChainTable::unpublished, 3,
                                 *message({"b"}, "pub-3", "p"));
        for (std::uint64_t sequence = 1; sequence <= 5; ++sequence) {
            file->insertAcceptedId(sequence, "id-" + std::to_string(sequence));
        }
        file->forgetAcceptedIds(2);
        file->commit();
    }
    EXPECT_EQ(user_version(path), 2);
    DurableStore::Opened opened = DurableStore::open(path, true);
    ASSERT_TRUE(opened.store);
    EXPECT_EQ(opened.rows.size(), 1u);
    ASSERT_EQ(opened.chain.outbox.size(), 1u);
    EXPECT_EQ(opened.chain.outbox[0].sequence, 7u);
    EXPECT_EQ(opened.chain.outbox[0].message->msgId(), "up-7");
    EXPECT_TRUE(opened.chain.outbox[0].message->pushRoutes().empty());
    ASSERT_EQ(opened.chain.unpublished.size(), 1u);
    EXPECT_EQ(opened.chain.unpublished[0].message->msgId(), "pub-3");
    const std::vector<std::pair<std::uint64_t, std::string>> window = {
        {3, "id-3"}, {4, "id-4"}, {5, "id-5"}};
    EXPECT_EQ(opened.chain.accepted_ids, window);
    opened.store.reset();
    Node plain_again(path);
    EXPECT_EQ(plain_again.errorText(), "");
    EXPECT_EQ(plain_again.kept.size(), 1u);
}

}  // namespace
}  // namespace kelnod
