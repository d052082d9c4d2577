// The rules of a key file's text (key_text.h), for the programs and the
// Python module alike.
#include "key_text.h"

#include "hmac_sha256.h"

static_assert(MINT_KEY_TEXT_MIN_DIGITS == 32 && MINT_KEY_TEXT_MAX_DIGITS == 1024, "the texts give the limits");

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

extern "C" {

void mint_key_text_start(mint_key_text* secret) {
    secret->digits = 0;
}

int mint_key_text_take(mint_key_text* secret, const unsigned char* text, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        if (is_key_whitespace(text[i])) continue;
        const int value = hex_value(text[i]);
        if (value < 0) return MINT_KEY_TEXT_BAD_CHARACTER;
        if (secret->digits == MINT_KEY_TEXT_MAX_DIGITS) return MINT_KEY_TEXT_TOO_LONG;
        unsigned char& byte = secret->bytes[secret->digits / 2];
        byte = secret->digits % 2 == 0 ? static_cast<unsigned char>(value << 4)
                                       : static_cast<unsigned char>(byte | value);
        ++secret->digits;
    }
    return MINT_KEY_TEXT_OK;
}

int mint_key_text_finish(const mint_key_text* secret) {
    if (secret->digits == 0) return MINT_KEY_TEXT_EMPTY;
    if (secret->digits % 2 != 0) return MINT_KEY_TEXT_ODD;
    if (secret->digits < MINT_KEY_TEXT_MIN_DIGITS) return MINT_KEY_TEXT_TOO_SHORT;
    return MINT_KEY_TEXT_OK;
}

const char* mint_key_text_fault(int fault) {
    switch (fault) {
        case MINT_KEY_TEXT_BAD_CHARACTER:
            return "it holds a character other than hex digits and whitespace";
        case MINT_KEY_TEXT_TOO_LONG:
            return "it holds more than 1024 hex digits";
        case MINT_KEY_TEXT_EMPTY:
            return "it is empty";
        case MINT_KEY_TEXT_ODD:
            return "it holds an odd number of hex digits";
        case MINT_KEY_TEXT_TOO_SHORT:
            return "it holds fewer than 32 hex digits";
        default:
            return "";
    }
}

int mint_key_text_resembles(const unsigned char* bytes, size_t length) {
    size_t digits = 0;
    for (size_t i = 0; i < length; ++i) {
        if (hex_value(bytes[i]) >= 0) {
            ++digits;
        } else if (!is_key_whitespace(bytes[i])) {
            return 0;
        }
    }
    return digits >= MINT_KEY_TEXT_MIN_DIGITS ? 1 : 0;
}

void mint_key_text_wipe(void* data, size_t length) {
    mint::wipe_secret(data, length);
}

}  // extern "C"
