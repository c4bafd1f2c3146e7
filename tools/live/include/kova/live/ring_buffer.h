#pragma once

// A single-producer single-consumer ring: the audio callback pushes what it
// captured, one reader pops it. Neither side allocates, locks or waits. A
// push that does not fit is refused whole and counted: a capture that lost
// samples here must say so, not pass the gap off as the chain's.

#include <atomic>
#include <cstddef>
#include <memory>

namespace kova::live {

template <class T>
class Ring_Buffer {
public:
    // Holds at least min_capacity items (rounded up to a power of two, so
    // that positions wrap with a mask). Allocates here and nowhere else.
    explicit Ring_Buffer(std::size_t min_capacity)
        : capacity_(round_up(min_capacity)), mask_(capacity_ - 1), items_(new T[capacity_])
    {
    }
    Ring_Buffer(const Ring_Buffer&) = delete;
    Ring_Buffer& operator=(const Ring_Buffer&) = delete;

    std::size_t capacity() const { return capacity_; }

    // Producer side. All count items, or none and the refusal counted.
    bool push(const T* items, std::size_t count)
    {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t tail = tail_.load(std::memory_order_acquire);
        if (capacity_ - (head - tail) < count) {
            refused_.fetch_add(count, std::memory_order_relaxed);
            return false;
        }
        copy_in(head, items, count);
        head_.store(head + count, std::memory_order_release);
        return true;
    }

    // Consumer side. Up to max_count items into out; returns how many.
    std::size_t pop(T* out, std::size_t max_count)
    {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t head = head_.load(std::memory_order_acquire);
        const std::size_t count = head - tail < max_count ? head - tail : max_count;
        copy_out(tail, out, count);
        tail_.store(tail + count, std::memory_order_release);
        return count;
    }

    // Producer side: items that would fit now.
    std::size_t room() const
    {
        return capacity_ - (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
    }

    // Items refused so far for want of room: lost by this program.
    std::size_t refused() const { return refused_.load(std::memory_order_relaxed); }

private:
    static std::size_t round_up(std::size_t n)
    {
        std::size_t c = 1;
        while (c < n) c <<= 1;
        return c;
    }

    // Positions only grow and wrap through the mask.
    void copy_in(std::size_t at, const T* from, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) items_[(at + i) & mask_] = from[i];
    }
    void copy_out(std::size_t at, T* to, std::size_t count)
    {
        for (std::size_t i = 0; i < count; ++i) to[i] = items_[(at + i) & mask_];
    }

    const std::size_t capacity_;
    const std::size_t mask_;
    std::unique_ptr<T[]> items_;
    // Apart, so that the two threads do not share a cache line.
    alignas(64) std::atomic<std::size_t> head_{0};  // written by the producer
    alignas(64) std::atomic<std::size_t> tail_{0};  // written by the consumer
    alignas(64) std::atomic<std::size_t> refused_{0};
    static_assert(std::atomic<std::size_t>::is_always_lock_free);
};

}  // namespace kova::live
