// Helpers for keyword/value text lines and decimal numbers.
#ifndef MINT_TOOLS_TEXT_LINES_H
#define MINT_TOOLS_TEXT_LINES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Reads one line: it ends at a LF, a CR LF or a lone CR (the last line of a
// file may have no end). At most size - 1 of its characters are kept, always
// terminated; the rest of a longer line is read and skipped, so that a line
// of any length is one line, in bounded memory. Returns 0 at end of input or
// on a read error.
int read_line(FILE* stream, char* line, int size);

// 1 when `line` begins with `keyword` as a whole word: the keyword is followed
// by the end of the text, a space, a tab, a CR or a LF.
int match_keyword(const char* line, const char* keyword);

// The start of the line's second word (everything up to the end of the line),
// or null when there is none. Spaces, tabs and LFs separate words.
const char* find_value(const char* line);

// strncpy, then always terminated within `size` bytes.
void copy_bounded(char* destination, const char* source, size_t size);

// Decimal conversion: leading white space, an optional sign, then digits up to
// the first non-digit. A value beyond the 32-bit range saturates to the nearest
// bound. Returns false (and 0 in *value) when there are no digits; *end is set
// to the first character after the digits, or to `text` when there are none.
bool scan_decimal(const char* text, int32_t* value, const char** end);

// The decimal digits at `digits` (there must be at least one) as a number of
// the given sign, saturated to the 32-bit bounds. Returns the position after
// the digits.
const char* scan_digits(const char* digits, bool negative, int32_t* value);

// As atol does, but saturating to 32 bits: 0 when there are no digits.
int32_t decimal_value(const char* text);

#endif
