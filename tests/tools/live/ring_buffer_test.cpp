#include "kova/live/ring_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

using kova::live::Ring_Buffer;

namespace {
std::vector<int> pop_all(Ring_Buffer<int>& ring)
{
    std::vector<int> out(ring.capacity());
    out.resize(ring.pop(out.data(), out.size()));
    return out;
}
}  // namespace

TEST(RingBuffer, WrapsAroundInOrder)
{
    Ring_Buffer<int> ring(5);
    ASSERT_EQ(ring.capacity(), 8u);  // the next power of two

    const int first[] = {0, 1, 2, 3, 4, 5};
    ASSERT_TRUE(ring.push(first, 6));
    int head[4];
    ASSERT_EQ(ring.pop(head, 4), 4u);
    EXPECT_EQ(std::vector<int>(head, head + 4), (std::vector<int>{0, 1, 2, 3}));

    // Two left at slots 4 and 5; five more take slots 6, 7, 0, 1, 2.
    const int second[] = {6, 7, 8, 9, 10};
    ASSERT_TRUE(ring.push(second, 5));
    EXPECT_EQ(pop_all(ring), (std::vector<int>{4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(ring.refused(), 0u);
}

TEST(RingBuffer, RefusesWhatDoesNotFitWholeAndCountsIt)
{
    Ring_Buffer<int> ring(4);
    const int three[] = {1, 2, 3};
    const int two[] = {4, 5};
    const int one[] = {6};
    ASSERT_TRUE(ring.push(three, 3));
    EXPECT_FALSE(ring.push(two, 2));  // one slot free: none of the two goes in
    EXPECT_EQ(ring.refused(), 2u);
    EXPECT_TRUE(ring.push(one, 1));
    EXPECT_EQ(pop_all(ring), (std::vector<int>{1, 2, 3, 6}));

    // Emptied, it takes a full load again; the count stays what was lost.
    const int four[] = {7, 8, 9, 10};
    EXPECT_TRUE(ring.push(four, 4));
    EXPECT_EQ(pop_all(ring), (std::vector<int>{7, 8, 9, 10}));
    EXPECT_EQ(ring.refused(), 2u);
}

// The audio callback and the reader at once: every item arrives once and in
// order through thousands of wraps of a small ring. A lost wrap shows as a
// number out of order; a missing fence as a race under ThreadSanitizer (the
// tsan build in make test), or as stale slots read here.
TEST(RingBuffer, TwoThreadsPassEveryItemInOrderThroughManyWraps)
{
    constexpr std::size_t kItems = 200000;
    Ring_Buffer<std::size_t> ring(64);
    std::thread producer([&] {
        std::size_t next = 0, chunk[7];
        while (next < kItems) {
            // Chunks of 1 to 7, so that pushes straddle the wrap at every offset.
            const std::size_t n = std::min<std::size_t>(1 + next % 7, kItems - next);
            for (std::size_t i = 0; i < n; ++i) chunk[i] = next + i;
            if (ring.push(chunk, n))
                next += n;
            else
                std::this_thread::yield();
        }
    });
    std::vector<std::size_t> got;
    got.reserve(kItems);
    std::size_t out[5];
    while (got.size() < kItems) {
        const std::size_t n = ring.pop(out, 5);
        got.insert(got.end(), out, out + n);
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    std::size_t in_order = 0;
    while (in_order < kItems && got[in_order] == in_order) ++in_order;
    EXPECT_EQ(in_order, kItems) << "item " << in_order << " is " << got[in_order];
}
