// Replaces the global operator new and delete with counting ones for the benchmark executables.
#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace brassmoor {

namespace {

// Per thread, so that Mesa's worker threads and the benchmark library's own threads do not
// show up in the figures of the thread being measured.
thread_local std::uint64_t allocationCount = 0;

void* countedAllocate(std::size_t size) {
    ++allocationCount;
    return std::malloc(size == 0 ? 1 : size);
}

void* countedAlignedAllocate(std::size_t size, std::align_val_t alignment) {
    ++allocationCount;
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t rounded = (size + align - 1) / align * align;
    return std::aligned_alloc(align, rounded == 0 ? align : rounded);
}

}  // namespace

std::uint64_t allocationsOnThisThread() {
    return allocationCount;
}

}  // namespace brassmoor

void* operator new(std::size_t size) {
    void* p = brassmoor::countedAllocate(size);
    if (p == nullptr) {
        std::abort();  // the benchmarks are built without exceptions in mind
    }
    return p;
}

void* operator new[](std::size_t size) {
    return operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return brassmoor::countedAllocate(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return brassmoor::countedAllocate(size);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
    void* p = brassmoor::countedAlignedAllocate(size, alignment);
    if (p == nullptr) {
        std::abort();
    }
    return p;
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return brassmoor::countedAlignedAllocate(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return brassmoor::countedAlignedAllocate(size, alignment);
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete[](void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}

void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}

void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
