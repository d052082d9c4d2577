// Preloaded into mintbatch: appends to the file MINT_SHIM_LOG one line for
// each flush to disk ("fsync file" or "fsync directory", by what the
// descriptor is) and each rename ("rename"), in the order they happen, and
// then does them. Shows what a power cut at any point could leave.
// The shim replaces C library functions, which fortified headers define inline.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

void note(const char* line) {
    const char* path = std::getenv("MINT_SHIM_LOG");
    if (path == nullptr) return;
    const int log = next<int (*)(const char*, int, ...)>("open")(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (log < 0) std::abort();
    if (write(log, line, std::strlen(line)) < 0) std::abort();
    close(log);
}

void note_sync(int fd) {
    struct stat status;
    note(fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) ? "fsync directory\n" : "fsync file\n");
}

}  // namespace

#define MINT_SHIM_EXPORT __attribute__((visibility("default")))

extern "C" {

MINT_SHIM_EXPORT int fsync(int fd) {
    note_sync(fd);
    return next<int (*)(int)>("fsync")(fd);
}

MINT_SHIM_EXPORT int fdatasync(int fd) {
    note_sync(fd);
    return next<int (*)(int)>("fdatasync")(fd);
}

MINT_SHIM_EXPORT int rename(const char* from, const char* to) {
    note("rename\n");
    return next<int (*)(const char*, const char*)>("rename")(from, to);
}

MINT_SHIM_EXPORT int renameat(int from_directory, const char* from, int to_directory, const char* to) {
    note("rename\n");
    return next<int (*)(int, const char*, int, const char*)>("renameat")(from_directory, from, to_directory, to);
}

MINT_SHIM_EXPORT int renameat2(int from_directory, const char* from, int to_directory, const char* to,
                               unsigned int flags) {
    note("rename\n");
    return next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2")(from_directory, from,
                                                                                        to_directory, to, flags);
}
}
