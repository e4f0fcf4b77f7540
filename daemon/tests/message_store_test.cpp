// The daemon's message store: what an acknowledgement removes, and that the
// id index behind it stays in step with what is kept.
#include "MessageStore.hpp"

#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace kelnod {
namespace {

// A message kept under `route` with id `id`; its application id serves as a
// tag that tells copies with the same id apart.
std::shared_ptr<kelnom::Message> message(const std::string& route, const std::string& id,
                                         const std::string& tag) {
    kelnom::HeaderMap headers = {
        {"ack_mode", "1"}, {"app_id", tag}, {"id", id}, {"origin", ","}, {"valid_for", "30"}};
    std::vector<std::string> routes;
    if (!route.empty()) routes.push_back(route);
    return std::make_shared<kelnom::Message>(kelnom::Payload(0, "text"), std::move(routes),
                                             headers);
}

// One step of a case and what it must observe.
struct Step {
    enum class Kind { Keep, Ack, First, Entry };
    Kind kind;
    std::string route;
    std::string id;
    std::string tag;  // Keep: the tag; First: the expected tag, empty for none
    bool flag;        // Ack: found; Entry: the route has an entry
};

Step keep(std::string route, std::string id, std::string tag) {
    return {Step::Kind::Keep, std::move(route), std::move(id), std::move(tag), false};
}
Step ack(std::string id, bool found) { return {Step::Kind::Ack, "", std::move(id), "", found}; }
Step first(std::string route, std::string tag) {
    return {Step::Kind::First, std::move(route), "", std::move(tag), false};
}
Step entry(std::string route, bool present) {
    return {Step::Kind::Entry, std::move(route), "", "", present};
}

std::string tag_of(const std::shared_ptr<kelnom::Message>& kept) {
    return kept ? kept->appId() : "";
}

struct StoreCase {
    const char* name;
    std::vector<Step> steps;
};

void PrintTo(const StoreCase& c, std::ostream* out) { *out << c.name; }

class MessageStoreSteps : public testing::TestWithParam<StoreCase> {};

TEST_P(MessageStoreSteps, ObservesEachStep) {
    MessageStore store;
    const auto& steps = GetParam().steps;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const Step& step = steps[i];
        switch (step.kind) {
            case Step::Kind::Keep:
                store.keep(message(step.route, step.id, step.tag));
                break;
            case Step::Kind::Ack:
                EXPECT_EQ(store.removeAcknowledged(step.id), step.flag) << step.id;
                break;
            case Step::Kind::First:
                EXPECT_EQ(tag_of(store.firstFor(step.route)), step.tag) << step.route;
                break;
            case Step::Kind::Entry:
                EXPECT_EQ(store.hasEntryFor(step.route), step.flag) << step.route;
                break;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageStoreSteps,
    testing::Values(
        // Store order, not arrival order: route names ascending.
        StoreCase{"SameIdUnderTwoRoutesGoesInRouteOrder",
                  {keep("routeB", "x", "b"), keep("routeA", "x", "a"), ack("x", true),
                   first("routeA", ""), first("routeB", "b"), ack("x", true), first("routeB", ""),
                   ack("x", false)}},
        StoreCase{"ReplacingUnderTheSameIdKeepsOneEntry",
                  {keep("r", "x", "old"), keep("r", "x", "new"), first("r", "new"), ack("x", true),
                   first("r", ""), ack("x", false)}},
        StoreCase{"UnknownIdChangesNothing",
                  {keep("r", "x", "a"), ack("y", false), ack("", false), ack("x-", false),
                   first("r", "a"), ack("x", true)}},
        StoreCase{"OnlyTheAcknowledgedIdGoes",
                  {keep("r", "x", "x"), keep("r", "y", "y"), keep("s", "y", "s"), ack("x", true),
                   first("r", "y"), first("s", "s"), ack("x", false)}},
        StoreCase{"EmptiedAndPolledNamesKeepTheirEntry",
                  {keep("r", "x", "a"), ack("x", true), entry("r", true), first("r", ""),
                   entry("polled", false), first("polled", ""), entry("polled", true)}},
        StoreCase{"IndexForgetsEveryRemovedCopy",
                  {keep("a", "x", "a"), keep("b", "x", "b"), keep("c", "x", "c"), ack("x", true),
                   ack("x", true), ack("x", true), ack("x", false), first("a", ""), first("b", ""),
                   first("c", "")}},
        StoreCase{"AnIdKeptAgainAfterRemovalIsFoundAgain",
                  {keep("r", "x", "one"), ack("x", true), keep("r", "x", "two"), first("r", "two"),
                   ack("x", true), ack("x", false)}},
        StoreCase{"MessageWithoutPushRoutesIsNotKept",
                  {keep("", "x", "a"), ack("x", false), entry("", false)}},
        // Ids are compared by their first eight bytes before the rest: the
        // order must still be plain byte order, past eight bytes, for a
        // shorter id, with zero bytes and with bytes above 0x7f.
        StoreCase{
            "LongIdsGoInByteOrder",
            {keep("r", "\xff-high", "high"), keep("r", "prefix00-b", "b"),
             keep("r", std::string("prefix00\0", 9), "zero"), keep("r", "prefix00-a", "a"),
             keep("r", "prefix00", "short"), first("r", "short"), ack("prefix00", true),
             first("r", "zero"), ack(std::string("prefix00\0", 9), true), first("r", "a"),
             ack("prefix00-a", true), first("r", "b"), ack("prefix00-b", true), first("r", "high"),
             ack("prefix00-b", false), ack("\xff-high", true), first("r", "")}}),
    [](const testing::TestParamInfo<StoreCase>& info) { return std::string(info.param.name); });

// The rule stated plainly: walk routes ascending, ids ascending, and remove
// the first message whose id matches. Random steps on a few names and ids
// must leave the store and this model in the same state after every step.
TEST(MessageStore, AgreesWithAWalkInStoreOrderOverRandomSteps) {
    using Model = std::map<std::string, std::map<std::string, std::string>>;
    const std::vector<std::string> routes = {"a", "b", "c"};
    const std::vector<std::string> ids = {"1", "2", "3", "4"};
    std::mt19937 random(20261210);
    auto pick = [&](const std::vector<std::string>& names) {
        return names[std::uniform_int_distribution<std::size_t>(0, names.size() - 1)(random)];
    };

    MessageStore store;
    Model model;
    for (int i = 0; i < 5000; ++i) {
        SCOPED_TRACE("step " + std::to_string(i));
        const std::string route = pick(routes);
        const std::string id = pick(ids);
        if (random() % 2 == 0) {
            const std::string tag = "t" + std::to_string(i);
            store.keep(message(route, id, tag));
            model[route][id] = tag;
        } else {
            bool model_found = false;
            for (auto& [name, kept] : model) {
                if (kept.erase(id) != 0) {
                    model_found = true;
                    break;
                }
            }
            ASSERT_EQ(store.removeAcknowledged(id), model_found) << id;
        }
        for (const auto& name : routes) {
            const auto& kept = model[name];
            ASSERT_EQ(tag_of(store.firstFor(name)), kept.empty() ? "" : kept.begin()->second)
                << name;
        }
    }
}

}  // namespace
}  // namespace kelnod
