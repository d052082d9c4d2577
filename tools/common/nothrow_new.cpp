// The programs' allocations that may fail (new (std::nothrow)) take their
// memory from malloc and answer null when there is none. The standard
// library's own forms call the throwing form and catch its exception; when
// memory is so short that even the exception cannot be allocated, they end
// the process instead (std::terminate), where the programs would have said
// "Unable to allocate memory." or gone on with fewer blocks.
//
// Linked into the programs themselves, not the libraries, so that tests
// may count allocations with forms of their own. Sanitizer builds keep the
// runtime's own forms, which track how each block was allocated.
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MINT_SANITIZER_ALLOCATOR 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MINT_SANITIZER_ALLOCATOR 1
#endif

#ifndef MINT_SANITIZER_ALLOCATOR
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size != 0 ? size : 1);
}
#endif
