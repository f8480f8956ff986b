// An allocator for large arrays that are filled once and soon freed (the
// packed data of big objects, the working records of a mesh being built).
// Blocks of 2 MiB and more are mapped on their own, aligned to 2 MiB and
// advised for huge pages, so filling them costs one page fault per 2 MiB
// instead of one per 4 KiB; freeing returns them at once. Smaller blocks
// come from operator new.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace xfile {

constexpr size_t kLargeBlock = size_t(2) << 20;

inline void* AllocateLargeBlock(size_t bytes) {
    if (bytes < kLargeBlock) return ::operator new(bytes);
    if (bytes > SIZE_MAX - 2 * kLargeBlock) throw std::bad_alloc();
    const size_t size = (bytes + kLargeBlock - 1) / kLargeBlock * kLargeBlock;
    void* p = mmap(nullptr, size + kLargeBlock, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    // Keep the aligned part only.
    const uintptr_t start = reinterpret_cast<uintptr_t>(p);
    const uintptr_t aligned = (start + kLargeBlock - 1) / kLargeBlock * kLargeBlock;
    if (aligned > start) munmap(p, aligned - start);
    const uintptr_t end = start + size + kLargeBlock;
    if (end > aligned + size) munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

inline void FreeLargeBlock(void* p, size_t bytes) {
    if (!p) return;
    if (bytes < kLargeBlock) {
        ::operator delete(p);
        return;
    }
    munmap(p, (bytes + kLargeBlock - 1) / kLargeBlock * kLargeBlock);
}

template <class T>
struct LargeBlockAllocator {
    using value_type = T;
    LargeBlockAllocator() = default;
    template <class U>
    LargeBlockAllocator(const LargeBlockAllocator<U>&) {}
    T* allocate(size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateLargeBlock(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) { FreeLargeBlock(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const LargeBlockAllocator<U>&) const {
        return true;
    }
};

template <class T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;

}  // namespace xfile
