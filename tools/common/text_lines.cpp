#include "text_lines.h"

#include <algorithm>
#include <cstring>
#include <limits>

int read_line(FILE* stream, char* line, int size) {
    int c = getc(stream);
    if (c == EOF) return 0;
    int kept = 0;
    for (; c != EOF && c != '\n' && c != '\r'; c = getc(stream)) {
        if (kept < size - 1) line[kept++] = static_cast<char>(c);
    }
    if (size > 0) line[kept] = '\0';
    if (c == '\r') {
        // A CR LF is one line end; anything else after a CR starts the next line.
        c = getc(stream);
        if (c != '\n' && c != EOF) ungetc(c, stream);
    }
    return 1;
}

int match_keyword(const char* line, const char* keyword) {
    while (*keyword != '\0' && *line == *keyword) {
        ++line;
        ++keyword;
    }
    if (*keyword != '\0') return 0;
    return *line == '\0' || *line == ' ' || *line == '\t' || *line == '\r' || *line == '\n';
}

namespace {

bool is_word_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

}  // namespace

const char* find_value(const char* line) {
    if (line == nullptr) return nullptr;
    while (is_word_blank(*line)) ++line;
    if (*line == '\0') return nullptr;
    while (*line != '\0' && !is_word_blank(*line)) ++line;
    while (is_word_blank(*line)) ++line;
    return *line == '\0' ? nullptr : line;
}

void copy_bounded(char* destination, const char* source, size_t size) {
    if (size == 0) return;
    std::strncpy(destination, source, size);
    destination[size - 1] = '\0';
}

const char* scan_digits(const char* digits, bool negative, int32_t* value) {
    // Accumulate in 64 bits, clamping once past the 32-bit range so that any
    // number of digits stays defined.
    constexpr int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    const char* p = digits;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) magnitude = limit;
    }
    const int64_t signed_value = negative ? -magnitude : magnitude;
    *value = static_cast<int32_t>(std::min<int64_t>(signed_value, std::numeric_limits<int32_t>::max()));
    return p;
}

bool scan_decimal(const char* text, int32_t* value, const char** end) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    if (*p < '0' || *p > '9') {
        *value = 0;
        *end = text;
        return false;
    }
    *end = scan_digits(p, negative, value);
    return true;
}

int32_t decimal_value(const char* text) {
    int32_t value = 0;
    const char* end = nullptr;
    scan_decimal(text, &value, &end);
    return value;
}
