#include "gateway/kept_cache.hpp"

#include <algorithm>

namespace travo::gateway {

KeptCache::KeptCache(std::size_t max_items, std::size_t max_bytes) : max_items_(max_items), max_bytes_(max_bytes) {
    entries_.reserve(max_items);
}

const KeptCache::Item *KeptCache::find(const Key &key) {
    for (std::size_t k = 0; k < entries_.size(); k++) {
        if (entries_[k].key == key) {
            std::rotate(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(k),
                        entries_.begin() + static_cast<std::ptrdiff_t>(k + 1));
            return entries_.front().item.get();
        }
    }
    return nullptr;
}

std::size_t KeptCache::bytes() const {
    std::size_t used = 0;
    for (const Entry &e : entries_) used += e.bytes;
    return used;
}

bool KeptCache::make_room(std::size_t bytes) {
    if (bytes > max_bytes_ || max_items_ == 0) return false;
    std::size_t used = bytes + this->bytes();
    while (!entries_.empty() && (entries_.size() >= max_items_ || used > max_bytes_)) {
        used -= entries_.back().bytes;
        entries_.pop_back();
    }
    return true;
}

const KeptCache::Item *KeptCache::insert(Key key, std::unique_ptr<Item> item, std::size_t bytes) {
    entries_.insert(entries_.begin(), Entry{std::move(key), bytes, std::move(item)});
    return entries_.front().item.get();
}

}  // namespace travo::gateway
