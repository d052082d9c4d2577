// Values as exports hold them: numbers, dates and gender codes, each judged
// from one field's text (zero-terminated, as the library's setters take it).
// Nothing here prints, reads files or calls the system, so that any front end
// (the command line, a binding, a browser page) judges values the same way.
#ifndef MINT_TOOLS_BATCH_FIELD_VALUES_H
#define MINT_TOOLS_BATCH_FIELD_VALUES_H

#include <cstddef>
#include <cstdint>

// What a field's text gave: nothing (the field is not given), a value, or a
// text that is not a value of its kind (the record is refused).
enum class value_verdict { absent, value, refused };

// A number as the positional format judges its number fields: empty (or a
// lone '-') is absent; an optional '-' and decimal digits is a value,
// saturated to the 32-bit bounds; anything else (blanks, '+', letters) is
// refused.
value_verdict judge_number(const char* text, int32_t* value);

// The date formats a date column may be read in.
enum class date_format { year_month_day, day_month_year_slash, month_day_year_slash, day_month_year_dot, compact };

// The format named by its strftime-style text ("%Y-%m-%d", "%d/%m/%Y",
// "%m/%d/%Y", "%d.%m.%Y", "%Y%m%d"); false for any other text.
bool find_date_format(const char* text, date_format* format);
const char* date_format_text(date_format format);

// A date: empty is absent; the format's layout (the year four digits, the
// month and day one or two, or exactly eight digits for "%Y%m%d") gives the
// three numbers, which the library's setters then judge as they judge the
// three number fields; anything else is refused.
value_verdict judge_date(const char* text, date_format format, int32_t* year, int32_t* month, int32_t* day);

// Codes a gender column may hold besides numbers, compared without regard
// to ASCII case: "M=1,F=2" reads M and m as 1, F and f as 2.
constexpr size_t most_gender_codes = 16;
constexpr size_t most_gender_code_length = 31;
struct gender_codes {
    size_t count;
    char code[most_gender_codes][most_gender_code_length + 1];
    int32_t value[most_gender_codes];
};

// Parses "CODE=NUMBER[,CODE=NUMBER...]" (codes without '=' or ',', not
// empty, at most most_gender_code_length bytes; numbers as judge_number
// gives values). False for anything else, or more than most_gender_codes.
bool parse_gender_codes(const char* text, gender_codes* codes);

// A gender: one of the codes gives its number; otherwise it is judged as a
// number (so 1 and 2 still read as 1 and 2); anything else is refused.
value_verdict judge_gender(const char* text, const gender_codes* codes, int32_t* value);

#endif
