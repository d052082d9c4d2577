// Hex codec: bytes to lowercase hex text and back.
#include <cstring>

#include "mintcore.h"

namespace {

constexpr char hex_digit(unsigned value) {
    return static_cast<char>(value < 10 ? '0' + value : 'a' + value - 10);
}

}  // namespace

char* hex(unsigned char* data, uint32_t length, char* text) {
    for (uint32_t i = 0; i < length; ++i) {
        text[2 * static_cast<size_t>(i)] = hex_digit(data[i] >> 4);
        text[2 * static_cast<size_t>(i) + 1] = hex_digit(data[i] & 0x0F);
    }
    text[2 * static_cast<size_t>(length)] = '\0';
    return text;
}

unsigned int unhex_char(int c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return 255;
}

const char* unhex(const char* text, unsigned char* out, uint32_t capacity) {
    size_t n = std::strlen(text);
    if (n > 2 * static_cast<size_t>(capacity)) return "input too long";
    if (n % 2 != 0) return "input has odd length, bad hex";
    while (n > 0 && capacity > 0) {
        // Characters widen as signed chars, so bytes from 0x80 are never digits.
        const unsigned hi = unhex_char(static_cast<signed char>(text[0]));
        const unsigned lo = unhex_char(static_cast<signed char>(text[1]));
        text += 2;
        if (hi == 255 || lo == 255) return "bad hex character";
        *out++ = static_cast<unsigned char>(hi * 16 + lo);
        n -= 2;
        --capacity;
    }
    return nullptr;
}
