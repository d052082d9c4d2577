#include "named_convert.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "identifier_derivation.h"
#include "identity_fields.h"
#include "identity_rules.h"
#include "mintcore.h"
#include "uuid_mode.h"

namespace fields = mint::identity_fields;
namespace rules = mint::identity_rules;

namespace {

// The twelve identity fields in the order the positional format sets them,
// which is the order a refusal stops at and the library's messages come in.
enum class slot_kind { name, ssn, gender, year, month, day };

struct identity_slot {
    named_field field;
    slot_kind kind;
    int (*set_text)(uuid_hash_data*, char*);
    int (*set_number)(uuid_hash_data*, int);
    unsigned char (uuid_hash_data::*name)[rules::name_length];
    unsigned char (uuid_hash_data::*ssn)[rules::ssn_length];
    int32_t uuid_hash_data::*number;
    uint32_t mark;
    rules::value_range range;
};

constexpr identity_slot text_slot(named_field field, slot_kind kind, int (*set)(uuid_hash_data*, char*),
                                  unsigned char (uuid_hash_data::*name)[rules::name_length],
                                  unsigned char (uuid_hash_data::*ssn)[rules::ssn_length], uint32_t mark) {
    return {field, kind, set, nullptr, name, ssn, nullptr, mark, {0, 0}};
}

constexpr identity_slot number_slot(named_field field, slot_kind kind, int (*set)(uuid_hash_data*, int),
                                    int32_t uuid_hash_data::*number, uint32_t mark, rules::value_range range) {
    return {field, kind, nullptr, set, nullptr, nullptr, number, mark, range};
}

const identity_slot identity_slots[] = {
    text_slot(named_field::patient_name, slot_kind::name, uuid_hash_set_patient_name, &uuid_hash_data::patient_name,
              nullptr, PATIENT_NAME_SET),
    text_slot(named_field::patient_ssn, slot_kind::ssn, uuid_hash_set_patient_ssn, nullptr,
              &uuid_hash_data::patient_ssn, PATIENT_SSN_SET),
    number_slot(named_field::patient_gender, slot_kind::gender, uuid_hash_set_patient_gender,
                &uuid_hash_data::patient_gender, PATIENT_GENDER_SET, rules::gender_range),
    number_slot(named_field::patient_birth_year, slot_kind::year, uuid_hash_set_patient_birth_year,
                &uuid_hash_data::patient_birth_year, PATIENT_BIRTH_YEAR_SET, rules::birth_year_range),
    number_slot(named_field::patient_birth_month, slot_kind::month, uuid_hash_set_patient_birth_month,
                &uuid_hash_data::patient_birth_month, PATIENT_BIRTH_MONTH_SET, rules::birth_month_range),
    number_slot(named_field::patient_birth_day, slot_kind::day, uuid_hash_set_patient_birth_day,
                &uuid_hash_data::patient_birth_day, PATIENT_BIRTH_DAY_SET, rules::birth_day_range),
    text_slot(named_field::policy_name, slot_kind::name, uuid_hash_set_policy_name, &uuid_hash_data::policy_name,
              nullptr, POLICY_NAME_SET),
    text_slot(named_field::policy_ssn, slot_kind::ssn, uuid_hash_set_policy_ssn, nullptr, &uuid_hash_data::policy_ssn,
              POLICY_SSN_SET),
    number_slot(named_field::policy_gender, slot_kind::gender, uuid_hash_set_policy_gender,
                &uuid_hash_data::policy_gender, POLICY_GENDER_SET, rules::gender_range),
    number_slot(named_field::policy_birth_year, slot_kind::year, uuid_hash_set_policy_birth_year,
                &uuid_hash_data::policy_birth_year, POLICY_BIRTH_YEAR_SET, rules::birth_year_range),
    number_slot(named_field::policy_birth_month, slot_kind::month, uuid_hash_set_policy_birth_month,
                &uuid_hash_data::policy_birth_month, POLICY_BIRTH_MONTH_SET, rules::birth_month_range),
    number_slot(named_field::policy_birth_day, slot_kind::day, uuid_hash_set_policy_birth_day,
                &uuid_hash_data::policy_birth_day, POLICY_BIRTH_DAY_SET, rules::birth_day_range),
};

// The positional format keeps this much of a name and of an SSN (with the
// terminator), and the library sees only that: so does reading by name.
constexpr size_t name_capacity = 100;
constexpr size_t ssn_capacity = 1000;

// Reasons in the report and the messages: fixed texts, never a value.
constexpr const char* reason_not_number = "not a number";
constexpr const char* reason_not_gender = "not a number or one of the gender values";
constexpr const char* reason_out_of_range = "out of range";
constexpr const char* reason_invalid_ssn = "not nine digits";
constexpr const char* reason_no_ssn = "no SSN";
constexpr const char* reason_blank = "blank line";
constexpr const char* reason_no_key = "no record key";
constexpr const char* reason_field_count = "not as many fields as the header";
constexpr const char* reason_too_long = "longer than 65536 bytes";

const char* date_reason(date_format format) {
    switch (format) {
        case date_format::year_month_day: return "not a date in the form %Y-%m-%d";
        case date_format::day_month_year_slash: return "not a date in the form %d/%m/%Y";
        case date_format::month_day_year_slash: return "not a date in the form %m/%d/%Y";
        case date_format::day_month_year_dot: return "not a date in the form %d.%m.%Y";
        case date_format::compact: return "not a date in the form %Y%m%d";
    }
    return "";
}

named_field date_field_of(const identity_slot& slot) {
    return slot.field <= named_field::patient_birth_day ? named_field::patient_birth_date
                                                        : named_field::policy_birth_date;
}

// The first field the derivation needed that the record lacks: a date
// column's field for its year, month or day.
named_field first_missing(uint32_t flags, const header_mapping& mapping, const char** reason) {
    const char* name = missing_identity_field(flags, reason);
    named_field field = named_field::patient_name;
    find_named_field(name, std::strlen(name), &field);
    for (const identity_slot& slot : identity_slots) {
        const bool dated = slot.kind == slot_kind::year || slot.kind == slot_kind::month || slot.kind == slot_kind::day;
        if (slot.field == field && dated && mapping.column_of[static_cast<int>(date_field_of(slot))] >= 0) {
            return date_field_of(slot);
        }
    }
    return field;
}

}  // namespace

// One record as read: its bytes, its line end, its first line's number and
// its number among the records (1 for the first after the header).
struct record_ref {
    const char* bytes;
    size_t length;
    char terminator[2];
    size_t terminator_length;
    int64_t line;
    int64_t number;
    bool quotes;  // it may hold a quote
};

// One converting thread's working memory, and what it has composed.
struct named_worker {
    bool reporting;
    const by_name_options* options;
    const header_mapping* mapping;
    // Silent records whose identifiers wait for a fourth, so that all four
    // are derived at once: their identities and their identifiers' places in
    // `out`.
    int pending;
    uuid_hash_data pending_identity[4];
    size_t pending_at[4];
    field_span fields[most_columns];
    char value[most_record_bytes + 1];
    char key[most_record_bytes + 1];
    text_buffer out;
    text_buffer report;
    run_counts counts;
};

namespace {

// What became of a record.
struct record_result {
    record_outcome outcome;
    const char* field;
    const char* reason;
    char uuid[12];
    // Silent runs derive four at once: a patient or policy key record's identity,
    // its identifier not derived yet.
    bool derive_later;
    uuid_hash_data identity;
};

enum class judged { done, needs_messages };

const char* column_value(named_worker* worker, const record_ref& record, named_field field, size_t capacity) {
    const int column = worker->mapping->column_of[static_cast<int>(field)];
    if (column < 0) {
        worker->value[0] = '\0';
        return worker->value;
    }
    const field_span& span = worker->fields[column];
    field_value(record.bytes + span.start, span.length, worker->value, capacity);
    return worker->value;
}

// Sets one number; false when it is refused (or, when not loud, would print).
bool set_number(const identity_slot& slot, int32_t value, bool loud, uuid_hash_data* identity, bool* would_print) {
    if (loud) return slot.set_number(identity, value) != 0;
    if (fields::set_number(identity, identity->*slot.number, slot.mark, value, slot.range)) return true;
    *would_print = true;
    return false;
}

// Hands the record's values to the setters, in the positional order, and
// derives its identifier. Not loud: nothing is printed, and a record that
// would print (a value a setter refuses, a record the library cannot use)
// is left for a loud run.
judged judge_record(named_worker* worker, const record_ref& record, bool loud, record_result* result) {
    const by_name_options& options = *worker->options;
    uuid_hash_data identity;
    uuid_initialize(&identity);
    bool would_print = false;
    const auto refuse = [&](named_field field, const char* reason) {
        result->outcome = record_outcome::refused;
        result->field = named_field_name(field);
        result->reason = reason;
        if (loud && options.verbosity == 2) {
            std::printf("Error in read_named_record(), bad %s: %s.\n", result->field, reason);
        }
        return would_print ? judged::needs_messages : judged::done;
    };
    for (const identity_slot& slot : identity_slots) {
        switch (slot.kind) {
            case slot_kind::name: {
                const char* text = column_value(worker, record, slot.field, name_capacity);
                if (*text == '\0') break;
                // A refused name stays unset; uuid_create decides what that means.
                if (loud) {
                    slot.set_text(&identity, worker->value);
                } else if (fields::set_name(&identity, identity.*slot.name, slot.mark, text) !=
                           fields::text_verdict::accepted) {
                    return judged::needs_messages;
                }
                break;
            }
            case slot_kind::ssn: {
                const char* text = column_value(worker, record, slot.field, ssn_capacity);
                if (*text == '\0') break;
                if (loud) {
                    if (!slot.set_text(&identity, worker->value)) return refuse(slot.field, reason_invalid_ssn);
                } else if (fields::set_ssn(&identity, identity.*slot.ssn, slot.mark, text, fields::ssn_rule::strict) !=
                           fields::text_verdict::accepted) {
                    return judged::needs_messages;
                }
                break;
            }
            case slot_kind::gender: {
                const char* text = column_value(worker, record, slot.field, sizeof worker->value);
                int32_t gender = 0;
                const value_verdict verdict = judge_gender(text, options.genders, &gender);
                if (verdict == value_verdict::refused) {
                    return refuse(slot.field, options.genders != nullptr ? reason_not_gender : reason_not_number);
                }
                if (verdict == value_verdict::value && !set_number(slot, gender, loud, &identity, &would_print)) {
                    return refuse(slot.field, reason_out_of_range);
                }
                break;
            }
            case slot_kind::year: {
                const named_field date = date_field_of(slot);
                if (worker->mapping->column_of[static_cast<int>(date)] < 0) goto number;
                {
                    const char* text = column_value(worker, record, date, sizeof worker->value);
                    int32_t parts[3] = {};
                    const value_verdict verdict = judge_date(text, options.dates, &parts[0], &parts[1], &parts[2]);
                    if (verdict == value_verdict::refused) return refuse(date, date_reason(options.dates));
                    if (verdict == value_verdict::absent) break;
                    for (int part = 0; part < 3; ++part) {
                        if (!set_number((&slot)[part], parts[part], loud, &identity, &would_print)) {
                            return refuse(date, reason_out_of_range);
                        }
                    }
                }
                break;
            }
            case slot_kind::month:
            case slot_kind::day:
                if (worker->mapping->column_of[static_cast<int>(date_field_of(slot))] >= 0) break;
            number: {
                const char* text = column_value(worker, record, slot.field, sizeof worker->value);
                int32_t number = 0;
                const value_verdict verdict = judge_number(text, &number);
                if (verdict == value_verdict::refused) return refuse(slot.field, reason_not_number);
                if (verdict == value_verdict::value && !set_number(slot, number, loud, &identity, &would_print)) {
                    return refuse(slot.field, reason_out_of_range);
                }
                break;
            }
        }
    }
    const mint::uuid_mode mode = mint::uuid_mode_of(identity.flags);
    if (mode == mint::uuid_mode::unusable) {
        if (!loud) return judged::needs_messages;
        derive_identifier(&identity, options.key);  // prints why
        result->outcome = record_outcome::incomplete;
        result->field = named_field_name(first_missing(identity.flags, *worker->mapping, &result->reason));
        if (options.verbosity == 2) {
            std::printf("Error in read_named_record(), incomplete %s: %s.\n", result->field, result->reason);
        }
        return judged::done;
    }
    result->derive_later = !loud && mode != mint::uuid_mode::zero;
    if (result->derive_later) {
        result->identity = identity;
    } else {
        derive_identifier(&identity, options.key);
        std::memcpy(result->uuid, identity.uuid, 12);
    }
    result->outcome = mode == mint::uuid_mode::zero          ? record_outcome::zero
                      : mode == mint::uuid_mode::patient_key ? record_outcome::patient_key
                                                             : record_outcome::policy_key;
    result->field = "";
    result->reason = mode == mint::uuid_mode::zero ? reason_no_ssn : "";
    return judged::done;
}

void append_line_end(text_buffer* out, const record_ref& record) {
    if (record.terminator_length > 0) {
        append_text(out, record.terminator, record.terminator_length);
    } else {
        append_text(out, "\n", 1);
    }
}

void append_quoted(text_buffer* out, const char* value, size_t length, char delimiter) {
    const size_t needed = quote_field(value, length, delimiter, nullptr, 0);
    const size_t at = out->used;
    append_text(out, nullptr, needed);
    quote_field(value, length, delimiter, out->data + at, needed);
}

// The key-only output's first field: the key, or the record's number when
// the file has no key column.
void append_key(named_worker* worker, const record_ref& record, bool fields_known) {
    const header_mapping& mapping = *worker->mapping;
    const int column = mapping.column_of[static_cast<int>(named_field::data_record)];
    if (column < 0) {
        char number[24];
        const int length = std::snprintf(number, sizeof number, "%" PRId64, record.number);
        append_text(&worker->out, number, static_cast<size_t>(length));
        return;
    }
    if (!fields_known) return;
    const field_span& span = worker->fields[column];
    const size_t length = field_value(record.bytes + span.start, span.length, worker->key, sizeof worker->key);
    append_quoted(&worker->out, worker->key, length, mapping.delimiter);
}

// The output of one record. `fields_known`: its fields are cut and as many
// as the header's, so that columns can be picked from it.
void append_output(named_worker* worker, const record_ref& record, bool blank, bool fields_known, const char* uuid) {
    text_buffer* out = &worker->out;
    const header_mapping& mapping = *worker->mapping;
    const char delimiter = mapping.delimiter;
    if (blank) {
        if (worker->options->output == named_output::full) append_text(out, record.bytes, record.length);
        append_line_end(out, record);
        return;
    }
    switch (worker->options->output) {
        case named_output::full:
            append_text(out, record.bytes, record.length);
            break;
        case named_output::drop_identifying: {
            bool first = true;
            for (size_t c = 0; c < mapping.column_count; ++c) {
                if (mapping.identifying[c]) continue;
                if (!first) append_text(out, &delimiter, 1);
                first = false;
                if (!fields_known) continue;
                const field_span& span = worker->fields[c];
                const size_t length =
                    field_value(record.bytes + span.start, span.length, worker->value, sizeof worker->value);
                append_quoted(out, worker->value, length, delimiter);
            }
            break;
        }
        case named_output::key_only:
            append_key(worker, record, fields_known);
            break;
    }
    append_text(out, &delimiter, 1);
    if (uuid != nullptr) append_text(out, uuid, 12);
    append_line_end(out, record);
}

void append_report(named_worker* worker, const record_ref& record, const char* key, size_t key_length,
                   record_outcome outcome, const char* field, const char* reason) {
    count_outcome(&worker->counts, outcome);
    if (!worker->reporting) return;
    if (outcome == record_outcome::patient_key || outcome == record_outcome::policy_key) return;
    append_report_line(&worker->report, record.line, key, key_length, outcome, field, reason);
}

// The record's key, when it has a key column and its fields are known.
size_t take_key(named_worker* worker, const record_ref& record) {
    const int column = worker->mapping->column_of[static_cast<int>(named_field::data_record)];
    if (column < 0) {
        worker->key[0] = '\0';
        return 0;
    }
    const field_span& span = worker->fields[column];
    return field_value(record.bytes + span.start, span.length, worker->key, sizeof worker->key);
}

const char* shown_key(named_worker* worker, const record_ref& record, char* number, size_t capacity) {
    if (worker->mapping->column_of[static_cast<int>(named_field::data_record)] >= 0) return worker->key;
    std::snprintf(number, capacity, "%" PRId64, record.number);
    return number;
}

// A record that is skipped whole: its output without any of its values
// picked out (its fields may be shifted), a report line with no key.
void skip_record(named_worker* worker, const record_ref& record, bool blank, const char* reason) {
    const bool loud = worker->options->verbosity >= 1;
    if (loud) std::printf("Ignoring line %" PRId64 ": %s.\n\n", record.line, reason);
    append_output(worker, record, blank, false, nullptr);
    append_report(worker, record, "", 0, record_outcome::skipped, "", reason);
}

// Derives a silent record's identifier into its place in the output: with
// three waiting ones', or it waits.
void derive_in_fours(named_worker* worker, const uuid_hash_data& identity, size_t at) {
    worker->pending_identity[worker->pending] = identity;
    worker->pending_at[worker->pending] = at;
    if (++worker->pending < 4) return;
    uuid_hash_data* const records[4] = {&worker->pending_identity[0], &worker->pending_identity[1],
                                        &worker->pending_identity[2], &worker->pending_identity[3]};
    derive_identifier_quad(records, worker->options->key);
    for (int i = 0; i < 4; ++i) std::memcpy(worker->out.data + worker->pending_at[i], records[i]->uuid, 12);
    worker->pending = 0;
}

// Derives the waiting records' identifiers, if any wait: before the output
// is written out.
void settle_pending(named_worker* worker) {
    int i = 0;
    for (; i + 2 <= worker->pending; i += 2) {
        derive_identifier_pair(&worker->pending_identity[i], &worker->pending_identity[i + 1], worker->options->key);
    }
    if (i < worker->pending) derive_identifier(&worker->pending_identity[i], worker->options->key);
    for (i = 0; i < worker->pending; ++i) {
        std::memcpy(worker->out.data + worker->pending_at[i], worker->pending_identity[i].uuid, 12);
    }
    worker->pending = 0;
}

// The output and report of one record. Not loud: nothing is printed, and a
// record that would print anything is left (needs_messages), for the thread
// that writes in order to convert loudly.
judged convert_record(named_worker* worker, const record_ref& record, bool loud) {
    if (record.length > most_record_bytes) {
        skip_record(worker, record, false, reason_too_long);
        return judged::done;
    }
    if (record.length == 0) {
        skip_record(worker, record, true, reason_blank);
        return judged::done;
    }
    const size_t count =
        split_record(record.bytes, record.length, worker->mapping->delimiter, worker->fields, most_columns, record.quotes);
    if (count != worker->mapping->column_count) {
        skip_record(worker, record, false, reason_field_count);
        return judged::done;
    }
    const size_t key_length = take_key(worker, record);
    if (worker->mapping->column_of[static_cast<int>(named_field::data_record)] >= 0 && key_length == 0) {
        skip_record(worker, record, false, reason_no_key);
        return judged::done;
    }
    record_result result;
    result.derive_later = false;
    if (judge_record(worker, record, loud, &result) == judged::needs_messages) return judged::needs_messages;
    // The key again: judging used the value buffer, not the key's.
    const bool identified = result.outcome == record_outcome::patient_key ||
                            result.outcome == record_outcome::policy_key || result.outcome == record_outcome::zero;
    if (loud && worker->options->verbosity >= 1) {
        char number[24];
        const char* key = shown_key(worker, record, number, sizeof number);
        if (identified) {
            std::printf("Processed patient data record '%s'.\n", key);
        } else {
            std::printf("Unable to process patient data record '%s' at line %" PRId64 " from input file '%s'.\n\n",
                        key, record.line, worker->options->input_name);
        }
    }
    append_output(worker, record, false, true, identified ? result.uuid : nullptr);
    if (result.derive_later) {
        const size_t line_end = record.terminator_length > 0 ? record.terminator_length : 1;
        derive_in_fours(worker, result.identity, worker->out.used - line_end - 12);
    }
    append_report(worker, record, worker->key, key_length, result.outcome, result.field, result.reason);
    return judged::done;
}

constexpr size_t output_flush_bytes = 64 * 1024;

struct named_run {
    const by_name_options* options;
    header_mapping* mapping;
    line_reader* input;
    output_writer* out;
    output_writer* report;  // null: none
    named_worker* worker;    // the calling thread's
    int64_t line;            // of the next record's first line
    int64_t number;          // of the next record
    bool write_failed;
    bool report_failed;
    // Called before a record too long to read goes through, which goes
    // straight to the calling thread's output (the threads write theirs first).
    void (*before_long_record)(void* context);
    void* context;
};

bool flush_worker(named_run* run, named_worker* worker) {
    settle_pending(worker);
    if (worker->out.used > 0) {
        if (!write_output(run->out, worker->out.data, worker->out.used)) run->write_failed = true;
        worker->out.used = 0;
    }
    if (worker->report.used > 0) {
        if (run->report != nullptr && !write_output(run->report, worker->report.data, worker->report.used)) {
            run->report_failed = true;
        }
        worker->report.used = 0;
    }
    return !run->write_failed && !run->report_failed;
}

// The header line's length with its line end: the first line end outside
// quotes. False when it is not in data[0, size) (and more may come).
bool find_header_end(const char* data, size_t size, bool at_end, size_t* length, size_t* terminator, int64_t* lines) {
    bool quoted = false;
    *lines = 0;
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '"') quoted = !quoted;
        if (c != '\r' && c != '\n') continue;
        if (c == '\r' && i + 1 == size && !at_end) return false;
        const size_t end_length = c == '\r' && i + 1 < size && data[i + 1] == '\n' ? 2 : 1;
        if (quoted) {
            ++*lines;
            i += end_length - 1;
            continue;
        }
        *length = i;
        *terminator = end_length;
        return true;
    }
    if (!at_end) return false;
    *length = size;
    *terminator = 0;
    return true;
}

void append_header_output(named_worker* worker, const char* header, size_t length, const char* terminator,
                          size_t terminator_length) {
    const header_mapping& mapping = *worker->mapping;
    const by_name_options& options = *worker->options;
    text_buffer* out = &worker->out;
    const char delimiter = mapping.delimiter;
    const size_t bom = mapping.byte_order_mark ? 3 : 0;
    append_text(out, header, bom);
    switch (options.output) {
        case named_output::full:
            append_text(out, header + bom, length - bom);
            break;
        case named_output::drop_identifying: {
            bool first = true;
            for (size_t c = 0; c < mapping.column_count; ++c) {
                if (mapping.identifying[c]) continue;
                if (!first) append_text(out, &delimiter, 1);
                first = false;
                append_quoted(out, mapping.names + mapping.name_start[c], mapping.name_length[c], delimiter);
            }
            break;
        }
        case named_output::key_only: {
            const int column = mapping.column_of[static_cast<int>(named_field::data_record)];
            if (column >= 0) {
                append_quoted(out, mapping.names + mapping.name_start[column], mapping.name_length[column], delimiter);
            } else {
                append_string(out, "record");
            }
            break;
        }
    }
    append_text(out, &delimiter, 1);
    append_quoted(out, options.uuid_column, std::strlen(options.uuid_column), delimiter);
    if (terminator_length > 0) {
        append_text(out, terminator, terminator_length);
    } else {
        append_text(out, "\n", 1);
    }
    if (worker->reporting) append_report_header(&worker->report);
}

const char* delimiter_name(char delimiter) {
    switch (delimiter) {
        case '\t': return "tab";
        case ',': return "','";
        case ';': return "';'";
        case '|': return "'|'";
    }
    return "?";
}

// Reads and maps the header; false when reading failed or it cannot be mapped
// (printed then).
named_status take_header(named_run* run) {
    line_reader* input = run->input;
    named_worker* worker = run->worker;
    const by_name_options& options = *run->options;
    for (;;) {
        size_t length = 0;
        size_t terminator = 0;
        int64_t lines = 0;
        const char* data = input->data + input->start;
        const size_t size = input->end - input->start;
        const bool ended = find_header_end(data, size, input->at_end, &length, &terminator, &lines);
        if (ended || size > most_record_bytes) {
            // A header line too long to read is refused whole.
            const bool readable = ended && length <= most_record_bytes;
            if (!readable || !map_header(data, length, options.delimiter, options.columns, run->mapping)) {
                if (!readable) run->mapping->problem = mapping_problem::too_many_columns;
                char message[4096];
                describe_mapping_problem(*run->mapping, options.input_name, message, sizeof message);
                std::fputs(message, stdout);
                return named_status::unmapped;
            }
            if (options.verbosity >= 1) {
                std::printf("Reading columns by name, delimiter %s (%s).\n", delimiter_name(run->mapping->delimiter),
                            options.delimiter != 0 ? "given" : "found from the header line");
            }
            append_header_output(worker, data, length, data + length, terminator);
            input->start += length + terminator;
            run->line += 1 + lines;
            return named_status::done;
        }
        if (!fill_line_reader(input)) return named_status::read_failed;
    }
}

// Passes a record too long to read through, piece by piece, from the reader
// (which holds its first `scan->scanned` bytes unconsumed).
named_status pass_long_record(named_run* run, record_scan* scan) {
    line_reader* input = run->input;
    named_worker* worker = run->worker;
    const bool full = run->options->output == named_output::full;
    if (run->before_long_record != nullptr) run->before_long_record(run->context);
    if (run->options->verbosity >= 1) {
        std::printf("Ignoring line %" PRId64 ": %s.\n\n", run->line, reason_too_long);
    }
    for (;;) {
        size_t length = 0;
        size_t terminator = 0;
        const char* data = input->data + input->start;
        const bool found = find_record_end(scan, data, input->end - input->start, input->at_end, &length, &terminator);
        const size_t taken = found ? length : scan->scanned;
        if (full) append_text(&worker->out, data, taken);
        input->start += taken;
        scan->scanned = 0;
        if (found) {
            record_ref record = {data + length, 0, {}, terminator, run->line, run->number, true};
            std::memcpy(record.terminator, data + length, terminator);
            input->start += terminator;
            // The output's end as skip_record gives it, without repeating the bytes.
            named_output kept = run->options->output;
            if (kept == named_output::full) {
                const char delimiter = run->mapping->delimiter;
                append_text(&worker->out, &delimiter, 1);
                append_line_end(&worker->out, record);
            } else {
                append_output(worker, record, false, false, nullptr);
            }
            append_report(worker, record, "", 0, record_outcome::skipped, "", reason_too_long);
            run->line += 1 + scan->line_ends;
            ++run->number;
            return named_status::done;
        }
        if (worker->out.used >= output_flush_bytes && !flush_worker(run, worker)) return named_status::write_failed;
        if (!fill_line_reader(input)) return named_status::read_failed;
    }
}

}  // namespace

namespace {

// Large working structs, left uninitialised (their users set what they
// read): zeroing hundreds of KiB for every run would cost more than small
// inputs take to convert.
template <typename T>
std::unique_ptr<T> make_uninitialised() {
    return std::unique_ptr<T>(new T);
}

void report_progress(const named_run* run) {
    const by_name_options& options = *run->options;
    if (options.progress != nullptr) {
        options.progress(options.progress_context, run->number - options.first_record, run->input->bytes_read);
    }
}

enum class next { record, end, passed, failed };

// The next record from the reader: next::record with *record set (its bytes
// in the reader until the reader moves on); next::passed when a record too
// long to read went through; next::failed with *status set.
next next_record(named_run* run, record_ref* record, record_scan* scan, named_status* status) {
    line_reader* input = run->input;
    start_record_scan(scan, run->mapping->delimiter);
    for (;;) {
        size_t length = 0;
        size_t terminator = 0;
        const char* data = input->data + input->start;
        if (find_record_end(scan, data, input->end - input->start, input->at_end, &length, &terminator)) {
            if (length == 0 && terminator == 0) return next::end;
            *record = {data, length, {}, terminator, run->line, run->number, scan->quotes};
            std::memcpy(record->terminator, data + length, terminator);
            return next::record;
        }
        if (scan->scanned > most_record_bytes) {
            *status = pass_long_record(run, scan);
            return *status == named_status::done ? next::passed : next::failed;
        }
        if (!fill_line_reader(input)) {
            *status = named_status::read_failed;
            return next::failed;
        }
    }
}

void take_record(named_run* run, const record_ref& record, const record_scan& scan) {
    run->input->start += record.length + record.terminator_length;
    run->line += 1 + scan.line_ends;
    ++run->number;
}

bool worker_full(const named_worker* worker) {
    return worker->out.used >= output_flush_bytes || worker->report.used >= output_flush_bytes;
}

named_status convert_in_turn(named_run* run) {
    for (;;) {
        record_ref record;
        record_scan scan;
        named_status status = named_status::done;
        switch (next_record(run, &record, &scan, &status)) {
            case next::end:
                return named_status::done;
            case next::failed:
                return status;
            case next::passed:
                break;
            case next::record:
                // At level 0 a record is converted silently (its identifier
                // derived with the next one's) unless it would print.
                if (run->options->verbosity > 0 ||
                    convert_record(run->worker, record, false) == judged::needs_messages) {
                    convert_record(run->worker, record, true);
                }
                take_record(run, record, scan);
                break;
        }
        report_progress(run);
        if (worker_full(run->worker) && !flush_worker(run, run->worker)) return named_status::write_failed;
    }
}

}  // namespace

namespace {

// Threads: the calling thread reads records into batches, in input order,
// and writes the converted batches out in that order; the other threads
// (one fewer than asked, at least one) convert batches silently. A record that would print (a value a setter
// refuses, a record the library cannot use) is converted by the writing
// thread when its turn comes, loudly, so that output, report and messages
// are exactly one thread's. Memory is a few batches per thread.
constexpr size_t batch_bytes = 256 * 1024;
constexpr size_t batches_per_thread = 3;

struct named_batch {
    std::vector<char> bytes;
    std::vector<record_ref> records;
    std::vector<size_t> offsets;  // of the records' bytes in `bytes`
    // Where a record left for the writing thread goes: before the output
    // and report bytes at these offsets.
    struct pause {
        size_t record;
        size_t out_at;
        size_t report_at;
    };
    std::vector<pause> pauses;
    text_buffer out;
    text_buffer report;
    run_counts counts;
    bool converted;
};

struct named_pool {
    named_run* run;
    std::mutex lock;
    std::condition_variable work;
    std::condition_variable done;
    std::deque<named_batch*> waiting;
    bool stopping = false;
    std::vector<std::unique_ptr<named_batch>> batches;
    std::deque<named_batch*> in_flight;  // in input order
    std::vector<named_batch*> free_batches;
    named_status status = named_status::done;
};

void convert_batch(named_worker* worker, named_batch* batch) {
    worker->out.used = 0;
    worker->report.used = 0;
    worker->counts = {};
    batch->pauses.clear();
    for (size_t i = 0; i < batch->records.size(); ++i) {
        if (convert_record(worker, batch->records[i], false) == judged::needs_messages) {
            batch->pauses.push_back({i, worker->out.used, worker->report.used});
        }
    }
    settle_pending(worker);
    std::swap(batch->out, worker->out);
    std::swap(batch->report, worker->report);
    batch->counts = worker->counts;
}

void work_on_batches(named_pool* pool, named_worker* worker) {
    for (;;) {
        named_batch* batch = nullptr;
        {
            std::unique_lock<std::mutex> held(pool->lock);
            pool->work.wait(held, [pool] { return pool->stopping || !pool->waiting.empty(); });
            if (pool->waiting.empty()) return;
            batch = pool->waiting.front();
            pool->waiting.pop_front();
        }
        convert_batch(worker, batch);
        {
            std::lock_guard<std::mutex> held(pool->lock);
            batch->converted = true;
        }
        pool->done.notify_all();
    }
}

// Writes the oldest batch out once it is converted.
bool write_oldest_batch(named_pool* pool) {
    named_run* run = pool->run;
    named_batch* batch = pool->in_flight.front();
    {
        std::unique_lock<std::mutex> held(pool->lock);
        pool->done.wait(held, [batch] { return batch->converted; });
    }
    pool->in_flight.pop_front();
    named_worker* worker = run->worker;
    size_t out_at = 0;
    size_t report_at = 0;
    // The batch's bytes go straight to the writers, after whatever the
    // calling thread composed before them.
    const auto write_part = [&](size_t out_to, size_t report_to) {
        if (!flush_worker(run, worker)) return false;
        if (out_to > out_at && !write_output(run->out, batch->out.data + out_at, out_to - out_at)) {
            run->write_failed = true;
        }
        if (report_to > report_at && run->report != nullptr &&
            !write_output(run->report, batch->report.data + report_at, report_to - report_at)) {
            run->report_failed = true;
        }
        out_at = out_to;
        report_at = report_to;
        return !run->write_failed && !run->report_failed;
    };
    bool written = true;
    for (const named_batch::pause& pause : batch->pauses) {
        written = written && write_part(pause.out_at, pause.report_at);
        if (written) convert_record(worker, batch->records[pause.record], true);
    }
    written = written && write_part(batch->out.used, batch->report.used);
    add_counts(&worker->counts, batch->counts);
    pool->free_batches.push_back(batch);
    return written;
}

bool write_all_batches(named_pool* pool) {
    bool written = true;
    while (!pool->in_flight.empty()) written = write_oldest_batch(pool) && written;
    return written;
}

void drain_before_long_record(void* context) {
    auto* pool = static_cast<named_pool*>(context);
    if (!write_all_batches(pool)) pool->status = named_status::write_failed;
}

void submit_batch(named_pool* pool, named_batch* batch) {
    for (size_t i = 0; i < batch->records.size(); ++i) batch->records[i].bytes = batch->bytes.data() + batch->offsets[i];
    batch->converted = false;
    pool->in_flight.push_back(batch);
    {
        std::lock_guard<std::mutex> held(pool->lock);
        pool->waiting.push_back(batch);
    }
    pool->work.notify_one();
}

named_status convert_in_parallel(named_run* run, int threads) {
    named_pool pool;
    pool.run = run;
    const size_t batch_count = static_cast<size_t>(threads) * batches_per_thread;
    for (size_t b = 0; b < batch_count; ++b) {
        pool.batches.push_back(std::make_unique<named_batch>());
        named_batch* batch = pool.batches.back().get();
        init_text_buffer(&batch->out);
        init_text_buffer(&batch->report);
        pool.free_batches.push_back(batch);
    }
    std::vector<std::unique_ptr<named_worker>> workers;
    std::vector<std::thread> running;
    // The calling thread reads, cuts and writes, about a third of the work:
    // it counts as one of the threads.
    const int converting = threads > 2 ? threads - 1 : 1;
    for (int t = 0; t < converting; ++t) {
        workers.push_back(make_uninitialised<named_worker>());
        named_worker* worker = workers.back().get();
        worker->options = run->worker->options;
        worker->mapping = run->worker->mapping;
        worker->reporting = run->worker->reporting;
        worker->pending = 0;
        init_text_buffer(&worker->out);
        init_text_buffer(&worker->report);
        running.emplace_back(work_on_batches, &pool, worker);
    }
    run->before_long_record = drain_before_long_record;
    run->context = &pool;
    const size_t most_records = run->options->records_per_block;
    named_status status = named_status::done;
    bool ended = false;
    while (!ended && status == named_status::done) {
        if (pool.free_batches.empty() && !write_oldest_batch(&pool)) {
            status = named_status::write_failed;
            break;
        }
        named_batch* batch = pool.free_batches.back();
        pool.free_batches.pop_back();
        batch->bytes.clear();
        batch->records.clear();
        batch->offsets.clear();
        // Records are copied in; their places are offsets until the batch is
        // complete (the copy may move).
        while (batch->bytes.size() < batch_bytes && (most_records == 0 || batch->records.size() < most_records)) {
            record_ref record;
            record_scan scan;
            const next step = next_record(run, &record, &scan, &status);
            if (step == next::end) {
                ended = true;
                break;
            }
            if (step == next::failed) break;
            if (step == next::passed) {
                if (pool.status != named_status::done) status = pool.status;
                break;
            }
            const size_t offset = batch->bytes.size();
            batch->bytes.insert(batch->bytes.end(), record.bytes, record.bytes + record.length);
            take_record(run, record, scan);
            batch->offsets.push_back(offset);
            batch->records.push_back(record);
            // Counted a record at a time, as the meter expects.
            report_progress(run);
        }
        if (batch->records.empty()) {
            pool.free_batches.push_back(batch);
        } else {
            submit_batch(&pool, batch);
        }
        if (run->write_failed || run->report_failed) status = named_status::write_failed;
    }
    if (!write_all_batches(&pool) && status == named_status::done) status = named_status::write_failed;
    {
        std::lock_guard<std::mutex> held(pool.lock);
        pool.stopping = true;
    }
    pool.work.notify_all();
    for (std::thread& thread : running) thread.join();
    for (auto& worker : workers) {
        free_text_buffer(&worker->out);
        free_text_buffer(&worker->report);
    }
    for (auto& batch : pool.batches) {
        free_text_buffer(&batch->out);
        free_text_buffer(&batch->report);
    }
    run->before_long_record = nullptr;
    return status;
}

}  // namespace

bool read_named_header(const char* bytes, size_t size, bool at_end, const by_name_options& options,
                       header_mapping* mapping, size_t* header_length, size_t* line_end_length) {
    size_t length = 0;
    size_t terminator = 0;
    int64_t lines = 0;
    mapping->problem = mapping_problem::none;
    mapping->column_count = 0;
    if (!find_header_end(bytes, size, at_end, &length, &terminator, &lines)) {
        if (size > most_record_bytes) mapping->problem = mapping_problem::too_many_columns;
        return false;
    }
    *header_length = length + terminator;
    if (line_end_length != nullptr) *line_end_length = terminator;
    return map_header(bytes, length, options.delimiter, options.columns, mapping);
}

// The working memory of a run on the calling thread, kept between runs.
struct named_workspace {
    line_reader input;
    output_writer out;
    output_writer report;
    header_mapping mapping;
    named_worker worker;
};

named_workspace* open_named_workspace() {
    return new named_workspace;
}

void close_named_workspace(named_workspace* workspace) {
    delete workspace;
}

named_status convert_by_name(byte_source* source, byte_sink* sink, byte_sink* report, const by_name_options& options,
                             run_counts* counts) {
    const std::unique_ptr<named_workspace> workspace(open_named_workspace());
    return convert_by_name(source, sink, report, options, counts, workspace.get());
}

named_status convert_by_name(byte_source* source, byte_sink* sink, byte_sink* report, const by_name_options& options,
                             run_counts* counts, named_workspace* workspace) {
    *counts = {};
    line_reader* const input = &workspace->input;
    open_line_reader(input, source);
    if (!fill_line_reader(input)) return named_status::read_failed;
    output_writer* const out = &workspace->out;
    open_output_writer(out, sink);
    output_writer* report_writer = nullptr;
    if (report != nullptr) {
        report_writer = &workspace->report;
        open_output_writer(report_writer, report);
    }
    header_mapping* const mapping = &workspace->mapping;
    mapping->problem = mapping_problem::none;
    mapping->column_count = 0;
    named_worker* const worker = &workspace->worker;
    worker->options = &options;
    worker->mapping = options.mapping != nullptr ? options.mapping : mapping;
    worker->reporting = report != nullptr;
    worker->pending = 0;
    init_text_buffer(&worker->out);
    init_text_buffer(&worker->report);
    worker->counts = {};
    named_run run = {&options, mapping, input, out, report_writer, worker,
                     options.first_line, options.first_record, false, false, nullptr, nullptr};
    if (options.verbosity >= 1) {
        std::printf("Reading patient records from input file '%s'.\n", options.input_name);
        std::printf("Writing patient records to output file '%s'.\n", options.output_name);
        std::printf("\n");
    }
    named_status status = named_status::done;
    if (options.mapping != nullptr) {
        *mapping = *options.mapping;
    } else {
        status = take_header(&run);
    }
    if (status == named_status::done) {
        const int threads = options.verbosity == 0 && options.threads > 1 ? options.threads : 1;
        status = threads > 1 ? convert_in_parallel(&run, threads) : convert_in_turn(&run);
    }
    if (status != named_status::unmapped) flush_worker(&run, worker);
    const bool written = flush_output(out);
    const bool reported = report_writer == nullptr || flush_output(report_writer);
    *counts = worker->counts;
    free_text_buffer(&worker->out);
    free_text_buffer(&worker->report);
    if (status == named_status::unmapped || status == named_status::read_failed) return status;
    if (run.write_failed || !written) return named_status::write_failed;
    if (run.report_failed || !reported) return named_status::report_failed;
    if (status != named_status::done) return status;
    if (options.verbosity >= 1) {
        std::printf("\n\nProcessed %" PRId64 " records, ignored %" PRId64 " bad records, discarded %" PRId64
                    " bad lines.\n",
                    counts->patient_key + counts->policy_key + counts->zero, counts->refused + counts->incomplete,
                    counts->skipped);
    }
    return named_status::done;
}
