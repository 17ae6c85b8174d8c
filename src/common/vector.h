// Growable list with a built-in iteration cursor.
//
// The store, the type model and the writers hold their records in these. Elements are
// usually record pointers; the list never owns what they point to.
#pragma once

#include <cstdint>
#include <vector>

#include "common/sort.h"

template <typename T> class Vector {
  public:
    explicit Vector(uint32_t initial_capacity = 10) { items_.reserve(initial_capacity); }

    uint32_t count() const { return static_cast<uint32_t>(items_.size()); }
    bool empty() const { return items_.empty(); }

    void append(T item) { items_.push_back(std::move(item)); }

    // The element at index, or a value-initialised T (null for pointers) beyond the end.
    T get(uint32_t index) const { return index < items_.size() ? items_[index] : T{}; }

    // First index holding an equal element, or -1.
    int64_t index_of(const T& item) const {
        for (size_t k = 0; k < items_.size(); ++k)
            if (items_[k] == item) return static_cast<int64_t>(k);
        return -1;
    }

    // Pads with value-initialised elements until index exists, then stores there.
    void set(T item, uint32_t index) {
        if (index >= items_.size()) items_.resize(size_t(index) + 1);
        items_[index] = std::move(item);
    }

    bool remove_at(uint32_t index) {
        if (index >= items_.size()) return false;
        items_.erase(items_.begin() + index);
        if (index < cursor) --cursor;
        return true;
    }

    void clear() { items_.clear(); }

    // Cursor iteration.
    void rewind() { cursor = 0; }
    bool has_next() const { return cursor < items_.size(); }
    T next() { return cursor < items_.size() ? items_[cursor++] : T{}; }
    T first() {
        rewind();
        return next();
    }
    T current() const { return get(cursor); }

    // Sorts with sort_items, so the order of equal elements is the specified one.
    template <typename Compare> void sort(Compare cmp) {
        sort_items(items_.data(), items_.size(), cmp);
    }

    T& operator[](uint32_t index) { return items_[index]; }
    const T& operator[](uint32_t index) const { return items_[index]; }
    T* data() { return items_.data(); }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    void reserve(size_t n) { items_.reserve(n); }
    std::vector<T>& raw() { return items_; }

    uint32_t cursor = 0;
    uint32_t cursor2 = 0;

  private:
    std::vector<T> items_;
};
