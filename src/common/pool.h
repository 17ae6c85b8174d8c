// Records that live as long as their owner and never move: made in blocks, so that a
// million of them cost a few thousand allocations rather than a million.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

template <class T, size_t BLOCK = 256> class Pool {
  public:
    // A new record, value-initialised (or made from the arguments); its address stays.
    template <class... A> T& emplace_back(A&&... args) {
        if (used_ == BLOCK || blocks_.empty()) {
            blocks_.push_back(std::make_unique<Slot[]>(BLOCK));
            used_ = 0;
        }
        Slot& slot = blocks_.back()[used_++];
        T* record = new (slot.bytes) T(std::forward<A>(args)...);
        ++size_;
        return *record;
    }
    size_t size() const { return size_; }
    void clear() {
        for (size_t b = 0; b < blocks_.size(); ++b) {
            size_t count = b + 1 == blocks_.size() ? used_ : BLOCK;
            for (size_t k = 0; k < count; ++k)
                reinterpret_cast<T*>(blocks_[b][k].bytes)->~T();
        }
        blocks_.clear();
        used_ = 0;
        size_ = 0;
    }
    Pool() = default;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;
    // A pool moved from is left empty; the objects keep their addresses.
    Pool(Pool&& other) noexcept { take(other); }
    Pool& operator=(Pool&& other) noexcept {
        if (this != &other) {
            clear();
            take(other);
        }
        return *this;
    }
    ~Pool() { clear(); }

  private:
    void take(Pool& other) {
        blocks_ = std::move(other.blocks_);
        used_ = other.used_;
        size_ = other.size_;
        other.blocks_.clear();
        other.used_ = 0;
        other.size_ = 0;
    }
    struct Slot {
        alignas(T) unsigned char bytes[sizeof(T)];
    };
    std::vector<std::unique_ptr<Slot[]>> blocks_;
    size_t used_ = 0;
    size_t size_ = 0;
};
