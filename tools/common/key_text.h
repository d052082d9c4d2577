// The text of a key file, checked and turned into the secret: the part of
// reading a key file that needs no file, so that the browser page reads a key
// by exactly the rules mintbatch does.
#ifndef MINT_TOOLS_KEY_TEXT_H
#define MINT_TOOLS_KEY_TEXT_H

#include <cstddef>

// Hex digits in either case; spaces, tabs, CRs and LFs anywhere are ignored.
// At least key_file_min_digits (16 bytes), key_file_recommended_digits
// recommended, at most key_file_max_digits.
constexpr size_t key_file_min_digits = 32;
constexpr size_t key_file_recommended_digits = 64;
constexpr size_t key_file_max_digits = 1024;

// The secret as it is read: bytes from pairs of hex digits, and the number
// of digits so far. Its holder wipes it when done.
struct key_text {
    unsigned char bytes[key_file_max_digits / 2];
    size_t digits;
};

enum class key_text_fault { none, empty, bad_character, odd_digits, too_few_digits, too_many_digits };

void open_key_text(key_text* text);

// Takes the next `length` bytes of the text. A fault here (a bad character,
// too many digits) is final: nothing more needs to be read.
key_text_fault take_key_text(key_text* text, const unsigned char* bytes, size_t length);

// Whether the whole text, taken, is a key: its secret is then the first
// digits / 2 bytes.
key_text_fault finish_key_text(const key_text* text);

// Why a text with this fault is not a key, as the messages say it after
// "is not a key: " ("it is empty", ...); null for key_text_fault::none.
const char* key_text_fault_reason(key_text_fault fault);

#endif
