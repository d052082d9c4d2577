#include "csv_fast.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "identity_rules.h"
#include "mintcore.h"

using namespace mint::identity_rules;

const char* find_csv_stop_portable(const char* text, char stop) {
    while (*text != stop && *text != '\0') ++text;
    return text;
}

#if defined(__SSE2__)
// Thirty-two bytes a step: one step covers nearly every field, so how long a
// field is decides no branch.
const char* find_csv_stop(const char* text, char stop) {
    const __m128i stops = _mm_set1_epi8(stop);
    const __m128i zeros = _mm_setzero_si128();
    for (;; text += 32) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 16));
        const auto low_hits = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(low, stops), _mm_cmpeq_epi8(low, zeros))));
        const auto high_hits = static_cast<uint32_t>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(high, stops), _mm_cmpeq_epi8(high, zeros))));
        const uint32_t hits = low_hits | (high_hits << 16);
        if (hits != 0) return text + __builtin_ctz(hits);
    }
}
#else
const char* find_csv_stop(const char* text, char stop) {
    return find_csv_stop_portable(text, stop);
}
#endif

namespace {

struct text_field {
    const char* start;
    size_t length;
};

// One text field at `position` (not at the end of the line), by the rule of
// read_csv_text_field: the position of the next field, or null when this one
// runs to the end of the line.
const char* next_text_field(const char* position, text_field* field) {
    const bool quoted = *position == '"';
    const char* start = position + (quoted ? 1 : 0);
    const char* end = find_csv_stop(start, quoted ? '"' : ',');
    field->start = start;
    field->length = static_cast<size_t>(end - start);
    const char* after = end + (quoted && *end == '"' ? 1 : 0);
    if (*after == '\0') return nullptr;
    return *after == ',' ? after + 1 : after;
}

// The field buffers of the general path keep this many characters.
constexpr size_t kept_name_characters = 99;
constexpr size_t kept_ssn_characters = 999;

// The codes of a text's characters under `codes_of`, the first L of them
// into `codes` (zero-filled); returns how many characters have a code.
template <size_t L>
size_t convert_text(const code_table& codes_of, text_field text, unsigned char (&codes)[L]) {
    // One spare slot takes the writes of skipped characters, so no branch
    // depends on whether a character is a letter or a blank.
    unsigned char slots[L + 1] = {};
    size_t count = 0;
    for (size_t i = 0; i < text.length; ++i) {
        const int code = codes_of[static_cast<unsigned char>(text.start[i])];
        const size_t slot = code >= 0 && count < L ? count : L;
        slots[slot] = static_cast<unsigned char>(code);
        count += code >= 0 ? 1 : 0;
    }
    std::memcpy(codes, slots, L);
    return count;
}

// An empty name stays unset; a name with no letter is refused (with a message).
bool take_name(text_field text, unsigned char (&codes)[name_length], uint32_t* flags, uint32_t mark) {
    if (text.length > kept_name_characters) return false;
    const size_t letters = convert_text(letter_codes, text, codes);
    if (text.length == 0) return true;
    if (letters == 0) return false;
    *flags |= mark;
    return true;
}

// The programs take an SSN of exactly nine digits, wherever they stand.
bool take_ssn(text_field text, unsigned char (&digits)[ssn_length], uint32_t* flags, uint32_t mark) {
    if (text.length > kept_ssn_characters) return false;
    const size_t count = convert_text(digit_values, text, digits);
    if (text.length == 0) return true;
    if (count != ssn_length) return false;
    *flags |= mark;
    return true;
}

// The value of 1 to 4 characters that must all be decimal digits, or -1.
// The four bytes from `digits` are read at once (the line's slack allows it).
int small_number(const char* digits, size_t count) {
    uint32_t word = 0;
    for (int i = 3; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(digits[i]);
    // Right-align the digits (first digit most significant) and fill the
    // free leading places with '0'.
    const unsigned shift = 8 * static_cast<unsigned>(4 - count);
    word = (word << shift) | (0x30303030u & ~(0xFFFFFFFFu << shift));
    const bool all_digits =
        (word & 0xF0F0F0F0u) == 0x30303030u && ((word + 0x06060606u) & 0xF0F0F0F0u) == 0x30303030u;
    if (!all_digits) return -1;
    uint32_t values = word - 0x30303030u;
    values = (values * 10 + (values >> 8)) & 0x00FF00FFu;  // two 2-digit numbers
    return static_cast<int>((values * 100 + (values >> 16)) & 0xFFFFu);
}

// One number field at `*position`, by the rule of read_csv_int_field, taken
// when it is empty or 1 to 4 digits in `range`. The last field of the line
// may be missing or end the line; any other must be followed by a comma.
bool take_number(const char** position, int32_t* value, uint32_t* flags, uint32_t mark, value_range range,
                 bool last) {
    const char* p = *position;
    *value = 0;
    if (*p == '\0') return last;
    if (*p == ',') {
        *position = p + 1;
        return true;
    }
    const char* end = find_csv_stop(p, ',');
    const auto count = static_cast<size_t>(end - p);
    if (count > 4) return false;
    const int number = small_number(p, count);
    if (number < 0 || !range.holds(number)) return false;
    if (*end == '\0' && !last) return false;
    *value = number;
    *flags |= mark;
    *position = end + 1;
    return true;
}

struct person_fields {
    unsigned char (&name)[name_length];
    unsigned char (&ssn)[ssn_length];
    int32_t& gender;
    int32_t& birth_year;
    int32_t& birth_month;
    int32_t& birth_day;
    unsigned flag_shift;  // the policy holder's marks are the patient's shifted
};

// The six fields of one person, from `*position`; `ends_line` for the policy
// holder, whose birth day is the line's last field.
bool take_person(const char** position, const person_fields& person, uint32_t* flags, bool ends_line) {
    const unsigned shift = person.flag_shift;
    text_field text;
    const char* p = *position;
    if (*p == '\0' || (p = next_text_field(p, &text)) == nullptr) return false;
    if (!take_name(text, person.name, flags, PATIENT_NAME_SET << shift)) return false;
    if (*p == '\0' || (p = next_text_field(p, &text)) == nullptr) return false;
    if (!take_ssn(text, person.ssn, flags, PATIENT_SSN_SET << shift)) return false;
    if (!take_number(&p, &person.gender, flags, PATIENT_GENDER_SET << shift, gender_range, false) ||
        !take_number(&p, &person.birth_year, flags, PATIENT_BIRTH_YEAR_SET << shift, birth_year_range, false) ||
        !take_number(&p, &person.birth_month, flags, PATIENT_BIRTH_MONTH_SET << shift, birth_month_range,
                     false) ||
        !take_number(&p, &person.birth_day, flags, PATIENT_BIRTH_DAY_SET << shift, birth_day_range, ends_line)) {
        return false;
    }
    *position = p;
    return true;
}

}  // namespace

fast_line derive_csv_line_fast(const char* line, char (&uuid)[12]) {
    if (*line == '\0') return fast_line::general_path;
    text_field key;
    const char* p = next_text_field(line, &key);
    if (p == nullptr || key.length == 0) return fast_line::general_path;

    // Every field is written below, so the record needs no clearing first.
    uuid_hash_data data;
    data.flags = 0;
    const person_fields patient = {data.patient_name,      data.patient_ssn,        data.patient_gender,
                                   data.patient_birth_year, data.patient_birth_month, data.patient_birth_day,
                                   0};
    const person_fields policy = {data.policy_name,      data.policy_ssn,        data.policy_gender,
                                  data.policy_birth_year, data.policy_birth_month, data.policy_birth_day,
                                  8};
    if (!take_person(&p, patient, &data.flags, false) || !take_person(&p, policy, &data.flags, true)) {
        return fast_line::general_path;
    }
    // A record with an SSN that fits no mode is refused with a message.
    const bool patient_key = (data.flags & PATIENT_FIELDS) == PATIENT_FIELDS;
    if (!patient_key && data.flags != POLICY_KEY_FLAGS && (data.flags & ANY_SSN) != 0) {
        return fast_line::general_path;
    }
    if (!uuid_create(&data)) return fast_line::general_path;
    std::memcpy(uuid, data.uuid, sizeof uuid);
    return fast_line::derived;
}
