// unhex on any text, and hex/unhex round trips.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "mintcore.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // First byte: the output capacity; the rest: the text (up to its first NUL).
    const uint32_t capacity = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t n = std::strlen(text.c_str());

    // Guard bytes on both sides catch a write outside the capacity.
    std::vector<unsigned char> out(capacity + 2, 0xA5);
    const char* message = unhex(text.c_str(), out.data() + 1, capacity);
    FUZZ_CHECK(out.front() == 0xA5 && out.back() == 0xA5);

    bool all_digits = true;
    for (size_t i = 0; i < n; ++i) all_digits = all_digits && unhex_char(static_cast<signed char>(text[i])) != 255;
    if (n > 2 * static_cast<size_t>(capacity)) {
        FUZZ_CHECK(message != nullptr && std::strcmp(message, "input too long") == 0);
    } else if (n % 2 != 0) {
        FUZZ_CHECK(message != nullptr && std::strcmp(message, "input has odd length, bad hex") == 0);
    } else if (!all_digits) {
        FUZZ_CHECK(message != nullptr && std::strcmp(message, "bad hex character") == 0);
    } else {
        FUZZ_CHECK(message == nullptr);
        // Encoding the bytes again gives the text, lower-cased.
        std::string again(n + 1, 'x');
        hex(out.data() + 1, static_cast<uint32_t>(n / 2), again.data());
        for (size_t i = 0; i < n; ++i) {
            const char c = text[i];
            FUZZ_CHECK(again[i] == (c >= 'A' && c <= 'F' ? c - 'A' + 'a' : c));
        }
        FUZZ_CHECK(again[n] == '\0');
    }

    // Any bytes survive hex then unhex unchanged.
    std::vector<unsigned char> bytes(data, data + size);
    std::string encoded(2 * size + 1, 'x');
    FUZZ_CHECK(hex(bytes.data(), static_cast<uint32_t>(size), encoded.data()) == encoded.data());
    std::vector<unsigned char> decoded(size);
    FUZZ_CHECK(unhex(encoded.c_str(), decoded.data(), static_cast<uint32_t>(size)) == nullptr);
    FUZZ_CHECK(decoded == bytes);
    return 0;
}
