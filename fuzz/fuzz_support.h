// Shared bits of the fuzz targets.
#ifndef MINT_FUZZ_SUPPORT_H
#define MINT_FUZZ_SUPPORT_H

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The library and tools report rejected values on standard output; while
// fuzzing that is millions of lines of noise.
inline void silence_stdout() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
}

// Stops the run with a crash report the fuzzer records, naming the property.
#define FUZZ_CHECK(condition)                                                        \
    do {                                                                             \
        if (!(condition)) {                                                          \
            std::fprintf(stderr, "property violated: %s (%s:%d)\n", #condition,      \
                         __FILE__, __LINE__);                                        \
            std::abort();                                                            \
        }                                                                            \
    } while (0)

inline bool is_uuid_character(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'v');
}

// 12 characters of the identifier alphabet and a terminator.
inline bool is_uuid_text(const char* text) {
    for (int i = 0; i < 12; ++i) {
        if (!is_uuid_character(text[i])) return false;
    }
    return text[12] == '\0';
}

#endif
