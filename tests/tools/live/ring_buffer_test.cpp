#include "kova/live/ring_buffer.h"

#include <gtest/gtest.h>

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
