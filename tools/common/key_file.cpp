#include "key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "key_text.h"

namespace {

// The text's rules and the words of its faults are the library's
// (key_text.h), which the Python module shares.
static_assert(key_file_min_digits == MINT_KEY_TEXT_MIN_DIGITS && key_file_max_digits == MINT_KEY_TEXT_MAX_DIGITS);

bool not_a_key(const char* path, const char* why) {
    std::fprintf(stderr, "Key file '%s' is not a key: %s.\n", path, why);
    return false;
}

// Reads and checks the whole file into `secret`; reports what is wrong.
bool read_secret(int fd, const char* path, mint_key_text* secret, unsigned char (&chunk)[256]) {
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            std::fprintf(stderr, "Unable to read key file '%s'.\n", path);
            return false;
        }
        if (got == 0) break;
        const int fault = mint_key_text_take(secret, chunk, static_cast<size_t>(got));
        if (fault != MINT_KEY_TEXT_OK) return not_a_key(path, mint_key_text_fault(fault));
    }
    const int fault = mint_key_text_finish(secret);
    return fault == MINT_KEY_TEXT_OK || not_a_key(path, mint_key_text_fault(fault));
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
    mint_key_text secret;
    mint_key_text_start(&secret);
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

namespace {

held_key* volatile key_to_wipe = nullptr;
void (*volatile before_wiping)() = nullptr;

extern "C" void wipe_key_and_die(int signal_number) {
    if (before_wiping != nullptr) before_wiping();
    if (key_to_wipe != nullptr) mint::wipe_secret(&key_to_wipe->key, sizeof key_to_wipe->key);
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

held_key::~held_key() {
    if (key_to_wipe == this) key_to_wipe = nullptr;
    mint::wipe_secret(&key, sizeof key);
}

void wipe_key_on_signals(held_key* key, void (*first)()) {
    before_wiping = first;
    key_to_wipe = key;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        if (std::signal(signal_number, wipe_key_and_die) == SIG_IGN) std::signal(signal_number, SIG_IGN);
    }
}
