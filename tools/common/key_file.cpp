#include "key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

bool not_a_key(const char* path, key_text_fault fault) {
    std::fprintf(stderr, "Key file '%s' is not a key: %s.\n", path, key_text_fault_reason(fault));
    return false;
}

// Reads and checks the whole file into `secret`; reports what is wrong.
bool read_secret(int fd, const char* path, key_text* secret, unsigned char (&chunk)[256]) {
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::fprintf(stderr, "Unable to read key file '%s'.\n", path);
            return false;
        }
        if (got == 0) break;
        const key_text_fault fault = take_key_text(secret, chunk, static_cast<size_t>(got));
        if (fault != key_text_fault::none) return not_a_key(path, fault);
    }
    const key_text_fault fault = finish_key_text(secret);
    return fault == key_text_fault::none || not_a_key(path, fault);
}

}  // namespace

bool read_key_file(const char* path, mint::uuid_key* key) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Unable to open key file '%s'.\n", path);
        return false;
    }
    struct stat status;
    const bool shared = fstat(fd, &status) == 0 && (status.st_mode & 077) != 0;
    key_text secret;
    open_key_text(&secret);
    unsigned char chunk[256];
    const bool have_key = read_secret(fd, path, &secret, chunk);
    close(fd);
    if (have_key) {
        mint::uuid_key_init(key, secret.bytes, secret.digits / 2);
        if (shared) {
            std::fprintf(stderr,
                         "Warning: key file '%s' is open to other users; keep it to its owner (chmod 600).\n", path);
        }
    }
    mint::wipe_secret(&secret, sizeof secret);
    mint::wipe_secret(chunk, sizeof chunk);
    return have_key;
}
