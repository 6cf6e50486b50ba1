// The store of kept members shared by both host entries: least recently used
// first out, within a count and a byte budget.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "gateway/kept_cache.hpp"

namespace {

using travo::gateway::KeptCache;

// An item that writes its name into `log` when it is released.
struct Named : KeptCache::Item {
    Named(std::string n, std::string &log) : name(std::move(n)), log(log) {}
    ~Named() override { log += name; }
    std::string name;
    std::string &log;
};

std::string name_at(KeptCache &cache, std::uint64_t key) {
    const auto *item = static_cast<const Named *>(cache.find({key}));
    return item == nullptr ? "-" : item->name;
}

}  // namespace

// A find makes an item the most recently used; the count limit drops the least recently used.
TEST(KeptCache, DropsTheLeastRecentlyUsedBeyondItsCount) {
    std::string dropped;
    KeptCache cache(3, 1000);
    for (std::uint64_t k = 0; k < 3; k++)
        cache.keep({k}, 10, [&] { return std::make_unique<Named>(std::string(1, "abc"[k]), dropped); });
    EXPECT_EQ(name_at(cache, 0), "a");  // order now a, c, b
    cache.keep({3}, 10, [&] { return std::make_unique<Named>("d", dropped); });
    EXPECT_EQ(dropped, "b");
    EXPECT_EQ(name_at(cache, 1) + name_at(cache, 2) + name_at(cache, 0) + name_at(cache, 3), "-cad");
    EXPECT_EQ(cache.size(), 3u);
}

// Room is made by dropping from the least recently used until the new item fits; one larger than the whole
// budget is not made, and nothing is dropped for it.
TEST(KeptCache, KeepsWithinItsByteBudget) {
    std::string dropped;
    KeptCache cache(8, 100);
    for (std::uint64_t k = 0; k < 3; k++)
        cache.keep({k}, 30, [&] { return std::make_unique<Named>(std::string(1, "abc"[k]), dropped); });
    bool made = false;
    EXPECT_EQ(cache.keep({9}, 101, [&] { return made = true, std::make_unique<Named>("x", dropped); }), nullptr);
    EXPECT_FALSE(made);
    EXPECT_EQ(cache.bytes(), 90u);
    EXPECT_NE(cache.keep({3}, 70, [&] { return std::make_unique<Named>("d", dropped); }), nullptr);
    EXPECT_EQ(dropped, "ab");
    EXPECT_EQ(cache.bytes(), 100u);
    EXPECT_EQ(name_at(cache, 2) + name_at(cache, 3), "cd");
}
