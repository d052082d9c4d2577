// Hex codec.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "mintcore.h"

namespace {

TEST(Hex, EncodesLowercaseAndReturnsTheBuffer) {
    char text[16];
    std::memset(text, 'x', sizeof text);
    unsigned char bytes[] = {0x00, 0x01, 0xAB, 0xFF};
    EXPECT_EQ(hex(bytes, 4, text), text);
    EXPECT_EQ(std::string(text), "0001abff");

    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(hex(bytes, 0, text), text);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[1], 'x');
}

TEST(Hex, UnhexChar) {
    struct Case {
        int c;
        unsigned value;
    };
    const Case cases[] = {{'0', 0},  {'9', 9},   {'A', 10},  {'a', 10},  {'F', 15},  {'f', 15},
                          {'G', 255}, {'g', 255}, {64, 255},  {96, 255},  {0, 255},   {-1, 255},
                          {255, 255}, {'/', 255}, {':', 255}, {-208, 255}};
    for (const auto& c : cases) EXPECT_EQ(unhex_char(c.c), c.value) << c.c;
}

TEST(Hex, Unhex) {
    struct Case {
        const char* text;
        uint32_t capacity;
        const char* message;  // nullptr for success
        std::string stored;   // bytes written, as hex; the rest stays 0xEE
    };
    const Case cases[] = {
        {"00ff1A", 3, nullptr, "00ff1a"},
        {"00ff1A", 10, nullptr, "00ff1a"},
        {"00ff1A", 2, "input too long", ""},
        {"abc", 2, "input has odd length, bad hex", ""},
        {"abc", 1, "input too long", ""},
        {"", 0, nullptr, ""},
        {"", 4, nullptr, ""},
        {"11zz22", 3, "bad hex character", "11"},
        {"0g11", 2, "bad hex character", ""},
        {"\xff" "0", 1, "bad hex character", ""},
        {"DEADbeef", 4, nullptr, "deadbeef"},
    };
    for (const auto& c : cases) {
        std::array<unsigned char, 12> out;
        out.fill(0xEE);
        EXPECT_STREQ(unhex(c.text, out.data(), c.capacity), c.message) << c.text << " / " << c.capacity;
        char written[32];
        hex(out.data(), static_cast<uint32_t>(c.stored.size() / 2), written);
        EXPECT_EQ(std::string(written), c.stored) << c.text;
        for (size_t i = c.stored.size() / 2; i < out.size(); ++i) {
            EXPECT_EQ(out[i], 0xEE) << c.text << " byte " << i;
        }
    }
}

TEST(Hex, RoundTrip) {
    unsigned char bytes[256];
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(255 - i);
    char text[513];
    hex(bytes, 256, text);
    unsigned char back[256] = {};
    EXPECT_EQ(unhex(text, back, 256), nullptr);
    EXPECT_EQ(std::memcmp(bytes, back, 256), 0);
}

}  // namespace
