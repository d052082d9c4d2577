#include "csv_fast.h"

#include <algorithm>
#include <bit>
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

// The key, the patient's six fields and the policy holder's six.
constexpr size_t line_field_count = 13;

// A line cut into its fields: texts without their enclosing quotes. A field
// that the general path reads as a number and that starts with a quote is
// marked, since no number can come from it.
struct line_fields {
    text_field fields[line_field_count];
    bool quoted[line_field_count];
};

constexpr bool is_number_column(size_t i) {
    // Per person: name, SSN, then the four numbers.
    return i != 0 && (i - 1) % 6 >= 2;
}

enum class split_result { split, short_line, other_route };

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

// Field by field, each found by a scan from the end of the one before: any
// line, of any length.
split_result split_by_scanning(const char* line, line_fields* split) {
    const char* p = line;
    for (size_t i = 0; i < line_field_count; ++i) {
        const bool last = i + 1 == line_field_count;
        split->quoted[i] = false;
        if (*p == '\0') {
            // Only the last field may be missing altogether.
            if (!last) return split_result::short_line;
            split->fields[i] = {p, 0};
            break;
        }
        if (is_number_column(i)) {
            // Numbers know no quotes: digits up to the comma.
            const char* end = find_csv_stop(p, ',');
            split->fields[i] = {p, static_cast<size_t>(end - p)};
            if (*end == '\0' && !last) return split_result::short_line;
            p = end + 1;
        } else {
            p = next_text_field(p, &split->fields[i]);
            if (p == nullptr) return split_result::short_line;
        }
    }
    return split_result::split;
}

#if defined(__SSE2__)

// Lines shorter than this are split from bit masks of their commas and
// quotes, found a vector at a time; the caller's slack covers the reads.
constexpr size_t mask_split_limit = 128;
static_assert(csv_line_slack >= mask_split_limit, "a short line is read as a whole 128 bytes");

// Bit i of a mask stands for byte i of the line.
struct line_mask {
    uint64_t low;
    uint64_t high;
};

constexpr line_mask operator&(line_mask a, line_mask b) {
    return {a.low & b.low, a.high & b.high};
}
constexpr line_mask operator|(line_mask a, line_mask b) {
    return {a.low | b.low, a.high | b.high};
}
constexpr line_mask operator~(line_mask a) {
    return {~a.low, ~a.high};
}
constexpr bool any(line_mask a) {
    return (a.low | a.high) != 0;
}
constexpr line_mask shifted_up(line_mask a) {
    return {a.low << 1, (a.high << 1) | (a.low >> 63)};
}
constexpr line_mask below(unsigned bit) {
    if (bit >= 64) return {~uint64_t{0}, (uint64_t{1} << (bit - 64)) - 1};
    return {(uint64_t{1} << bit) - 1, 0};
}
constexpr line_mask only(unsigned bit) {
    return bit >= 64 ? line_mask{0, uint64_t{1} << (bit - 64)} : line_mask{uint64_t{1} << bit, 0};
}

// The lowest set bit, or 128 for none.
unsigned lowest_bit(line_mask mask) {
    const auto in_low = static_cast<unsigned>(std::countr_zero(mask.low));
    return in_low < 64 ? in_low : 64 + static_cast<unsigned>(std::countr_zero(mask.high));
}

// The mask less its lowest set bit.
line_mask without_lowest(line_mask mask) {
    if (mask.low != 0) return {mask.low & (mask.low - 1), mask.high};
    return {0, mask.high & (mask.high - 1)};
}

// Bit i is set when an odd number of bits at or below i are.
line_mask prefix_parity(line_mask mask) {
    uint64_t low = mask.low;
    uint64_t high = mask.high;
    for (unsigned shift = 1; shift < 64; shift *= 2) {
        low ^= low << shift;
        high ^= high << shift;
    }
    // The low half's total parity carries into the high half.
    return {low, high ^ (0 - (low >> 63))};
}

struct line_masks {
    line_mask commas;
    line_mask quotes;
    line_mask zeros;
};

// Commas, quotes and zeros among 64 bytes.
void masks_of_half(const char* bytes, uint64_t* commas, uint64_t* quotes, uint64_t* zeros) {
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i zero = _mm_setzero_si128();
    const auto mask_of = [](__m128i matches) {
        return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(matches))};
    };
    uint64_t c = 0, q = 0, z = 0;
    for (unsigned i = 0; i < 4; ++i) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i));
        c |= mask_of(_mm_cmpeq_epi8(chunk, comma)) << (16 * i);
        q |= mask_of(_mm_cmpeq_epi8(chunk, quote)) << (16 * i);
        z |= mask_of(_mm_cmpeq_epi8(chunk, zero)) << (16 * i);
    }
    *commas = c;
    *quotes = q;
    *zeros = z;
}

line_masks masks_of(const char* line) {
    line_masks masks;
    masks_of_half(line, &masks.commas.low, &masks.quotes.low, &masks.zeros.low);
    masks_of_half(line + 64, &masks.commas.high, &masks.quotes.high, &masks.zeros.high);
    return masks;
}

// All of a line of fewer than mask_split_limit bytes at once. Quotes are
// taken here only in their plain form: a quoted field opens at a field start
// and closes just before a comma or the end of the line. Any other use of
// quotes is left to split_by_scanning.
split_result split_by_masks(const char* line, line_fields* split) {
    const line_masks masks = masks_of(line);
    // Parsing stops at the first zero byte, the terminator or one before it.
    const unsigned end = lowest_bit(masks.zeros);
    const line_mask before_end = below(end);
    line_mask separators = masks.commas & before_end;
    const line_mask quotes = masks.quotes & before_end;
    if (any(quotes)) {
        const line_mask inside = prefix_parity(quotes);  // opening quote up to its closing one
        if (any(inside & only(end - 1))) return split_result::other_route;  // one left open
        separators = separators & ~inside;
        const line_mask field_starts = shifted_up(separators) | only(0);
        const line_mask field_ends = separators | only(end);
        const line_mask opening = quotes & inside;
        const line_mask closing = quotes & ~inside;
        if (any(opening & ~field_starts) || any(shifted_up(closing) & ~field_ends)) {
            return split_result::other_route;
        }
    }
    unsigned start = 0;
    bool short_line = false;
    for (size_t i = 0; i < line_field_count; ++i) {
        // Every field but the last ends at a comma; the last at the next
        // comma, if any, else at the end.
        const unsigned comma = lowest_bit(separators);
        short_line |= comma >= end && i + 1 < line_field_count;
        const unsigned stop = std::min(comma, end);
        separators = without_lowest(separators);
        const bool quoted = line[start] == '"' && stop > start;
        const unsigned skip = quoted ? 1 : 0;
        split->fields[i] = {line + start + skip, stop - start - 2 * skip};
        split->quoted[i] = quoted;
        start = stop + 1;
    }
    return short_line ? split_result::short_line : split_result::split;
}

split_result split_line(const char* line, size_t length, line_fields* split) {
    if (length < mask_split_limit) {
        const split_result result = split_by_masks(line, split);
        if (result != split_result::other_route) return result;
    }
    return split_by_scanning(line, split);
}

#else

split_result split_line(const char* line, size_t, line_fields* split) {
    return split_by_scanning(line, split);
}

#endif

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

#if defined(__SSE2__)

// Texts of up to this many characters are converted a vector at a time.
constexpr size_t vector_text_limit = 32;

// The vector form of a conversion: a byte is taken when it (with its case
// folded, for letters) lies in [lowest, highest], and its code is the byte's
// low bits. It must agree with the table for every byte.
struct vector_rule {
    bool fold_case;
    char lowest;
    char highest;
    char code_bits;
};

constexpr vector_rule letter_rule = {true, 'a', 'z', 0x1F};
constexpr vector_rule digit_rule = {false, '0', '9', 0x0F};

constexpr bool agrees(const vector_rule& rule, const code_table& table) {
    for (int byte = 0; byte < 256; ++byte) {
        const int c = static_cast<signed char>(byte);
        const int folded = rule.fold_case ? (c | 0x20) : c;
        const bool taken = folded >= rule.lowest && folded <= rule.highest;
        const int code = table[static_cast<size_t>(byte)];
        if (taken != (code >= 0) || (taken && (byte & rule.code_bits) != code)) return false;
    }
    return true;
}
static_assert(agrees(letter_rule, letter_codes) && agrees(digit_rule, digit_values));

// convert_text for a text of at most vector_text_limit characters: the codes
// are computed in place and the skipped characters then cut out one by one,
// the last first (names and SSNs have few).
template <size_t L>
size_t convert_short_text(const vector_rule& rule, text_field text, unsigned char (&codes)[L]) {
    static_assert(L <= vector_text_limit);
    const __m128i index_low = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m128i index_high = _mm_add_epi8(index_low, _mm_set1_epi8(16));
    const __m128i length = _mm_set1_epi8(static_cast<char>(text.length));
    const __m128i fold = _mm_set1_epi8(rule.fold_case ? 0x20 : 0);
    const __m128i below_lowest = _mm_set1_epi8(static_cast<char>(rule.lowest - 1));
    const __m128i above_highest = _mm_set1_epi8(static_cast<char>(rule.highest + 1));
    const __m128i code_bits = _mm_set1_epi8(rule.code_bits);
    const auto taken = [&](__m128i bytes, __m128i index) {
        const __m128i folded = _mm_or_si128(bytes, fold);
        const __m128i in_range = _mm_and_si128(_mm_cmpgt_epi8(folded, below_lowest), _mm_cmpgt_epi8(above_highest, folded));
        return _mm_and_si128(in_range, _mm_cmpgt_epi8(length, index));
    };
    __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.start));
    __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.start + 16));
    const __m128i taken_low = taken(low, index_low);
    const __m128i taken_high = taken(high, index_high);
    low = _mm_and_si128(_mm_and_si128(low, code_bits), taken_low);
    high = _mm_and_si128(_mm_and_si128(high, code_bits), taken_high);

    const uint32_t taken_bits = static_cast<uint32_t>(_mm_movemask_epi8(taken_low)) |
                                (static_cast<uint32_t>(_mm_movemask_epi8(taken_high)) << 16);
    const uint32_t field_bits = text.length == 32 ? ~uint32_t{0} : (uint32_t{1} << text.length) - 1;
    uint32_t skipped = field_bits & ~taken_bits;
    size_t count = text.length;
    while (skipped != 0) {
        const int position = 31 - std::countl_zero(skipped);
        skipped ^= uint32_t{1} << position;
        --count;
        // From `position` on, every byte moves down one place.
        const __m128i at = _mm_set1_epi8(static_cast<char>(position));
        const __m128i keep_low = _mm_cmpgt_epi8(at, index_low);
        const __m128i keep_high = _mm_cmpgt_epi8(at, index_high);
        const __m128i next_low = _mm_or_si128(_mm_srli_si128(low, 1), _mm_slli_si128(high, 15));
        const __m128i next_high = _mm_srli_si128(high, 1);
        low = _mm_or_si128(_mm_and_si128(keep_low, low), _mm_andnot_si128(keep_low, next_low));
        high = _mm_or_si128(_mm_and_si128(keep_high, high), _mm_andnot_si128(keep_high, next_high));
    }
    alignas(16) unsigned char all[32];
    _mm_store_si128(reinterpret_cast<__m128i*>(all), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(all + 16), high);
    std::memcpy(codes, all, L);
    return count;
}

template <size_t L>
size_t convert_field(const vector_rule& rule, const code_table& codes_of, text_field text,
                     unsigned char (&codes)[L]) {
    if (text.length <= vector_text_limit) return convert_short_text(rule, text, codes);
    return convert_text(codes_of, text, codes);
}

#else

struct vector_rule {};
constexpr vector_rule letter_rule = {};
constexpr vector_rule digit_rule = {};

template <size_t L>
size_t convert_field(const vector_rule&, const code_table& codes_of, text_field text, unsigned char (&codes)[L]) {
    return convert_text(codes_of, text, codes);
}

#endif

// An empty name stays unset; a name with no letter is refused (with a message).
bool take_name(text_field text, unsigned char (&codes)[name_length], uint32_t* flags, uint32_t mark) {
    if (text.length > kept_name_characters) return false;
    const size_t letters = convert_field(letter_rule, letter_codes, text, codes);
    if (text.length == 0) return true;
    if (letters == 0) return false;
    *flags |= mark;
    return true;
}

// The programs take an SSN of exactly nine digits, wherever they stand.
bool take_ssn(text_field text, unsigned char (&digits)[ssn_length], uint32_t* flags, uint32_t mark) {
    if (text.length > kept_ssn_characters) return false;
    const size_t count = convert_field(digit_rule, digit_values, text, digits);
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

// A number field, taken when it is empty (unset) or 1 to 4 digits in `range`.
bool take_number(text_field text, bool quoted, int32_t* value, uint32_t* flags, uint32_t mark,
                 value_range range) {
    *value = 0;
    if (text.length == 0 && !quoted) return true;
    if (quoted || text.length > 4) return false;
    const int number = small_number(text.start, text.length);
    if (number < 0 || !range.holds(number)) return false;
    *value = number;
    *flags |= mark;
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

// The six fields of one person, from split fields `first` on.
bool take_person(const line_fields& split, size_t first, const person_fields& person, uint32_t* flags) {
    const unsigned shift = person.flag_shift;
    const text_field* field = split.fields + first;
    const bool* quoted = split.quoted + first;
    // Every field is converted, so that the record is whole whatever the
    // outcome; `&` keeps the conversions free of branches between them.
    return take_name(field[0], person.name, flags, PATIENT_NAME_SET << shift) &
           take_ssn(field[1], person.ssn, flags, PATIENT_SSN_SET << shift) &
           take_number(field[2], quoted[2], &person.gender, flags, PATIENT_GENDER_SET << shift, gender_range) &
           take_number(field[3], quoted[3], &person.birth_year, flags, PATIENT_BIRTH_YEAR_SET << shift,
                       birth_year_range) &
           take_number(field[4], quoted[4], &person.birth_month, flags, PATIENT_BIRTH_MONTH_SET << shift,
                       birth_month_range) &
           take_number(field[5], quoted[5], &person.birth_day, flags, PATIENT_BIRTH_DAY_SET << shift,
                       birth_day_range);
}

}  // namespace

fast_line derive_csv_line_fast(const char* line, size_t length, char (&uuid)[12]) {
    line_fields split;
    if (split_line(line, length, &split) != split_result::split || split.fields[0].length == 0) {
        return fast_line::general_path;
    }
    uuid_hash_data data;
    data.flags = 0;
    const person_fields patient = {data.patient_name,      data.patient_ssn,        data.patient_gender,
                                   data.patient_birth_year, data.patient_birth_month, data.patient_birth_day,
                                   0};
    const person_fields policy = {data.policy_name,      data.policy_ssn,        data.policy_gender,
                                  data.policy_birth_year, data.policy_birth_month, data.policy_birth_day,
                                  8};
    if (!take_person(split, 1, patient, &data.flags) || !take_person(split, 7, policy, &data.flags)) {
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
