#pragma once

// The block buffer's memory comes straight from malloc: operator new would
// first call whatever new-handler a library in the process installed (some
// image decoders install one that throws their own type), and an allocation
// failure must reach the generation as std::bad_alloc, its kNoMemory.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

namespace kova {

template <typename T>
struct Malloc_Allocator {
    using value_type = T;

    Malloc_Allocator() = default;
    template <typename U>
    Malloc_Allocator(const Malloc_Allocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        if (void* p = std::malloc(n * sizeof(T)))
            return static_cast<T*>(p);
        throw std::bad_alloc();
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    template <typename U>
    bool operator==(const Malloc_Allocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const Malloc_Allocator<U>&) const noexcept
    {
        return false;
    }
};

using Block_Buffer = std::vector<unsigned char, Malloc_Allocator<unsigned char>>;

}  // namespace kova
