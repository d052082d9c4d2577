// What the identity record's setters accept and how they store it: letter
// codes for names, digit values for SSNs, and the ranges of the numbers.
// Internal to the library and its programs (not installed), so that a program
// that fills a record by another route follows exactly the setters' rules.
#ifndef MINTCORE_IDENTITY_RULES_H
#define MINTCORE_IDENTITY_RULES_H

#include <array>
#include <cstddef>

namespace mint::identity_rules {

constexpr int name_letter_code(int c) {
    if (c >= 'A' && c <= 'Z') return c - 'A' + 1;
    if (c >= 'a' && c <= 'z') return c - 'a' + 1;
    return -1;
}

constexpr int ssn_digit_value(int c) {
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

static_assert(name_letter_code('a') == 1 && name_letter_code('Z') == 26 && name_letter_code('[') == -1);
static_assert(ssn_digit_value('0') == 0 && ssn_digit_value('9') == 9 && ssn_digit_value('a') == -1);

// The conversions as tables over all byte values, so that a character is
// looked up instead of tested: -1 for a character that is skipped.
using code_table = std::array<signed char, 256>;

constexpr code_table table_of(int (*convert)(int)) {
    code_table table{};
    for (int byte = 0; byte < 256; ++byte) {
        // Characters are taken as signed 8-bit values: no byte from 0x80 up is
        // a letter or a digit.
        table[static_cast<size_t>(byte)] = static_cast<signed char>(convert(static_cast<signed char>(byte)));
    }
    return table;
}

constexpr code_table letter_codes = table_of(name_letter_code);
constexpr code_table digit_values = table_of(ssn_digit_value);
static_assert(letter_codes['q'] == 17 && letter_codes[0xE9] == -1 && digit_values['7'] == 7);

// A name keeps the codes of its first 20 letters; an SSN its first 9 digits.
constexpr size_t name_length = 20;
constexpr size_t ssn_length = 9;

struct value_range {
    int lowest;
    int highest;

    constexpr bool holds(int value) const { return value >= lowest && value <= highest; }
};

constexpr value_range gender_range{1, 2};
constexpr value_range birth_year_range{1851, 2099};
constexpr value_range birth_month_range{1, 12};
constexpr value_range birth_day_range{1, 31};

}  // namespace mint::identity_rules

#endif
