// Members that a host entry keeps between calls, so that a call with the
// numbers of a recent one skips generation. At most `max_items` are kept,
// together at most `max_bytes` (as their keeper estimates them); the least
// recently used goes first, and an item larger than the whole budget is not
// kept. Both host entries (travo and travo_member) keep their members here;
// what an item holds is theirs to say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace travo::gateway {

class KeptCache {
public:
    // A kept thing; released when dropped or when the cache is released.
    struct Item {
        virtual ~Item() = default;
    };
    // The numbers that fix an item, compared bit for bit.
    using Key = std::vector<std::uint64_t>;

    KeptCache(std::size_t max_items, std::size_t max_bytes);

    // The item kept under `key`, which becomes the most recently used;
    // nullptr when there is none.
    const Item *find(const Key &key);

    // Keeps the item that make() returns (a std::unique_ptr to an Item), of
    // `bytes` bytes, under `key` as the most recently used, dropping the
    // least recently used ones until it fits. Returns it, or nullptr without
    // calling make() when it is larger than the whole budget. What make()
    // throws is thrown; the items dropped stay dropped.
    template <class Make>
    const Item *keep(Key key, std::size_t bytes, const Make &make) {
        if (!make_room(bytes)) return nullptr;
        return insert(std::move(key), make(), bytes);
    }

    std::size_t size() const { return entries_.size(); }
    std::size_t bytes() const;

private:
    struct Entry {
        Key key;
        std::size_t bytes;
        std::unique_ptr<Item> item;
    };

    bool make_room(std::size_t bytes);
    const Item *insert(Key key, std::unique_ptr<Item> item, std::size_t bytes);

    std::size_t max_items_, max_bytes_;
    std::vector<Entry> entries_;  // most recently used first
};

}  // namespace travo::gateway
