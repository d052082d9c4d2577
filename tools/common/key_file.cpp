#include "key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// The secret as it is read: bytes from pairs of hex digits, and the number
// of digits so far. Wiped before read_key_file returns.
struct secret_text {
    unsigned char bytes[key_file_max_digits / 2];
    size_t digits;
};

enum class key_text_fault { none, bad_character, too_long };

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_key_whitespace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

key_text_fault take_text(secret_text* secret, const unsigned char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (is_key_whitespace(text[i])) continue;
        const int value = hex_value(text[i]);
        if (value < 0) return key_text_fault::bad_character;
        if (secret->digits == key_file_max_digits) return key_text_fault::too_long;
        unsigned char& byte = secret->bytes[secret->digits / 2];
        byte = secret->digits % 2 == 0 ? static_cast<unsigned char>(value << 4)
                                       : static_cast<unsigned char>(byte | value);
        ++secret->digits;
    }
    return key_text_fault::none;
}

bool not_a_key(const char* path, const char* why) {
    std::fprintf(stderr, "Key file '%s' is not a key: %s.\n", path, why);
    return false;
}

// Reads and checks the whole file into `secret`; reports what is wrong.
bool read_secret(int fd, const char* path, secret_text* secret, unsigned char (&chunk)[256]) {
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::fprintf(stderr, "Unable to read key file '%s'.\n", path);
            return false;
        }
        if (got == 0) break;
        switch (take_text(secret, chunk, static_cast<size_t>(got))) {
            case key_text_fault::none:
                break;
            case key_text_fault::bad_character:
                return not_a_key(path, "it holds a character other than hex digits and whitespace");
            case key_text_fault::too_long:
                return not_a_key(path, "it holds more than 1024 hex digits");
        }
    }
    if (secret->digits == 0) return not_a_key(path, "it is empty");
    if (secret->digits % 2 != 0) return not_a_key(path, "it holds an odd number of hex digits");
    if (secret->digits < key_file_min_digits) return not_a_key(path, "it holds fewer than 32 hex digits");
    return true;
}

}  // namespace

static_assert(key_file_max_digits == 1024 && key_file_min_digits == 32, "the messages give the limits");

bool read_key_file(const char* path, mint::uuid_key* key) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "Unable to open key file '%s'.\n", path);
        return false;
    }
    struct stat status;
    const bool shared = fstat(fd, &status) == 0 && (status.st_mode & 077) != 0;
    secret_text secret;
    secret.digits = 0;
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
