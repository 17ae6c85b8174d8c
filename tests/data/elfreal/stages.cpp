// The C++ module of the samples: a class template with a deleted copy, a class hierarchy
// with a virtual function, a variadic template, a member pointer and a lambda.
#include "prog.h"

namespace dsp {

enum class level : signed char { low = -1, mid, high };

template <typename T, int N = 4>
class ring {
public:
    explicit ring(T fill) { for (T& item : items) item = fill; }
    ring(const ring&) = delete;
    bool put(T&& value) noexcept;
    T sum() const;
    static constexpr int size = N;
private:
    alignas(8) T items[N];
    int head = 0;
};

template <typename T, int N>
bool ring<T, N>::put(T&& value) noexcept
{
    items[head] = value;
    head = (head + 1) % N;
    return head != 0;
}

template <typename T, int N>
T ring<T, N>::sum() const
{
    T total = 0;
    for (const T& item : items)
        total += item;
    return total;
}

struct stage {
    virtual int run(int x) const { return x; }
};

struct gain : stage {
    int factor;
    explicit gain(int f) : factor(f) {}
    int run(int x) const override { return x * factor; }
};

template <typename... Args>
int count(Args... args) { return sizeof...(args); }

using handler = int (stage::*)(int) const;

}  // namespace dsp

using namespace dsp;

extern "C" int cxx_entry(int x, struct queue* q)
{
    ring<sample_t> samples(sample_t(2));
    gain twice(2);
    const stage& s = twice;
    handler h = &stage::run;
    auto scaled = [&](int v) { return (s.*h)(v) + samples.sum(); };
    samples.put(sample_t(x));
    level l = x > 0 ? level::high : level::low;
    decltype(nullptr) none = nullptr;
    return scaled(x) + count(1, 'c', q) + static_cast<int>(l) + (none == nullptr) + q->head;
}
