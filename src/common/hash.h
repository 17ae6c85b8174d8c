// Map with first-wins insertion: inserting a key that is already present changes
// nothing. The store's indexes rely on it to find the first record of a name or value.
//
// Entries live in insertion order in a deque (so a pointer to a value stays valid while
// the table grows); an open-addressing index of (entry number, hash) slots with linear
// probing finds them. That keeps a million-entry index to a few dozen bytes an entry and
// one allocation per growth step, where a node-based map takes one per insert.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
#include <vector>

template <typename K, typename V, typename Hash = std::hash<K>, typename Equal = std::equal_to<K>>
class HashTable {
  public:
    explicit HashTable(size_t expected = 0) {
        size_t capacity = 16;
        while (capacity * 3 < expected * 4)
            capacity *= 2;
        rebuild(capacity);
    }
    HashTable(const HashTable&) = delete;
    HashTable& operator=(const HashTable&) = delete;
    HashTable(HashTable&&) noexcept = default;
    HashTable& operator=(HashTable&&) noexcept = default;

    // Answers false (and keeps the first value) when an equal key is present.
    bool insert(const K& key, V value) {
        if ((entries_.size() + 1) * 4 > slots_.size() * 3) rebuild(slots_.size() * 2);
        const uint32_t hash = hash_of(key);
        size_t at = home(hash);
        for (; slots_[at].entry != 0; at = (at + 1) & mask_)
            if (slots_[at].hash == hash && Equal{}(entries_[slots_[at].entry - 1].first, key))
                return false;
        entries_.emplace_back(key, std::move(value));
        slots_[at] = {static_cast<uint32_t>(entries_.size()), hash};
        return true;
    }

    // The value stored under key, or nullptr when there is none.
    const V* find(const K& key) const { return const_cast<HashTable*>(this)->find(key); }
    V* find(const K& key) {
        const uint32_t hash = hash_of(key);
        for (size_t at = home(hash); slots_[at].entry != 0; at = (at + 1) & mask_) {
            auto& entry = entries_[slots_[at].entry - 1];
            if (slots_[at].hash == hash && Equal{}(entry.first, key)) return &entry.second;
        }
        return nullptr;
    }

    uint32_t count() const { return static_cast<uint32_t>(entries_.size()); }

  private:
    struct Slot {
        uint32_t entry; // 1-based entry number; 0 = empty
        uint32_t hash;
    };

    static uint32_t hash_of(const K& key) {
        // Fibonacci mixing, so that weak hashes (small numbers, identity) still spread.
        uint64_t h = static_cast<uint64_t>(Hash{}(key)) * 0x9E3779B97F4A7C15ull;
        return static_cast<uint32_t>(h >> 32);
    }
    size_t home(uint32_t hash) const { return hash & mask_; }

    void rebuild(size_t capacity) {
        std::vector<Slot> old(capacity, Slot{0, 0});
        old.swap(slots_);
        mask_ = capacity - 1;
        for (const Slot& slot : old) {
            if (slot.entry == 0) continue;
            size_t at = home(slot.hash);
            while (slots_[at].entry != 0)
                at = (at + 1) & mask_;
            slots_[at] = slot;
        }
    }

    std::deque<std::pair<K, V>> entries_;
    std::vector<Slot> slots_;
    size_t mask_ = 0;
};
