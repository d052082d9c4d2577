#include "named_csv.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

enum scan_state { field_start, unquoted, quoted, quote_in_quoted };

constexpr const char* field_names[named_field_count] = {
    "data_record",        "patient_name",        "patient_ssn",       "patient_gender",     "patient_birth_year",
    "patient_birth_month", "patient_birth_day",  "policy_name",       "policy_ssn",         "policy_gender",
    "policy_birth_year",  "policy_birth_month",  "policy_birth_day",  "patient_birth_date", "policy_birth_date",
};

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Names compare without the blanks around them and without regard to ASCII case.
void trim(const char** text, size_t* length) {
    while (*length > 0 && is_blank(**text)) {
        ++*text;
        --*length;
    }
    while (*length > 0 && is_blank((*text)[*length - 1])) --*length;
}

bool same_name(const char* a, size_t a_length, const char* b, size_t b_length) {
    trim(&a, &a_length);
    trim(&b, &b_length);
    if (a_length != b_length) return false;
    for (size_t i = 0; i < a_length; ++i) {
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

bool is_identifying(named_field field) {
    switch (field) {
        case named_field::data_record:
        case named_field::patient_gender:
        case named_field::policy_gender:
            return false;
        default:
            return true;
    }
}

}  // namespace

void start_record_scan(record_scan* scan, char delimiter) {
    scan->delimiter = delimiter;
    scan->state = field_start;
    scan->scanned = 0;
    scan->line_ends = 0;
    scan->last = delimiter;
    scan->quotes = false;
}

namespace {

// The first of `a`, `b` or `c` in data[from, size), or size. Sixteen bytes a
// step where the CPU has SSE2 (the scan spends most of its time here).
size_t find_any(const char* data, size_t from, size_t size, char a, char b, char c) {
    size_t i = from;
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c);
    for (; i + 16 <= size; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, va), _mm_cmpeq_epi8(bytes, vb)), _mm_cmpeq_epi8(bytes, vc));
        const int mask = _mm_movemask_epi8(hits);
        if (mask != 0) return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    for (; i < size; ++i) {
        if (data[i] == a || data[i] == b || data[i] == c) return i;
    }
    return size;
}

}  // namespace

bool find_record_end(record_scan* scan, const char* data, size_t size, bool at_end, size_t* length,
                     size_t* terminator) {
    const char delimiter = scan->delimiter;
    size_t i = scan->scanned;
    int state = scan->state;
    // Where the scan stops for more data: a CR as the last byte read waits to
    // learn whether a LF follows.
    const auto wait_for_more = [&](size_t at) {
        scan->scanned = at;
        scan->state = state;
        if (at > 0) scan->last = data[at - 1];
        return false;
    };
    // The byte before data[at].
    const auto before = [&](size_t at) { return at > 0 ? data[at - 1] : scan->last; };
    while (i < size) {
        if (state == quoted) {
            i = find_any(data, i, size, '"', '\n', '\r');
            if (i == size) break;
            const char c = data[i];
            if (c == '"') {
                state = quote_in_quoted;
                ++i;
                continue;
            }
            // A line end inside the field: CR LF counts as one.
            if (c == '\r') {
                if (i + 1 == size && !at_end) return wait_for_more(i);
                if (i + 1 < size && data[i + 1] == '\n') ++i;
            }
            ++scan->line_ends;
            ++i;
            continue;
        }
        if (state == quote_in_quoted) {
            // A doubled quote goes on with the field; anything else closes it,
            // and what follows is read as a bare field's text.
            if (data[i] == '"') {
                state = quoted;
                ++i;
                continue;
            }
            state = unquoted;
        }
        // Outside quotes: a quote opens a field only at the field's start
        // (the record's, where `last` is the delimiter, or right after a
        // delimiter); the delimiters themselves need no stop.
        i = find_any(data, i, size, '"', '\n', '\r');
        if (i == size) break;
        const char c = data[i];
        if (c == '"') {
            scan->quotes = true;
            state = before(i) == delimiter ? quoted : unquoted;
            ++i;
            continue;
        }
        // The record's line end.
        if (c == '\r') {
            if (i + 1 == size && !at_end) return wait_for_more(i);
            *terminator = i + 1 < size && data[i + 1] == '\n' ? 2 : 1;
        } else {
            *terminator = 1;
        }
        *length = i;
        return true;
    }
    if (at_end) {
        *length = size;
        *terminator = 0;
        return true;
    }
    return wait_for_more(size);
}

size_t split_record(const char* record, size_t length, char delimiter, field_span* fields, size_t most,
                    bool quotes) {
    if (!quotes) {
        // No quote anywhere: fields end at delimiters, found sixteen bytes a
        // step where the CPU has SSE2.
        size_t count = 0;
        size_t start = 0;
        const auto end_field = [&](size_t end) {
            if (count < most) fields[count] = {static_cast<uint32_t>(start), static_cast<uint32_t>(end - start)};
            ++count;
            start = end + 1;
        };
        size_t i = 0;
#if defined(__SSE2__)
        const __m128i wanted = _mm_set1_epi8(delimiter);
        for (; i + 16 <= length; i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(record + i));
            auto mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
            while (mask != 0) {
                end_field(i + static_cast<size_t>(__builtin_ctz(mask)));
                mask &= mask - 1;
            }
        }
#endif
        for (; i < length; ++i) {
            if (record[i] == delimiter) end_field(i);
        }
        end_field(length);
        return count;
    }
    size_t count = 0;
    size_t i = 0;
    for (;;) {
        const size_t start = i;
        if (i < length && record[i] == '"') {
            ++i;
            for (;;) {
                const void* quote = std::memchr(record + i, '"', length - i);
                if (quote == nullptr) {
                    i = length;
                    break;
                }
                i = static_cast<size_t>(static_cast<const char*>(quote) - record) + 1;
                if (i < length && record[i] == '"') {
                    ++i;
                    continue;
                }
                break;
            }
        }
        const void* found = std::memchr(record + i, delimiter, length - i);
        const size_t end = found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - record) : length;
        if (count < most) fields[count] = {static_cast<uint32_t>(start), static_cast<uint32_t>(end - start)};
        ++count;
        if (found == nullptr) return count;
        i = end + 1;
    }
}

size_t field_value(const char* field, size_t length, char* to, size_t capacity) {
    if (length == 0 || field[0] != '"') {
        // A bare field is its own value.
        const size_t stored = capacity == 0 ? 0 : length < capacity - 1 ? length : capacity - 1;
        if (stored > 0) std::memcpy(to, field, stored);
        if (capacity > 0) to[stored] = '\0';
        return length;
    }
    size_t stored = 0;
    size_t total = 0;
    const auto put = [&](char c) {
        if (stored + 1 < capacity) to[stored++] = c;
        ++total;
    };
    size_t i = 0;
    if (length > 0 && field[0] == '"') {
        for (i = 1; i < length; ++i) {
            if (field[i] == '"') {
                if (i + 1 < length && field[i + 1] == '"') {
                    put('"');
                    ++i;
                    continue;
                }
                ++i;
                break;
            }
            put(field[i]);
        }
    }
    for (; i < length; ++i) put(field[i]);
    if (capacity > 0) to[stored] = '\0';
    return total;
}

char find_delimiter(const char* header, size_t length) {
    constexpr char candidates[] = {',', ';', '\t', '|'};
    size_t counts[4] = {};
    bool quoted_now = false;
    for (size_t i = 0; i < length; ++i) {
        if (header[i] == '"') quoted_now = !quoted_now;
        if (quoted_now) continue;
        for (size_t c = 0; c < 4; ++c) counts[c] += header[i] == candidates[c] ? 1 : 0;
    }
    size_t best = 0;
    for (size_t c = 1; c < 4; ++c) {
        if (counts[c] > counts[best]) best = c;
    }
    return candidates[best];
}

size_t quote_field(const char* value, size_t length, char delimiter, char* to, size_t capacity) {
    bool needs_quotes = false;
    size_t quotes = 0;
    for (size_t i = 0; i < length; ++i) {
        const char c = value[i];
        if (c == '"') ++quotes;
        if (c == delimiter || c == '"' || c == '\r' || c == '\n') needs_quotes = true;
    }
    const size_t needed = needs_quotes ? length + quotes + 2 : length;
    if (needed > capacity) return needed;
    if (!needs_quotes) {
        if (length > 0) std::memcpy(to, value, length);
        return needed;
    }
    size_t at = 0;
    to[at++] = '"';
    for (size_t i = 0; i < length; ++i) {
        if (value[i] == '"') to[at++] = '"';
        to[at++] = value[i];
    }
    to[at++] = '"';
    return needed;
}

const char* named_field_name(named_field field) {
    return field_names[static_cast<int>(field)];
}

bool find_named_field(const char* name, size_t length, named_field* field) {
    for (int f = 0; f < named_field_count; ++f) {
        if (same_name(name, length, field_names[f], std::strlen(field_names[f]))) {
            *field = static_cast<named_field>(f);
            return true;
        }
    }
    return false;
}

namespace {

int find_column(const header_mapping& mapping, const char* name) {
    for (size_t c = 0; c < mapping.column_count; ++c) {
        if (same_name(mapping.names + mapping.name_start[c], mapping.name_length[c], name, std::strlen(name))) {
            return static_cast<int>(c);
        }
    }
    return -1;
}

bool fail(header_mapping* mapping, mapping_problem problem, named_field field) {
    mapping->problem = problem;
    mapping->field = field;
    return false;
}

}  // namespace

bool map_header(const char* header, size_t length, char delimiter, const column_choice& choice,
                header_mapping* mapping) {
    mapping->problem = mapping_problem::none;
    mapping->field = named_field::data_record;
    mapping->other = named_field::data_record;
    mapping->name = nullptr;
    mapping->duplicate = 0;
    mapping->column_count = 0;
    for (int& column : mapping->column_of) column = -1;
    mapping->byte_order_mark = length >= 3 && std::memcmp(header, "\xEF\xBB\xBF", 3) == 0;
    if (mapping->byte_order_mark) {
        header += 3;
        length -= 3;
    }
    mapping->delimiter = delimiter != 0 ? delimiter : find_delimiter(header, length);
    if (length > most_record_bytes) return fail(mapping, mapping_problem::too_many_columns, named_field::data_record);
    field_span fields[most_columns];
    const size_t count = split_record(header, length, mapping->delimiter, fields, most_columns);
    if (count > most_columns) return fail(mapping, mapping_problem::too_many_columns, named_field::data_record);
    size_t used = 0;
    for (size_t c = 0; c < count; ++c) {
        const size_t room = sizeof mapping->names - used;
        const size_t value_length =
            field_value(header + fields[c].start, fields[c].length, mapping->names + used, room);
        mapping->name_start[c] = static_cast<uint32_t>(used);
        mapping->name_length[c] = static_cast<uint32_t>(value_length);
        used += value_length + 1;
        mapping->identifying[c] = false;
    }
    mapping->column_count = count;
    // Columns without a name (an export's empty trailing columns) can be
    // neither named nor mapped, so only named ones must be told apart.
    for (size_t c = 1; c < count; ++c) {
        const char* name = mapping->names + mapping->name_start[c];
        size_t name_length = mapping->name_length[c];
        trim(&name, &name_length);
        if (name_length == 0) continue;
        for (size_t earlier = 0; earlier < c; ++earlier) {
            if (same_name(mapping->names + mapping->name_start[c], mapping->name_length[c],
                          mapping->names + mapping->name_start[earlier], mapping->name_length[earlier])) {
                mapping->duplicate = static_cast<uint32_t>(c);
                return fail(mapping, mapping_problem::duplicate_column, named_field::data_record);
            }
        }
    }
    int claimed_by[most_columns];
    for (size_t c = 0; c < count; ++c) claimed_by[c] = -1;
    for (int f = 0; f < named_field_count; ++f) {
        const auto field = static_cast<named_field>(f);
        const char* wanted = choice.mapped[f] != nullptr ? choice.mapped[f] : field_names[f];
        const int column = find_column(*mapping, wanted);
        if (column < 0) {
            if (choice.mapped[f] != nullptr) {
                mapping->name = choice.mapped[f];
                return fail(mapping, mapping_problem::missing_mapped, field);
            }
            continue;
        }
        if (claimed_by[column] >= 0) {
            mapping->other = field;
            return fail(mapping, mapping_problem::claimed_twice, static_cast<named_field>(claimed_by[column]));
        }
        claimed_by[column] = f;
        mapping->column_of[f] = column;
        mapping->identifying[column] = is_identifying(field);
    }
    const int* of = mapping->column_of;
    const auto has = [of](named_field field) { return of[static_cast<int>(field)] >= 0; };
    for (const named_field date : {named_field::patient_birth_date, named_field::policy_birth_date}) {
        const int first = date == named_field::patient_birth_date ? static_cast<int>(named_field::patient_birth_year)
                                                                   : static_cast<int>(named_field::policy_birth_year);
        if (!has(date)) continue;
        for (int f = first; f < first + 3; ++f) {
            if (of[f] >= 0) return fail(mapping, mapping_problem::date_and_numbers, date);
        }
    }
    for (const named_field required : {named_field::patient_name, named_field::patient_gender}) {
        if (!has(required)) return fail(mapping, mapping_problem::missing_column, required);
    }
    if (!has(named_field::patient_birth_date)) {
        for (const named_field part :
             {named_field::patient_birth_year, named_field::patient_birth_month, named_field::patient_birth_day}) {
            if (!has(part)) {
                // None of the three: the date column is what is missing.
                const bool none = !has(named_field::patient_birth_year) && !has(named_field::patient_birth_month) &&
                                  !has(named_field::patient_birth_day);
                return fail(mapping, mapping_problem::missing_column, none ? named_field::patient_birth_date : part);
            }
        }
    }
    for (size_t d = 0; d < choice.dropped_count; ++d) {
        const int column = find_column(*mapping, choice.dropped[d]);
        if (column < 0) {
            mapping->name = choice.dropped[d];
            return fail(mapping, mapping_problem::missing_mapped, named_field::data_record);
        }
        mapping->identifying[column] = true;
    }
    return true;
}

namespace {

// A message built in pieces, cut at its capacity.
struct message_text {
    char* to;
    size_t capacity;
    size_t used;
};

__attribute__((format(printf, 2, 3))) void add_text(message_text* text, const char* format, ...) {
    if (text->used + 1 >= text->capacity) return;
    std::va_list values;
    va_start(values, format);
    const int wrote = std::vsnprintf(text->to + text->used, text->capacity - text->used, format, values);
    va_end(values);
    if (wrote > 0) text->used += static_cast<size_t>(wrote);
    if (text->used >= text->capacity) text->used = text->capacity - 1;
}

}  // namespace

void describe_mapping_problem(const header_mapping& mapping, const char* input_name, char* to, size_t capacity) {
    if (capacity == 0) return;
    to[0] = '\0';
    message_text text = {to, capacity, 0};
    add_text(&text, "Unable to read input file '%s' by column names: ", input_name);
    const char* field = named_field_name(mapping.field);
    switch (mapping.problem) {
        case mapping_problem::none:
            break;
        case mapping_problem::too_many_columns:
            add_text(&text, "its header has more than %zu columns or %zu bytes.\n", most_columns, most_record_bytes);
            return;
        case mapping_problem::duplicate_column:
            add_text(&text, "two columns are named '%s'.\n", mapping.names + mapping.name_start[mapping.duplicate]);
            break;
        case mapping_problem::missing_column:
            if (mapping.field == named_field::patient_birth_date) {
                add_text(&text, "no column for patient_birth_date (nor patient_birth_year, patient_birth_month and "
                    "patient_birth_day); name one with --map patient_birth_date=COLUMN.\n");
            } else {
                add_text(&text, "no column for %s; name one with --map %s=COLUMN.\n", field, field);
            }
            break;
        case mapping_problem::missing_mapped:
            add_text(&text, "no column '%s' in the header.\n", mapping.name);
            break;
        case mapping_problem::claimed_twice:
            add_text(&text, "one column is named for both %s and %s.\n", field, named_field_name(mapping.other));
            break;
        case mapping_problem::date_and_numbers:
            add_text(&text, "a column for %s and columns for the year, month or day it stands for.\n", field);
            break;
    }
    add_text(&text, "The header's columns:");
    for (size_t c = 0; c < mapping.column_count; ++c) {
        add_text(&text, c == 0 ? " '%s'" : ", '%s'", mapping.names + mapping.name_start[c]);
    }
    add_text(&text, ".\n");
}
