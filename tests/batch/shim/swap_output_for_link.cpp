// Preloaded into mintbatch: the first time the program creates a file, the
// output path is first replaced by a symbolic link to the input, as another
// process could do between the program's same-file check and its opening of
// the output. MINT_SHIM_INPUT and MINT_SHIM_OUTPUT name the two paths.
// The shim replaces C library functions, which fortified headers define inline.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>

namespace {

bool swapped = false;

void swap_output_for_link() {
    if (swapped) return;
    swapped = true;
    const char* input = std::getenv("MINT_SHIM_INPUT");
    const char* output = std::getenv("MINT_SHIM_OUTPUT");
    if (input == nullptr || output == nullptr) return;
    unlink(output);
    if (symlink(input, output) != 0) std::abort();
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

#define MINT_SHIM_EXPORT __attribute__((visibility("default")))

extern "C" {

MINT_SHIM_EXPORT int mkostemp(char* path_template, int flags) {
    swap_output_for_link();
    return next<int (*)(char*, int)>("mkostemp")(path_template, flags);
}

MINT_SHIM_EXPORT int mkstemp(char* path_template) {
    swap_output_for_link();
    return next<int (*)(char*)>("mkstemp")(path_template);
}

#define MINT_SHIM_OPEN(name)                                                   \
    MINT_SHIM_EXPORT int name(const char* path, int flags, ...) {              \
        mode_t mode = 0;                                                       \
        if (flags & O_CREAT) {                                                 \
            va_list arguments;                                                 \
            va_start(arguments, flags);                                        \
            mode = static_cast<mode_t>(va_arg(arguments, int));                \
            va_end(arguments);                                                 \
            swap_output_for_link();                                            \
        }                                                                      \
        return next<int (*)(const char*, int, ...)>(#name)(path, flags, mode); \
    }

MINT_SHIM_OPEN(open)
MINT_SHIM_OPEN(open64)

#define MINT_SHIM_OPENAT(name)                                                             \
    MINT_SHIM_EXPORT int name(int directory, const char* path, int flags, ...) {           \
        mode_t mode = 0;                                                                   \
        if (flags & O_CREAT) {                                                             \
            va_list arguments;                                                             \
            va_start(arguments, flags);                                                    \
            mode = static_cast<mode_t>(va_arg(arguments, int));                            \
            va_end(arguments);                                                             \
            swap_output_for_link();                                                        \
        }                                                                                  \
        return next<int (*)(int, const char*, int, ...)>(#name)(directory, path, flags, mode); \
    }

MINT_SHIM_OPENAT(openat)
MINT_SHIM_OPENAT(openat64)

}
