#include "Core/RandomDraws.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <unordered_map>

namespace {

// The pool of values still to draw in one pass. Slot j holds low + j until a
// draw moves another value into it; only the moved slots are stored, so a
// wide range costs no more memory than the number of draws.
class Pool
{
public:
    Pool(int64_t low, int64_t size) : low_(low), fullSize_(size), size_(size) {}

    int64_t size() const { return size_; }
    void refill()
    {
        moved_.clear();
        size_ = fullSize_;
    }

    // Takes the value in slot r and moves the last value into its place.
    int64_t take(int64_t r)
    {
        const int64_t value = valueAt(r);
        const int64_t last = valueAt(size_ - 1);
        moved_.erase(size_ - 1);
        if (r != size_ - 1)
            moved_[r] = last;
        --size_;
        return value;
    }

private:
    int64_t valueAt(int64_t slot) const
    {
        const auto found = moved_.find(slot);
        return found != moved_.end() ? found->second : low_ + slot;
    }

    int64_t low_;
    int64_t fullSize_;
    int64_t size_;
    std::unordered_map<int64_t, int64_t> moved_;
};

} // namespace

bool fillRandomUnique(ArrayHeap<int>& array, int low, int high, int n)
{
    if (n <= 0)
        return true;
    // An empty range would draw modulo a pool size of zero.
    if (high <= low)
        return false;
    try {
        ArrayHeap<int> values(n);
        if (values.count() != n)
            return false;
        Pool pool(low, int64_t(high) - low);
        for (int i = 0; i < n; ++i) {
            if (pool.size() == 0)
                pool.refill();
            const int64_t r = int64_t(rand()) % pool.size();
            *values.at(i) = int(pool.take(r));
        }
        array = static_cast<ArrayHeap<int>&&>(values);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}
