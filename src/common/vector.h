// Growable list.
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
    // Gives back what growing left unused, once nothing more is appended.
    void shrink_to_fit() { items_.shrink_to_fit(); }

    // The element at index, or a value-initialised T (null for pointers) beyond the end.
    T get(uint32_t index) const { return index < items_.size() ? items_[index] : T{}; }

    // Sorts with sort_items, so the order of equal elements is the specified one.
    template <typename Compare> void sort(Compare cmp) {
        sort_items(items_.data(), items_.size(), cmp);
    }

    T& operator[](uint32_t index) { return items_[index]; }
    const T& operator[](uint32_t index) const { return items_[index]; }
    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

  private:
    std::vector<T> items_;
};
