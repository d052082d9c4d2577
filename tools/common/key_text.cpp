#include "key_text.h"

namespace {

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool is_key_whitespace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

static_assert(key_file_max_digits == 1024 && key_file_min_digits == 32, "the reasons give the limits");

void open_key_text(key_text* text) {
    text->digits = 0;
}

key_text_fault take_key_text(key_text* text, const unsigned char* bytes, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (is_key_whitespace(bytes[i])) continue;
        const int value = hex_value(bytes[i]);
        if (value < 0) return key_text_fault::bad_character;
        if (text->digits == key_file_max_digits) return key_text_fault::too_many_digits;
        unsigned char& byte = text->bytes[text->digits / 2];
        byte = text->digits % 2 == 0 ? static_cast<unsigned char>(value << 4) : static_cast<unsigned char>(byte | value);
        ++text->digits;
    }
    return key_text_fault::none;
}

key_text_fault finish_key_text(const key_text* text) {
    if (text->digits == 0) return key_text_fault::empty;
    if (text->digits % 2 != 0) return key_text_fault::odd_digits;
    if (text->digits < key_file_min_digits) return key_text_fault::too_few_digits;
    return key_text_fault::none;
}

const char* key_text_fault_reason(key_text_fault fault) {
    switch (fault) {
        case key_text_fault::none:
            break;
        case key_text_fault::empty:
            return "it is empty";
        case key_text_fault::bad_character:
            return "it holds a character other than hex digits and whitespace";
        case key_text_fault::odd_digits:
            return "it holds an odd number of hex digits";
        case key_text_fault::too_few_digits:
            return "it holds fewer than 32 hex digits";
        case key_text_fault::too_many_digits:
            return "it holds more than 1024 hex digits";
    }
    return nullptr;
}
