// The quick route's body. It is compiled once per instruction set: the file
// that includes it names the namespace (MINT_QUICK_ROUTE) and its compiler
// flags decide which vector code is used, SSE2 (the x86-64 baseline) or
// AVX2 with the bit-manipulation instructions. csv_fast.cpp picks one.
//
// Included only by the csv_fast_*.cpp files. Everything here has internal
// linkage or lives in that namespace, and it calls no out-of-line function
// shared with other files (only compiler builtins): a shared inline function
// could otherwise be linked in from the AVX2 compilation and run on a CPU
// without AVX2.
#ifndef MINT_QUICK_ROUTE
#error "define MINT_QUICK_ROUTE, the namespace of this compilation of the quick route"
#endif

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "csv_fast.h"
#include "identity_rules.h"
#include "mintcore.h"

// For the small steps of a line, so that their constants are set up once a
// line rather than once a call.
#if defined(__GNUC__)
#define MINT_INLINE [[gnu::always_inline]] inline
#else
#define MINT_INLINE inline
#endif

namespace MINT_QUICK_ROUTE {

using namespace mint::identity_rules;

#if defined(__SSE2__)
// Thirty-two bytes a step: one step covers nearly every field, so how long a
// field is decides no branch.
const char* find_stop(const char* text, char stop) {
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
const char* find_stop(const char* text, char stop) {
    return find_csv_stop_portable(text, stop);
}
#endif

namespace {

// Bit scans by compiler builtins, with the counts for zero defined.
MINT_INLINE unsigned trailing_zeros(uint64_t value) {
    return value == 0 ? 64 : static_cast<unsigned>(__builtin_ctzll(value));
}
MINT_INLINE unsigned leading_zeros(uint32_t value) {
    return value == 0 ? 32 : static_cast<unsigned>(__builtin_clz(value));
}
MINT_INLINE unsigned smaller(unsigned a, unsigned b) {
    return a < b ? a : b;
}
MINT_INLINE bool within(int value, value_range range) {
    return value >= range.lowest && value <= range.highest;
}

// The setters' conversion tables as plain arrays.
struct byte_codes {
    signed char code[256];
};
constexpr byte_codes plain_codes(const code_table& table) {
    byte_codes codes{};
    for (size_t byte = 0; byte < 256; ++byte) codes.code[byte] = table[byte];
    return codes;
}
constexpr byte_codes route_letter_codes = plain_codes(letter_codes);
constexpr byte_codes route_digit_values = plain_codes(digit_values);

struct text_field {
    const char* start;
    size_t length;
};

// The key, the patient's six fields and the policy holder's six.
constexpr size_t line_field_count = 13;

// A line cut into its fields: texts without their enclosing quotes.
struct line_fields {
    text_field fields[line_field_count];
    // A field that the general path reads as a number was in quotes: no
    // number comes from it there.
    bool quoted_number;
    // The policy holder's six fields are all empty (and not cut out).
    bool policy_absent;
};

constexpr bool is_number_column(size_t i) {
    // Per person: name, SSN, then the four numbers.
    return i != 0 && (i - 1) % 6 >= 2;
}

constexpr uint32_t number_columns = [] {
    uint32_t columns = 0;
    for (size_t i = 0; i < line_field_count; ++i) columns |= is_number_column(i) ? uint32_t{1} << i : 0;
    return columns;
}();
static_assert(number_columns == 0x1E78);

enum class split_result { split, short_line, other_route };

// One text field at `position` (not at the end of the line), by the rule of
// read_csv_text_field: the position of the next field, or null when this one
// runs to the end of the line.
const char* next_text_field(const char* position, text_field* field) {
    const bool quoted = *position == '"';
    const char* start = position + (quoted ? 1 : 0);
    const char* end = find_stop(start, quoted ? '"' : ',');
    field->start = start;
    field->length = static_cast<size_t>(end - start);
    const char* after = end + (quoted && *end == '"' ? 1 : 0);
    if (*after == '\0') return nullptr;
    return *after == ',' ? after + 1 : after;
}

// Field by field, each found by a scan from the end of the one before: any
// line, of any length.
split_result split_by_scanning(const char* line, line_fields* split) {
    split->quoted_number = false;
    split->policy_absent = false;
    const char* p = line;
    for (size_t i = 0; i < line_field_count; ++i) {
        const bool last = i + 1 == line_field_count;
        if (*p == '\0') {
            // Only the last field may be missing altogether.
            if (!last) return split_result::short_line;
            split->fields[i] = {p, 0};
            break;
        }
        if (is_number_column(i)) {
            // Numbers know no quotes: digits up to the comma.
            const char* end = find_stop(p, ',');
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
    const unsigned in_low = trailing_zeros(mask.low);
    return in_low < 64 ? in_low : 64 + trailing_zeros(mask.high);
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
#if defined(__AVX2__)
void masks_of_half(const char* bytes, uint64_t* commas, uint64_t* quotes, uint64_t* zeros) {
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 32));
    const auto mask_of = [&](__m256i value) {
        const auto low_bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, value)));
        const auto high_bits = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, value)));
        return uint64_t{low_bits} | (uint64_t{high_bits} << 32);
    };
    *commas = mask_of(_mm256_set1_epi8(','));
    *quotes = mask_of(_mm256_set1_epi8('"'));
    *zeros = mask_of(_mm256_setzero_si256());
}
#else
void masks_of_half(const char* bytes, uint64_t* commas, uint64_t* quotes, uint64_t* zeros) {
    const __m128i comma = _mm_set1_epi8(',');
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i zero = _mm_setzero_si128();
    const auto mask_of = [](__m128i matches) {
        return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(matches))};
    };
    uint64_t c = 0, q = 0, z = 0;
#pragma GCC unroll 4
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
#endif

// A line of `length` bytes: its terminator is in the first half when the
// line is shorter than 64 bytes, and the second half is then not looked at.
line_masks masks_of(const char* line, size_t length) {
    line_masks masks;
    masks_of_half(line, &masks.commas.low, &masks.quotes.low, &masks.zeros.low);
    if (length < 64) {
        masks.commas.high = masks.quotes.high = masks.zeros.high = 0;
    } else {
        masks_of_half(line + 64, &masks.commas.high, &masks.quotes.high, &masks.zeros.high);
    }
    return masks;
}

// One-word masks, for lines of fewer than 64 bytes.
unsigned lowest_bit(uint64_t mask) {
    return trailing_zeros(mask);
}
uint64_t without_lowest(uint64_t mask) {
    return mask & (mask - 1);
}
// Without relying on a population count instruction, which not every x86-64 has.
constexpr unsigned bit_count(uint64_t mask) {
#if defined(__POPCNT__)
    if (!__builtin_is_constant_evaluated()) return static_cast<unsigned>(__builtin_popcountll(mask));
#endif
    mask -= (mask >> 1) & 0x5555555555555555u;
    mask = (mask & 0x3333333333333333u) + ((mask >> 2) & 0x3333333333333333u);
    mask = (mask + (mask >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<unsigned>((mask * 0x0101010101010101u) >> 56);
}
static_assert(bit_count(0) == 0 && bit_count(0x8000000000000001u) == 2 && bit_count(~uint64_t{0}) == 64);
unsigned bit_count(line_mask mask) {
    return bit_count(mask.low) + bit_count(mask.high);
}
bool has_bit(uint64_t mask, unsigned bit) {
    return ((mask >> bit) & 1) != 0;
}
bool has_bit(line_mask mask, unsigned bit) {
    return bit < 64 ? has_bit(mask.low, bit) : has_bit(mask.high, bit - 64);
}

// Whether the six bits below `end` (at least 6) are all set.
bool six_set_below(uint64_t mask, unsigned end) {
    return ((mask >> (end - 6)) & 0x3F) == 0x3F;
}
bool six_set_below(line_mask mask, unsigned end) {
    const line_mask six = below(end) & ~below(end - 6);
    return any(six) && !any(six & ~mask);
}

// Cuts the fields at the separators (commas outside quotes, before `end`).
// Every field but the last ends at a comma; the last at the next comma, if
// any, else at the end. `quotes` holds only plain enclosing quotes.
template <bool WithQuotes, typename Mask>
split_result cut_fields(const char* line, Mask separators, Mask quotes, unsigned end, line_fields* split) {
    const unsigned count = bit_count(separators);
    if (count < line_field_count - 1) return split_result::short_line;
    // Twelve commas, the last six closing up to the end: the policy holder's
    // fields are all empty, as on most lines, and need not be cut out.
    const bool policy_absent = count == line_field_count - 1 && six_set_below(separators, end);
    const size_t cut = policy_absent ? 7 : line_field_count;
    uint32_t quoted = 0;
    unsigned start = 0;
    for (size_t i = 0; i < cut; ++i) {
        // Every field but the last ends at a comma; the last at the next
        // comma, if any, else at the end.
        const unsigned stop = smaller(lowest_bit(separators), end);
        separators = without_lowest(separators);
        const unsigned skip = WithQuotes && has_bit(quotes, start) ? 1 : 0;
        split->fields[i] = {line + start + skip, stop - start - 2 * skip};
        quoted |= skip << i;
        start = stop + 1;
    }
    split->quoted_number = (quoted & number_columns) != 0;
    split->policy_absent = policy_absent;
    return split_result::split;
}

// All of a line of fewer than mask_split_limit bytes at once. Quotes are
// taken here only in their plain form: a quoted field opens at a field start
// and closes just before a comma or the end of the line. Any other use of
// quotes is left to split_by_scanning.
split_result split_by_masks(const char* line, size_t length, line_fields* split) {
    const line_masks masks = masks_of(line, length);
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
    // Most lines fit in one machine word and have no quotes: the fields are
    // then cut with the simplest bit operations.
    if (end < 64) {
        if (quotes.low == 0) return cut_fields<false>(line, separators.low, quotes.low, end, split);
        return cut_fields<true>(line, separators.low, quotes.low, end, split);
    }
    if (!any(quotes)) return cut_fields<false>(line, separators, quotes, end, split);
    return cut_fields<true>(line, separators, quotes, end, split);
}

split_result split_line(const char* line, size_t length, line_fields* split) {
    if (length < mask_split_limit) {
        const split_result result = split_by_masks(line, length, split);
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
size_t convert_text(const byte_codes& codes_of, text_field text, unsigned char (&codes)[L]) {
    // One spare slot takes the writes of skipped characters, so no branch
    // depends on whether a character is a letter or a blank.
    unsigned char slots[L + 1] = {};
    size_t count = 0;
    for (size_t i = 0; i < text.length; ++i) {
        const int code = codes_of.code[static_cast<unsigned char>(text.start[i])];
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

// Cuts the characters a conversion skips out of a text of `length` (at most
// 32) characters, given the bits of those it takes: `cut_at(position)` moves
// every byte from `position` on down one place, the last skipped one first
// (names and SSNs have few). Returns how many characters stay.
template <typename CutAt>
MINT_INLINE size_t cut_skipped(size_t length, uint32_t taken_bits, CutAt cut_at) {
    const uint32_t field_bits = length == 32 ? ~uint32_t{0} : (uint32_t{1} << length) - 1;
    uint32_t skipped = field_bits & ~taken_bits;
    size_t count = length;
    while (skipped != 0) {
        const int position = 31 - static_cast<int>(leading_zeros(skipped));
        skipped ^= uint32_t{1} << position;
        --count;
        cut_at(position);
    }
    return count;
}

// convert_text for a text of at most vector_text_limit characters: the codes
// are computed in place and the skipped characters then cut out. With AVX2 in
// one 32-byte register, else in two 16-byte ones.
#if defined(__AVX2__)
template <size_t L>
MINT_INLINE size_t convert_short_text(const vector_rule& rule, text_field text, unsigned char (&codes)[L]) {
    static_assert(L <= vector_text_limit);
    const __m256i index = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
                                           21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
    const __m256i length = _mm256_set1_epi8(static_cast<char>(text.length));
    const __m256i fold = _mm256_set1_epi8(rule.fold_case ? 0x20 : 0);
    const __m256i below_lowest = _mm256_set1_epi8(static_cast<char>(rule.lowest - 1));
    const __m256i above_highest = _mm256_set1_epi8(static_cast<char>(rule.highest + 1));
    __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text.start));
    const __m256i folded = _mm256_or_si256(bytes, fold);
    const __m256i taken = _mm256_and_si256(
        _mm256_and_si256(_mm256_cmpgt_epi8(folded, below_lowest), _mm256_cmpgt_epi8(above_highest, folded)),
        _mm256_cmpgt_epi8(length, index));
    bytes = _mm256_and_si256(_mm256_and_si256(bytes, _mm256_set1_epi8(rule.code_bits)), taken);

    const auto taken_bits = static_cast<uint32_t>(_mm256_movemask_epi8(taken));
    const size_t count = cut_skipped(text.length, taken_bits, [&](int position) {
        const __m256i keep = _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(position)), index);
        const __m256i next = _mm256_alignr_epi8(_mm256_permute2x128_si256(bytes, bytes, 0x81), bytes, 1);
        bytes = _mm256_blendv_epi8(next, bytes, keep);
    });
    alignas(32) unsigned char all[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(all), bytes);
    std::memcpy(codes, all, L);
    return count;
}
#else
template <size_t L>
MINT_INLINE size_t convert_short_text(const vector_rule& rule, text_field text, unsigned char (&codes)[L]) {
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
    const size_t count = cut_skipped(text.length, taken_bits, [&](int position) {
        const __m128i at = _mm_set1_epi8(static_cast<char>(position));
        const __m128i keep_low = _mm_cmpgt_epi8(at, index_low);
        const __m128i keep_high = _mm_cmpgt_epi8(at, index_high);
        const __m128i next_low = _mm_or_si128(_mm_srli_si128(low, 1), _mm_slli_si128(high, 15));
        const __m128i next_high = _mm_srli_si128(high, 1);
        low = _mm_or_si128(_mm_and_si128(keep_low, low), _mm_andnot_si128(keep_low, next_low));
        high = _mm_or_si128(_mm_and_si128(keep_high, high), _mm_andnot_si128(keep_high, next_high));
    });
    alignas(16) unsigned char all[32];
    _mm_store_si128(reinterpret_cast<__m128i*>(all), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(all + 16), high);
    std::memcpy(codes, all, L);
    return count;
}

#endif

template <size_t L>
MINT_INLINE size_t convert_field(const vector_rule& rule, const byte_codes& codes_of, text_field text,
                                 unsigned char (&codes)[L]) {
    if (text.length <= vector_text_limit) return convert_short_text(rule, text, codes);
    return convert_text(codes_of, text, codes);
}

#else

struct vector_rule {};
constexpr vector_rule letter_rule = {};
constexpr vector_rule digit_rule = {};

template <size_t L>
size_t convert_field(const vector_rule&, const byte_codes& codes_of, text_field text, unsigned char (&codes)[L]) {
    return convert_text(codes_of, text, codes);
}

#endif

// Taking a field gives its set-mark when it is set, 0 when it stays unset,
// or this bit (which no mark uses) when the general path must decide.
constexpr uint32_t needs_general_path = uint32_t{1} << 31;
static_assert(((PATIENT_FIELDS | POLICY_FIELDS) & needs_general_path) == 0);

// Zeros for a field's codes, as vector stores: compilers clear small
// buffers with string instructions whose start-up costs more than the stores.
template <size_t L>
MINT_INLINE void clear_codes(unsigned char (&codes)[L]) {
    static_assert(L <= name_length);
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    if constexpr (L >= 16) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + L - 16), zero);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(codes), zero);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(codes + L - 8), zero);
    }
#else
    std::memset(codes, 0, L);
#endif
}

// An empty name stays unset; a name with no letter is refused (with a message).
MINT_INLINE uint32_t take_name(text_field text, unsigned char (&codes)[name_length], uint32_t mark) {
    if (text.length > kept_name_characters) return needs_general_path;
    // An empty text converts to all zeros.
    const size_t letters = convert_field(letter_rule, route_letter_codes, text, codes);
    if (text.length == 0) return 0;
    return letters == 0 ? needs_general_path : mark;
}

// The programs take an SSN of exactly nine digits, wherever they stand.
// Whether all eight bytes of `word` are decimal digits.
constexpr bool all_digit_bytes(uint64_t word) {
    constexpr uint64_t high_nibbles = 0xF0F0F0F0F0F0F0F0u;
    constexpr uint64_t zeros = 0x3030303030303030u;
    return (word & high_nibbles) == zeros && ((word + 0x0606060606060606u) & high_nibbles) == zeros;
}
static_assert(all_digit_bytes(0x3930313233343536u) && !all_digit_bytes(0x3A30313233343536u) &&
              !all_digit_bytes(0x2F30313233343536u));

// The two ways nearly every SSN is written, nine digits or ddd-dd-dddd, read
// without the general conversion: false (and `digits` untouched) otherwise.
MINT_INLINE bool take_plain_ssn(text_field text, unsigned char (&digits)[ssn_length]) {
    if constexpr (std::endian::native != std::endian::little) return false;
    // Both forms are read and one is chosen without a branch: files mix them
    // line by line. The reads stay within the line and its slack.
    const char* p = text.start;
    const bool nine = text.length == 9;
    const bool dashed = (text.length == 11) & (p[3] == '-') & (p[6] == '-');
    if (!(nine | dashed)) return false;
    uint64_t head;  // nine digits: the first eight; dashed: ddd-dd-d
    uint32_t tail;  // dashed: the last four digits
    std::memcpy(&head, p, 8);
    std::memcpy(&tail, p + 7, 4);
    const uint64_t squeezed = (head & 0xFFFFFFu) | ((head >> 8) & 0xFFFF000000u) | (uint64_t{tail} << 40);
    const uint64_t first_eight = nine ? head : squeezed;  // the first digit in the lowest byte
    const char last = p[nine ? 8 : 10];
    if (!all_digit_bytes(first_eight) || last < '0' || last > '9') return false;
    const uint64_t values = first_eight - 0x3030303030303030u;
    std::memcpy(digits, &values, 8);
    digits[8] = static_cast<unsigned char>(last - '0');
    return true;
}

MINT_INLINE uint32_t take_ssn(text_field text, unsigned char (&digits)[ssn_length], uint32_t mark) {
    if (take_plain_ssn(text, digits)) return mark;
    if (text.length > kept_ssn_characters) return needs_general_path;
    const size_t count = convert_field(digit_rule, route_digit_values, text, digits);
    if (text.length == 0) return 0;
    return count == ssn_length ? mark : needs_general_path;
}

// The value of 1 to 4 characters that must all be decimal digits, or -1.
// The four bytes from `digits` are read at once (the line's slack allows it).
MINT_INLINE int small_number(const char* digits, size_t count) {
    uint32_t word;
    std::memcpy(&word, digits, sizeof word);
    // The first character in the lowest byte.
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap32(word);
    // Right-align the digits (first digit most significant) and fill the
    // free leading places with '0'.
    const unsigned shift = 8 * static_cast<unsigned>(4 - count);
    word = (word << shift) | (0x30303030u & ~(0xFFFFFFFFu << shift));
    const bool all_digits =
        (word & 0xF0F0F0F0u) == 0x30303030u && ((word + 0x06060606u) & 0xF0F0F0F0u) == 0x30303030u;
    uint32_t values = word - 0x30303030u;
    values = (values * 10 + (values >> 8)) & 0x00FF00FFu;  // two 2-digit numbers
    const auto number = static_cast<int>((values * 100 + (values >> 16)) & 0xFFFFu);
    return all_digits ? number : -1;
}

// A number field, taken when it is empty (unset) or 1 to 4 digits in `range`.
MINT_INLINE uint32_t take_number(text_field text, int32_t& value, uint32_t mark, value_range range) {
    value = 0;
    if (text.length == 0) return 0;
    if (text.length > 4) return needs_general_path;
    const int number = small_number(text.start, text.length);
    if (number < 0 || !within(number, range)) return needs_general_path;
    value = number;
    return mark;
}

struct person_fields {
    unsigned char (&name)[name_length];
    unsigned char (&ssn)[ssn_length];
    int32_t& gender;
    int32_t& birth_year;
    int32_t& birth_month;
    int32_t& birth_day;
};

// The six fields of one person, from split fields `first` on (or none, when
// `absent`). Every field is converted, whatever the others give, so that the
// record is whole.
MINT_INLINE uint32_t take_person(const line_fields& split, size_t first, bool absent, const person_fields& person,
                                 unsigned flag_shift) {
    const text_field* field = split.fields + first;
    // Most lines leave one person out altogether: six fields in five bytes
    // are six empty ones between five commas, none of them quoted.
    if (absent || field[5].start + field[5].length - field[0].start == 5) {
        clear_codes(person.name);
        clear_codes(person.ssn);
        person.gender = person.birth_year = person.birth_month = person.birth_day = 0;
        return 0;
    }
    uint32_t marks = take_name(field[0], person.name, PATIENT_NAME_SET);
    marks |= take_ssn(field[1], person.ssn, PATIENT_SSN_SET);
    marks |= take_number(field[2], person.gender, PATIENT_GENDER_SET, gender_range);
    marks |= take_number(field[3], person.birth_year, PATIENT_BIRTH_YEAR_SET, birth_year_range);
    marks |= take_number(field[4], person.birth_month, PATIENT_BIRTH_MONTH_SET, birth_month_range);
    marks |= take_number(field[5], person.birth_day, PATIENT_BIRTH_DAY_SET, birth_day_range);
    // The policy holder's marks are the patient's shifted.
    return (marks & ~needs_general_path) << flag_shift | (marks & needs_general_path);
}

}  // namespace

fast_line read_line(const char* line, size_t length, uuid_hash_data* record) {
    line_fields split;
    if (split_line(line, length, &split) != split_result::split || split.fields[0].length == 0 ||
        split.quoted_number) {
        return fast_line::general_path;
    }
    uuid_hash_data& data = *record;
    const person_fields patient = {data.patient_name,       data.patient_ssn,         data.patient_gender,
                                   data.patient_birth_year, data.patient_birth_month, data.patient_birth_day};
    const person_fields policy = {data.policy_name,       data.policy_ssn,         data.policy_gender,
                                  data.policy_birth_year, data.policy_birth_month, data.policy_birth_day};
    const uint32_t marks = take_person(split, 1, false, patient, 0) | take_person(split, 7, split.policy_absent, policy, 8);
    if ((marks & needs_general_path) != 0) return fast_line::general_path;
    // A record with an SSN that fits no mode is refused with a message.
    const bool patient_key = (marks & PATIENT_FIELDS) == PATIENT_FIELDS;
    if (!patient_key && marks != POLICY_KEY_FLAGS && (marks & ANY_SSN) != 0) return fast_line::general_path;
    data.flags = marks;
    return fast_line::derived;
}


}  // namespace MINT_QUICK_ROUTE

#undef MINT_INLINE
