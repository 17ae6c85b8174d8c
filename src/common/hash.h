// Map with first-wins insertion: inserting a key that is already present changes
// nothing. The store's indexes rely on it to find the first record of a name or value.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

template <typename K, typename V, typename Hash = std::hash<K>, typename Equal = std::equal_to<K>>
class HashTable {
  public:
    explicit HashTable(size_t expected = 0) { map_.reserve(expected); }
    HashTable(const HashTable&) = delete;
    HashTable& operator=(const HashTable&) = delete;
    HashTable(HashTable&&) noexcept = default;
    HashTable& operator=(HashTable&&) noexcept = default;

    // Answers false (and keeps the first value) when an equal key is present.
    bool insert(const K& key, V value) {
        auto [it, fresh] = map_.try_emplace(key, std::move(value));
        if (fresh) order_.push_back(&it->first);
        return fresh;
    }

    // The value stored under key, or nullptr when there is none.
    const V* find(const K& key) const {
        auto it = map_.find(key);
        return it == map_.end() ? nullptr : &it->second;
    }
    V* find(const K& key) {
        auto it = map_.find(key);
        return it == map_.end() ? nullptr : &it->second;
    }

    uint32_t count() const { return static_cast<uint32_t>(map_.size()); }

    // Keys in insertion order (deterministic, unlike the bucket order).
    std::vector<K> keys() const {
        std::vector<K> out;
        out.reserve(order_.size());
        for (const K* k : order_)
            out.push_back(*k);
        return out;
    }

    // Calls visitor(key, value) in insertion order; stops at the first non-zero answer.
    template <typename Visitor> int foreach (Visitor visitor) {
        for (const K* k : order_) {
            int answer = visitor(*k, map_.find(*k)->second);
            if (answer != 0) return answer;
        }
        return 0;
    }

    void clear() {
        map_.clear();
        order_.clear();
    }

  private:
    std::unordered_map<K, V, Hash, Equal> map_;
    std::vector<const K*> order_; // node-based map: key addresses are stable
};
