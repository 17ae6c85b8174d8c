// The array sort every ordering in symvert goes through.
//
// A non-recursive quicksort with a middle pivot and an explicit stack that always
// defers the longer part. Its exact steps decide where equal elements end up, and
// that order is visible in every output, so it must not be replaced by std::sort.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// cmp(a, b) answers negative when a goes before b, zero when they are equal.
template <typename T, typename Compare> void sort_items(T* base, size_t count, Compare cmp) {
    if (count < 2) return;
    struct Range {
        ptrdiff_t low, high;
    };
    std::vector<Range> stack;
    stack.push_back({0, static_cast<ptrdiff_t>(count) - 1});
    while (!stack.empty()) {
        ptrdiff_t low = stack.back().low;
        ptrdiff_t high = stack.back().high;
        stack.pop_back();
        while (low < high) {
            const T pivot = base[(low + high) / 2];
            ptrdiff_t i = low;
            ptrdiff_t j = high;
            for (;;) {
                while (cmp(base[i], pivot) < 0)
                    ++i;
                while (cmp(pivot, base[j]) < 0)
                    --j;
                if (j < i) break;
                std::swap(base[i], base[j]);
                ++i;
                --j;
                if (i > j) break;
            }
            if (j - low < high - i) {
                if (i < high) stack.push_back({i, high});
                high = j;
            } else {
                if (low < j) stack.push_back({low, j});
                low = i;
            }
        }
    }
}

template <typename T, typename Compare> void sort_items(std::vector<T>& items, Compare cmp) {
    sort_items(items.data(), items.size(), cmp);
}
