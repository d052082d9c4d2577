// Small helpers shared by the test programs.
#ifndef MINT_TEST_SUPPORT_H
#define MINT_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace mint_test {

// Hex parsing written independently of the library's codec under test.
inline std::vector<unsigned char> from_hex(std::string_view text) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        ADD_FAILURE() << "not a hex digit: " << c;
        return 0;
    };
    std::vector<unsigned char> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(nibble(text[i]) * 16 + nibble(text[i + 1])));
    }
    return bytes;
}

inline std::string to_hex(const unsigned char* data, size_t length) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

// Runs `body` and returns everything it printed on standard output.
inline std::string stdout_of(const std::function<void()>& body) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    body();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

inline std::string data_path(const std::string& relative) {
    return std::string(MINT_TEST_DATA_DIR) + "/" + relative;
}

}  // namespace mint_test

#endif
