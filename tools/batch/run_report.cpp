#include "run_report.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mintcore.h"
#include "named_csv.h"

void count_outcome(run_counts* counts, record_outcome outcome) {
    switch (outcome) {
        case record_outcome::patient_key: ++counts->patient_key; break;
        case record_outcome::policy_key: ++counts->policy_key; break;
        case record_outcome::zero: ++counts->zero; break;
        case record_outcome::refused: ++counts->refused; break;
        case record_outcome::incomplete: ++counts->incomplete; break;
        case record_outcome::skipped: ++counts->skipped; break;
    }
}

void add_counts(run_counts* total, const run_counts& more) {
    total->patient_key += more.patient_key;
    total->policy_key += more.policy_key;
    total->zero += more.zero;
    total->refused += more.refused;
    total->incomplete += more.incomplete;
    total->skipped += more.skipped;
}

void init_text_buffer(text_buffer* buffer) {
    buffer->data = nullptr;
    buffer->used = 0;
    buffer->capacity = 0;
}

void free_text_buffer(text_buffer* buffer) {
    std::free(buffer->data);
    init_text_buffer(buffer);
}

void append_text(text_buffer* buffer, const char* bytes, size_t length) {
    if (buffer->used + length > buffer->capacity) {
        size_t capacity = buffer->capacity < 4096 ? 4096 : buffer->capacity;
        while (capacity < buffer->used + length) capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(buffer->data, capacity));
        if (grown == nullptr) std::abort();  // out of memory: nothing sensible is left to do
        buffer->data = grown;
        buffer->capacity = capacity;
    }
    if (length > 0 && bytes != nullptr) std::memcpy(buffer->data + buffer->used, bytes, length);
    buffer->used += length;
}

void append_string(text_buffer* buffer, const char* text) {
    append_text(buffer, text, std::strlen(text));
}

void append_report_header(text_buffer* report) {
    append_string(report, "line,record_key,outcome,field,reason\n");
}

namespace {

const char* outcome_name(record_outcome outcome) {
    switch (outcome) {
        case record_outcome::patient_key: return "patient_key";
        case record_outcome::policy_key: return "policy_key";
        case record_outcome::zero: return "zero";
        case record_outcome::refused: return "refused";
        case record_outcome::incomplete: return "incomplete";
        case record_outcome::skipped: return "skipped";
    }
    return "";
}

// A field of the report, quoted as CSV needs.
void append_field(text_buffer* report, const char* value, size_t length) {
    const size_t needed = quote_field(value, length, ',', nullptr, 0);
    const size_t at = report->used;
    append_text(report, nullptr, needed);
    quote_field(value, length, ',', report->data + at, needed);
}

}  // namespace

void append_report_line(text_buffer* report, int64_t line, const char* key, size_t key_length,
                        record_outcome outcome, const char* field, const char* reason) {
    char number[24];
    const int length = std::snprintf(number, sizeof number, "%" PRId64 ",", line);
    append_text(report, number, static_cast<size_t>(length));
    append_field(report, key, key_length);
    append_text(report, ",", 1);
    append_string(report, outcome_name(outcome));
    append_text(report, ",", 1);
    append_field(report, field, std::strlen(field));
    append_text(report, ",", 1);
    append_field(report, reason, std::strlen(reason));
    append_text(report, "\n", 1);
}

size_t format_summary(const run_counts& counts, char* to, size_t capacity) {
    const int64_t identifiers = counts.patient_key + counts.policy_key + counts.zero;
    const int length = std::snprintf(to, capacity,
                                     "%" PRId64 " identifiers (%" PRId64 " patient key, %" PRId64 " policy key, %" PRId64
                                     " zero), %" PRId64 " refused, %" PRId64 " incomplete, %" PRId64 " skipped.\n",
                                     identifiers, counts.patient_key, counts.policy_key, counts.zero, counts.refused,
                                     counts.incomplete, counts.skipped);
    if (length < 0) return 0;
    return static_cast<size_t>(length) < capacity ? static_cast<size_t>(length) : capacity - 1;
}

const char* missing_identity_field(uint32_t flags, const char** reason) {
    struct marked_field {
        uint32_t mark;
        const char* name;
    };
    static constexpr marked_field order[] = {
        {PATIENT_NAME_SET, "patient_name"},         {PATIENT_SSN_SET, "patient_ssn"},
        {PATIENT_GENDER_SET, "patient_gender"},     {PATIENT_BIRTH_YEAR_SET, "patient_birth_year"},
        {PATIENT_BIRTH_MONTH_SET, "patient_birth_month"}, {PATIENT_BIRTH_DAY_SET, "patient_birth_day"},
        {POLICY_NAME_SET, "policy_name"},           {POLICY_SSN_SET, "policy_ssn"},
        {POLICY_GENDER_SET, "policy_gender"},       {POLICY_BIRTH_YEAR_SET, "policy_birth_year"},
        {POLICY_BIRTH_MONTH_SET, "policy_birth_month"}, {POLICY_BIRTH_DAY_SET, "policy_birth_day"},
    };
    const bool patient_key = (flags & PATIENT_SSN_SET) != 0;
    *reason = patient_key ? "missing or refused, and needed for the patient key"
                          : "missing or refused, and needed for the policy key";
    const uint32_t needed = patient_key ? PATIENT_FIELDS : POLICY_KEY_FLAGS;
    for (const marked_field& field : order) {
        if ((needed & field.mark) != 0 && (flags & field.mark) == 0) return field.name;
    }
    return "";
}
