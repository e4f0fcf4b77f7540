#include <kelnom/Payload.hpp>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

// Array new can be told to fail once, to see what a failed allocation leaves
// behind. Array delete is replaced with it so the pair stays matched.
namespace {
bool fail_next_array_new = false;
}  // namespace

void* operator new[](std::size_t size) {
    if (fail_next_array_new) {
        fail_next_array_new = false;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

using kelnom::Payload;

// A free callback that records every buffer it is called with and releases it
// with array delete, so the test can count calls and still not leak.
struct FreeLog {
    std::vector<char*> freed;

    Payload::FreeCallback callback() {
        return [this](char* buffer) {
            freed.push_back(buffer);
            delete[] buffer;
        };
    }
};

char* make_buffer(const std::string& bytes) {
    char* buffer = new char[bytes.size()];
    std::memcpy(buffer, bytes.data(), bytes.size());
    return buffer;
}

std::string bytes_of(const Payload& payload) {
    return std::string(payload.getBuffer(), payload.size());
}

bool uses_array_delete(const Payload& payload) {
    const auto callback = payload.getFreeCallback();
    const auto* target = callback.target<void (*)(char*)>();
    return target != nullptr && *target == &Payload::array_delete;
}

TEST(PayloadOwnership, CallbackRunsOnceWithTheBufferOnDestruction) {
    FreeLog log;
    char* buffer = make_buffer("abc");
    {
        Payload payload(buffer, 3, "text", log.callback());
        EXPECT_EQ(payload.getBuffer(), buffer);
        EXPECT_EQ(bytes_of(payload), "abc");
        EXPECT_EQ(payload.type(), "text");
        EXPECT_TRUE(log.freed.empty());
    }
    EXPECT_EQ(log.freed, std::vector<char*>{buffer});
}

TEST(PayloadOwnership, ReleaseHandsTheBufferOver) {
    FreeLog log;
    char* buffer = make_buffer("abc");
    Payload::FreeCallback saved;
    {
        Payload payload(buffer, 3, "text", log.callback());
        saved = payload.getFreeCallback();
        payload.release();
        EXPECT_FALSE(payload.getFreeCallback());
        EXPECT_EQ(payload.getBuffer(), buffer);
        EXPECT_EQ(payload.size(), 3u);
        EXPECT_EQ(payload.type(), "text");
    }
    EXPECT_TRUE(log.freed.empty()) << "a released payload must not free its buffer";
    saved(buffer);
    EXPECT_EQ(log.freed, std::vector<char*>{buffer});
}

TEST(PayloadOwnership, BuffersWithoutOwnerAreLeftAlone) {
    char on_stack[4] = "abc";
    { Payload not_owning(on_stack, 3, "text", nullptr); }  // would crash if released
    EXPECT_STREQ(on_stack, "abc");

    { Payload null_buffer(nullptr, 0, "text"); }  // array delete of null: no effect

    Payload empty(0, "none");
    EXPECT_NE(empty.getBuffer(), nullptr);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_TRUE(uses_array_delete(empty));
}

TEST(PayloadCopy, IsDeepAndAlwaysUsesArrayDelete) {
    // The source's bytes belong to a string; only its own callback may free them.
    auto* owner = new std::string("hello");
    int owner_frees = 0;
    {
        Payload source(owner->data(), 5, "text", [owner, &owner_frees](char*) {
            ++owner_frees;
            delete owner;
        });
        {
            Payload copy(source);
            EXPECT_NE(copy.getBuffer(), source.getBuffer());
            EXPECT_EQ(bytes_of(copy), "hello");
            EXPECT_EQ(copy.type(), "text");
            EXPECT_TRUE(uses_array_delete(copy));
        }
        EXPECT_EQ(owner_frees, 0);
        EXPECT_EQ(bytes_of(source), "hello");
    }
    EXPECT_EQ(owner_frees, 1);
}

TEST(PayloadMove, LeavesTheSourceOwningNothing) {
    FreeLog log;
    char* buffer = make_buffer("abc");
    Payload source(buffer, 3, "text", log.callback());
    {
        Payload moved(std::move(source));
        EXPECT_EQ(moved.getBuffer(), buffer);
        EXPECT_EQ(moved.size(), 3u);
        EXPECT_EQ(moved.type(), "text");
        EXPECT_EQ(source.getBuffer(), nullptr);
        EXPECT_EQ(source.type(), "");
        EXPECT_FALSE(source.getFreeCallback());
    }
    EXPECT_EQ(log.freed, std::vector<char*>{buffer});
}

TEST(PayloadAssignment, ReleasesTheOldBufferOnceAndTakesTheNewOne) {
    FreeLog target_log;
    FreeLog source_log;
    char* old_buffer = make_buffer("old");
    char* source_buffer = make_buffer("new!");

    {  // copy assignment
        Payload target(old_buffer, 3, "old", target_log.callback());
        const Payload source(source_buffer, 4, "src", source_log.callback());
        target = source;
        EXPECT_EQ(target_log.freed, std::vector<char*>{old_buffer});
        EXPECT_NE(target.getBuffer(), source_buffer);
        EXPECT_EQ(bytes_of(target), "new!");
        EXPECT_EQ(target.type(), "src");
        EXPECT_TRUE(uses_array_delete(target));
    }
    EXPECT_EQ(target_log.freed.size(), 1u);
    EXPECT_EQ(source_log.freed, std::vector<char*>{source_buffer});

    target_log.freed.clear();
    source_log.freed.clear();
    old_buffer = make_buffer("old");
    source_buffer = make_buffer("new!");
    {  // move assignment
        Payload target(old_buffer, 3, "old", target_log.callback());
        Payload source(source_buffer, 4, "src", source_log.callback());
        target = std::move(source);
        EXPECT_EQ(target_log.freed, std::vector<char*>{old_buffer});
        EXPECT_EQ(target.getBuffer(), source_buffer);
        EXPECT_EQ(target.type(), "src");
        EXPECT_EQ(source.getBuffer(), nullptr);
        EXPECT_FALSE(source.getFreeCallback());
    }
    EXPECT_EQ(target_log.freed.size(), 1u);
    EXPECT_EQ(source_log.freed, std::vector<char*>{source_buffer}) << "moved, not copied";
}

TEST(PayloadAssignment, SelfAssignmentKeepsTheBytes) {
    Payload payload(make_buffer("abc"), 3, "text");
    Payload& same = payload;
    payload = same;
    EXPECT_EQ(bytes_of(payload), "abc");
    payload = std::move(same);
    EXPECT_EQ(bytes_of(payload), "abc");
}

TEST(PayloadAssignment, FailedCopyAllocationLeavesTheTargetUnchanged) {
    FreeLog log;
    char* buffer = make_buffer("old");
    Payload target(buffer, 3, "old", log.callback());
    const Payload source(make_buffer("new"), 3, "src");

    fail_next_array_new = true;
    EXPECT_THROW(target = source, std::bad_alloc);
    EXPECT_TRUE(log.freed.empty());
    EXPECT_EQ(target.getBuffer(), buffer);
    EXPECT_EQ(bytes_of(target), "old");
    EXPECT_EQ(target.type(), "old");
    EXPECT_TRUE(target.getFreeCallback());
}

}  // namespace
