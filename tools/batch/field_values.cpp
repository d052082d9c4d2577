#include "field_values.h"

#include <cstring>

namespace {

constexpr int32_t saturated(int64_t magnitude, bool negative) {
    const int64_t value = negative ? -magnitude : magnitude;
    return value > INT32_MAX ? INT32_MAX : value < INT32_MIN ? INT32_MIN : static_cast<int32_t>(value);
}

// Exactly `count` digits at `text` (count 0: one or two), as a number; the
// position after them, or null when they are not there.
const char* take_digits(const char* text, int count, int32_t* value) {
    int taken = 0;
    int32_t number = 0;
    const int most = count == 0 ? 2 : count;
    while (taken < most && text[taken] >= '0' && text[taken] <= '9') {
        number = number * 10 + (text[taken] - '0');
        ++taken;
    }
    if (taken == 0 || (count != 0 && taken != count)) return nullptr;
    *value = number;
    return text + taken;
}

const char* take_char(const char* text, char wanted) {
    return text != nullptr && *text == wanted ? text + 1 : nullptr;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_code(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (lower(*a) != lower(*b)) return false;
    }
    return *a == *b;
}

struct named_format {
    const char* text;
    date_format format;
};

constexpr named_format date_formats[] = {
    {"%Y-%m-%d", date_format::year_month_day},     {"%d/%m/%Y", date_format::day_month_year_slash},
    {"%m/%d/%Y", date_format::month_day_year_slash}, {"%d.%m.%Y", date_format::day_month_year_dot},
    {"%Y%m%d", date_format::compact},
};

}  // namespace

value_verdict judge_number(const char* text, int32_t* value) {
    const char* p = text;
    const bool negative = *p == '-';
    if (negative) ++p;
    if (*p == '\0') return value_verdict::absent;
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > int64_t{INT32_MAX} + 1) magnitude = int64_t{INT32_MAX} + 1;
    }
    if (*p != '\0' || p == text + (negative ? 1 : 0)) return value_verdict::refused;
    *value = saturated(magnitude, negative);
    return value_verdict::value;
}

bool find_date_format(const char* text, date_format* format) {
    for (const named_format& named : date_formats) {
        if (std::strcmp(text, named.text) == 0) {
            *format = named.format;
            return true;
        }
    }
    return false;
}

const char* date_format_text(date_format format) {
    for (const named_format& named : date_formats) {
        if (named.format == format) return named.text;
    }
    return "";
}

value_verdict judge_date(const char* text, date_format format, int32_t* year, int32_t* month, int32_t* day) {
    if (*text == '\0') return value_verdict::absent;
    int32_t y = 0;
    int32_t m = 0;
    int32_t d = 0;
    const char* p = text;
    switch (format) {
        case date_format::year_month_day:
            p = take_digits(p, 4, &y);
            p = p ? take_char(p, '-') : nullptr;
            p = p ? take_digits(p, 0, &m) : nullptr;
            p = p ? take_char(p, '-') : nullptr;
            p = p ? take_digits(p, 0, &d) : nullptr;
            break;
        case date_format::day_month_year_slash:
        case date_format::month_day_year_slash:
        case date_format::day_month_year_dot: {
            const char separator = format == date_format::day_month_year_dot ? '.' : '/';
            int32_t first = 0;
            int32_t second = 0;
            p = take_digits(p, 0, &first);
            p = p ? take_char(p, separator) : nullptr;
            p = p ? take_digits(p, 0, &second) : nullptr;
            p = p ? take_char(p, separator) : nullptr;
            p = p ? take_digits(p, 4, &y) : nullptr;
            d = format == date_format::month_day_year_slash ? second : first;
            m = format == date_format::month_day_year_slash ? first : second;
            break;
        }
        case date_format::compact:
            p = take_digits(p, 4, &y);
            p = p ? take_digits(p, 2, &m) : nullptr;
            p = p ? take_digits(p, 2, &d) : nullptr;
            break;
    }
    if (p == nullptr || *p != '\0') return value_verdict::refused;
    *year = y;
    *month = m;
    *day = d;
    return value_verdict::value;
}

bool parse_gender_codes(const char* text, gender_codes* codes) {
    codes->count = 0;
    const char* p = text;
    for (;;) {
        const char* equals = p;
        while (*equals != '\0' && *equals != '=' && *equals != ',') ++equals;
        const auto length = static_cast<size_t>(equals - p);
        if (*equals != '=' || length == 0 || length > most_gender_code_length) return false;
        if (codes->count == most_gender_codes) return false;
        const char* number = equals + 1;
        const char* end = number;
        while (*end != '\0' && *end != ',') ++end;
        char digits[16];
        const auto digits_length = static_cast<size_t>(end - number);
        if (digits_length == 0 || digits_length >= sizeof digits) return false;
        std::memcpy(digits, number, digits_length);
        digits[digits_length] = '\0';
        int32_t value = 0;
        if (judge_number(digits, &value) != value_verdict::value) return false;
        std::memcpy(codes->code[codes->count], p, length);
        codes->code[codes->count][length] = '\0';
        codes->value[codes->count] = value;
        ++codes->count;
        if (*end == '\0') return true;
        p = end + 1;
    }
}

value_verdict judge_gender(const char* text, const gender_codes* codes, int32_t* value) {
    if (codes != nullptr) {
        for (size_t i = 0; i < codes->count; ++i) {
            if (same_code(text, codes->code[i])) {
                *value = codes->value[i];
                return value_verdict::value;
            }
        }
    }
    return judge_number(text, value);
}
