// Preloaded into mintbatch or mintsolo: looks through every writable page of
// the process (stacks of the program and its threads, heap, data) for the
// prepared key of the secret in MINT_SHIM_SECRET (hex, at most 64 bytes):
// the HMAC-SHA-256 inner and outer chaining values as the programs hold them.
// It looks while the key must be there (the first write(2) of mintbatch, the
// fopen(3) of mintsolo's record file), when main has returned, and when the
// process raises a signal to end itself; each look appends "WHEN COUNT" to the file
// MINT_SHIM_REPORT, COUNT being the places either value was found.
//
// The values are computed here and kept complemented, so that the shim's own
// memory never holds them.
// The shim replaces C library functions, which fortified headers define inline.
#undef _FORTIFY_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t round_constants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t rotate(uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

// The chaining value after one block from SHA-256's initial hash.
void chaining_of_block(uint32_t (&h)[8], const unsigned char (&block)[64]) {
    static constexpr uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 | uint32_t{block[4 * i + 2]} << 8 |
               block[4 * i + 3];
    }
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = rotate(w[i - 15], 7) ^ rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = rotate(w[i - 2], 17) ^ rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t v[8];
    std::memcpy(v, initial, sizeof v);
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = v[7] + (rotate(v[4], 6) ^ rotate(v[4], 11) ^ rotate(v[4], 25)) +
                            ((v[4] & v[5]) ^ (~v[4] & v[6])) + round_constants[i] + w[i];
        const uint32_t t2 =
            (rotate(v[0], 2) ^ rotate(v[0], 13) ^ rotate(v[0], 22)) + ((v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]));
        std::memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i) h[i] = initial[i] + v[i];
}

void wipe(void* data, size_t length) {
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (size_t i = 0; i < length; ++i) p[i] = 0;
}

// The inner and outer chaining values, complemented; false without a secret.
unsigned char complemented[2][32];

bool prepare_values() {
    static const bool prepared = [] {
        const char* hex = std::getenv("MINT_SHIM_SECRET");
        if (hex == nullptr || std::strlen(hex) > 128 || std::strlen(hex) % 2 != 0) return false;
        unsigned char block[64] = {};
        for (size_t i = 0; hex[2 * i] != '\0'; ++i) {
            char pair[3] = {hex[2 * i], hex[2 * i + 1], '\0'};
            block[i] = static_cast<unsigned char>(std::strtoul(pair, nullptr, 16));
        }
        const unsigned char pads[2] = {0x36, 0x5c};
        for (int which = 0; which < 2; ++which) {
            unsigned char padded[64];
            for (int i = 0; i < 64; ++i) padded[i] = block[i] ^ pads[which];
            uint32_t h[8];
            chaining_of_block(h, padded);
            // As the programs hold them: words in the machine's order.
            unsigned char* out = complemented[which];
            std::memcpy(out, h, 32);
            for (int i = 0; i < 32; ++i) out[i] = static_cast<unsigned char>(~out[i]);
            wipe(h, sizeof h);
            wipe(padded, sizeof padded);
        }
        wipe(block, sizeof block);
        return true;
    }();
    return prepared;
}

bool matches(const unsigned char* at, const unsigned char (&value)[32]) {
    for (int i = 0; i < 32; ++i) {
        if (static_cast<unsigned char>(~at[i]) != value[i]) return false;
    }
    return true;
}

// Places in readable, writable memory where either value is, by reading
// /proc/self/maps with nothing but system calls (a signal may have
// interrupted anything).
long count_values() {
    static char maps[1 << 16];
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    size_t size = 0;
    for (ssize_t got; (got = read(fd, maps + size, sizeof maps - 1 - size)) > 0;) size += static_cast<size_t>(got);
    close(fd);
    maps[size] = '\0';
    long found = 0;
    for (char* line = maps; *line != '\0';) {
        char* end = std::strchr(line, '\n');
        if (end != nullptr) *end = '\0';
        char* rest = nullptr;
        const uintptr_t from = std::strtoull(line, &rest, 16);
        const uintptr_t to = std::strtoull(rest + 1, &rest, 16);
        const bool readable_writable = rest[1] == 'r' && rest[2] == 'w';
        // The kernel's pages shared with the process are no place for a key.
        const bool special = std::strstr(rest, "[vvar]") != nullptr || std::strstr(rest, "[vsyscall]") != nullptr;
        if (readable_writable && !special) {
            for (const unsigned char* at = reinterpret_cast<const unsigned char*>(from);
                 at + 32 <= reinterpret_cast<const unsigned char*>(to); ++at) {
                if (matches(at, complemented[0]) || matches(at, complemented[1])) ++found;
            }
        }
        if (end == nullptr) break;
        line = end + 1;
    }
    return found;
}

ssize_t real_write(int fd, const void* bytes, size_t count) {
    static const auto next = reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(dlsym(RTLD_NEXT, "write"));
    return next(fd, bytes, count);
}

void report(const char* when) {
    if (!prepare_values()) return;
    const char* path = std::getenv("MINT_SHIM_REPORT");
    if (path == nullptr) return;
    char line[64];
    const int length = std::snprintf(line, sizeof line, "%s %ld\n", when, count_values());
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (real_write(fd, line, static_cast<size_t>(length)) != length) std::abort();
    close(fd);
}

std::atomic<bool> looked_while_running{false};

void look_while_running() {
    if (!looked_while_running.exchange(true)) report("running");
}

__attribute__((constructor)) void prepare_early() {
    prepare_values();
}

// The look once main has returned runs on a stack of its own: on the
// process's stack, its frames would cover main's, and with them a key left
// there.
using main_function = int (*)(int, char**, char**);
main_function program_main;
char look_stack[256 * 1024];
ucontext_t after_main;
ucontext_t looking;

void look_at_exit() {
    report("exit");
}

int main_then_look(int argc, char** argv, char** environment) {
    const int status = program_main(argc, argv, environment);
    getcontext(&looking);
    looking.uc_stack.ss_sp = look_stack;
    looking.uc_stack.ss_size = sizeof look_stack;
    looking.uc_link = &after_main;
    makecontext(&looking, look_at_exit, 0);
    swapcontext(&after_main, &looking);
    return status;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int __libc_start_main(main_function main, int argc, char** argv,
                                                                          void (*init)(), void (*fini)(),
                                                                          void (*loader_fini)(), void* stack_end) {
    using start_function = int (*)(main_function, int, char**, void (*)(), void (*)(), void (*)(), void*);
    static const auto next = reinterpret_cast<start_function>(dlsym(RTLD_NEXT, "__libc_start_main"));
    program_main = main;
    return next(main_then_look, argc, argv, init, fini, loader_fini, stack_end);
}

extern "C" __attribute__((visibility("default"))) ssize_t write(int fd, const void* bytes, size_t count) {
    look_while_running();
    return real_write(fd, bytes, count);
}

extern "C" __attribute__((visibility("default"))) FILE* fopen(const char* path, const char* mode) {
    static const auto next = reinterpret_cast<FILE* (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "fopen"));
    look_while_running();
    return next(path, mode);
}

extern "C" __attribute__((visibility("default"))) int raise(int signal_number) {
    static const auto next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "raise"));
    report("signal");
    return next(signal_number);
}
