// Preloaded into mintbatch: standard input gives MINT_SHIM_READ_LIMIT bytes
// and then fails with EIO, as a failing disk or device would, so that a read
// error can be made to happen at a chosen point of the input.
// The shim replaces C library functions, which fortified headers define inline.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

using read_function = ssize_t (*)(int, void*, size_t);

size_t bytes_left() {
    static size_t left = [] {
        const char* limit = std::getenv("MINT_SHIM_READ_LIMIT");
        return limit != nullptr ? std::strtoull(limit, nullptr, 10) : ~size_t{0};
    }();
    return left;
}

size_t given = 0;

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t read(int fd, void* buffer, size_t count) {
    static const auto next = reinterpret_cast<read_function>(dlsym(RTLD_NEXT, "read"));
    if (fd != STDIN_FILENO) return next(fd, buffer, count);
    const size_t left = bytes_left() - given;
    if (left == 0) {
        errno = EIO;
        return -1;
    }
    const ssize_t got = next(fd, buffer, count < left ? count : left);
    if (got > 0) given += static_cast<size_t>(got);
    return got;
}
