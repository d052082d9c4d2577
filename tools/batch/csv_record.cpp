#include "csv_record.h"

#include <cstdio>
#include <cstring>

#include "mintcore.h"
#include "text_lines.h"

const char* read_csv_text_field(const char* position, int* empty, char* destination, size_t capacity,
                                char delimiter) {
    if (position == nullptr || *position == '\0') return nullptr;
    const char* p = position;
    char stop = delimiter;
    if (*p == '"') {
        ++p;
        stop = '"';
    }
    const char* const start = p;
    while (*p != '\0' && *p != stop) ++p;
    // Characters beyond the destination are scanned over, so the next field
    // is still found in its place.
    const auto length = static_cast<size_t>(p - start);
    if (capacity > 0) {
        const size_t stored = length < capacity - 1 ? length : capacity - 1;
        std::memcpy(destination, start, stored);
        destination[stored] = '\0';
    }
    *empty = length > 0 && capacity > 1 ? 0 : 1;
    if (stop == '"' && *p == '"') ++p;
    if (*p == '\0') return nullptr;
    if (*p == delimiter) return p + 1;
    // Text between a closing quote and the next comma is the next field.
    return p;
}

const char* read_csv_int_field(const char* position, int* empty, int32_t* value, char delimiter) {
    if (position == nullptr || *position == '\0') return nullptr;
    // The field must be an optional '-' and digits, and its number is what a
    // "%d" conversion of the text gives. For a field that starts like a number
    // both come from one pass; any other start (blanks, '+') is already
    // malformed, but its "%d" number is still stored.
    const char* p = position;
    const bool negative = *p == '-';
    if (negative) ++p;
    if (*p >= '0' && *p <= '9') {
        p = scan_digits(p, negative, value);
        *empty = 0;
    } else if (!negative) {
        int32_t number = 0;
        const char* number_end = nullptr;
        if (scan_decimal(position, &number, &number_end)) {
            *value = number;
            *empty = 0;
        } else {
            *empty = 1;
        }
    } else {
        *empty = 1;
    }
    for (;; ++p) {
        if (*p == '\0') return nullptr;
        if (*p == delimiter) return p + 1;
        if (*p < '0' || *p > '9') {
            *empty = 1;
            return nullptr;
        }
    }
}

namespace {

enum class column_kind { name, ssn, number };

// One of the twelve columns after data_record, in the order of the line.
struct csv_column {
    column_kind kind;
    char (patient_record::*name)[100];
    char (patient_record::*ssn)[32];
    int32_t patient_record::*number;
    int (*set_text)(uuid_hash_data*, char*);
    int (*set_number)(uuid_hash_data*, int);
    const char* short_message;  // the line ends before this column's comma
    const char* bad_message;    // the setter refuses the value
};

constexpr csv_column name_column(char (patient_record::*field)[100], int (*set)(uuid_hash_data*, char*),
                                 const char* short_message) {
    return {column_kind::name, field, nullptr, nullptr, set, nullptr, short_message, nullptr};
}

constexpr csv_column ssn_column(char (patient_record::*field)[32], int (*set)(uuid_hash_data*, char*),
                                const char* short_message, const char* bad_message) {
    return {column_kind::ssn, nullptr, field, nullptr, set, nullptr, short_message, bad_message};
}

constexpr csv_column number_column(int32_t patient_record::*field, int (*set)(uuid_hash_data*, int),
                                   const char* short_message, const char* bad_message) {
    return {column_kind::number, nullptr, nullptr, field, nullptr, set, short_message, bad_message};
}

const csv_column csv_columns[] = {
    name_column(&patient_record::patient_name, uuid_hash_set_patient_name,
                "Error in process_csv_record(), short record at patient name.\n"),
    ssn_column(&patient_record::patient_ssn, uuid_hash_set_patient_ssn,
               "Error in process_csv_record(), short record at patient ssn.\n",
               "Error in process_csv_record(), bad patient ssn.\n"),
    number_column(&patient_record::patient_gender, uuid_hash_set_patient_gender,
                  "Error in process_csv_record(), short record at patient gender.\n",
                  "Error in process_csv_record(), bad patient gender.\n"),
    number_column(&patient_record::patient_birth_year, uuid_hash_set_patient_birth_year,
                  "Error in process_csv_record(), short record at patient birth year.\n",
                  "Error in process_csv_record(), bad patient birth year.\n"),
    number_column(&patient_record::patient_birth_month, uuid_hash_set_patient_birth_month,
                  "Error in process_csv_record(), short record at patient birth month.\n",
                  "Error in process_csv_record(), bad patient birth month.\n"),
    number_column(&patient_record::patient_birth_day, uuid_hash_set_patient_birth_day,
                  "Error in process_csv_record(), short record at patient birth day.\n",
                  "Error in process_csv_record(), bad patient birth day.\n"),
    name_column(&patient_record::policy_name, uuid_hash_set_policy_name,
                "Error in process_csv_record(), short record at policy name.\n"),
    ssn_column(&patient_record::policy_ssn, uuid_hash_set_policy_ssn,
               "Error in process_csv_record(), short record at policy ssn.\n",
               "Error in process_csv_record(), bad policy ssn.\n"),
    number_column(&patient_record::policy_gender, uuid_hash_set_policy_gender,
                  "Error in process_csv_record(), short record at policy gender.\n",
                  "Error in process_csv_record(), bad policy gender.\n"),
    number_column(&patient_record::policy_birth_year, uuid_hash_set_policy_birth_year,
                  "Error in process_csv_record(), short record at policy birth year.\n",
                  "Error in process_csv_record(), bad policy birth year.\n"),
    number_column(&patient_record::policy_birth_month, uuid_hash_set_policy_birth_month,
                  "Error in process_csv_record(), short record at policy birth month.\n",
                  "Error in process_csv_record(), bad policy birth month.\n"),
    // The last column may end the line, so it has no short-record message.
    number_column(&patient_record::policy_birth_day, uuid_hash_set_policy_birth_day, nullptr,
                  "Error in process_csv_record(), bad policy birth day.\n"),
};

constexpr size_t csv_column_count = sizeof csv_columns / sizeof csv_columns[0];

int refuse(const char* message, int verbosity) {
    if (verbosity == 2) std::fputs(message, stdout);
    return 0;
}

constexpr const char* csv_column_names[] = {
    "patient_name", "patient_ssn", "patient_gender", "patient_birth_year", "patient_birth_month", "patient_birth_day",
    "policy_name",  "policy_ssn",  "policy_gender",  "policy_birth_year",  "policy_birth_month",  "policy_birth_day",
};

// A number field that ended the line early, or held something else: which.
csv_refusal_kind short_or_malformed(const char* field, char delimiter) {
    const char* p = field;
    if (p != nullptr && *p == '-') ++p;
    for (; p != nullptr && *p != '\0' && *p != delimiter; ++p) {
        if (*p < '0' || *p > '9') return csv_refusal_kind::not_a_number;
    }
    return csv_refusal_kind::short_line;
}

}  // namespace

const char* csv_column_name(int column) {
    return column >= 0 && column < static_cast<int>(csv_column_count) ? csv_column_names[column] : "";
}

int read_csv_record_fields(const char* position, patient_record* record, int verbosity, uuid_hash_data* identity,
                           char delimiter, csv_refusal* why) {
    const auto refused = [why](csv_refusal_kind kind, size_t column) {
        if (why != nullptr) *why = {kind, static_cast<int>(column), 0};
    };
    uuid_hash_data& data = *identity;
    uuid_initialize(&data);
    char ssn[csv_ssn_field_capacity];
    const char* p = position;
    for (size_t i = 0; i < csv_column_count; ++i) {
        const csv_column& column = csv_columns[i];
        const bool last = i + 1 == csv_column_count;
        // A last field that is missing altogether (the line ends after the
        // comma before it) leaves the flag untouched and counts as empty.
        int empty = 1;
        const char* next = nullptr;
        switch (column.kind) {
            case column_kind::name:
                next = read_csv_text_field(p, &empty, record->*column.name, sizeof(record->*column.name), delimiter);
                break;
            case column_kind::ssn:
                next = read_csv_text_field(p, &empty, ssn, sizeof ssn, delimiter);
                break;
            case column_kind::number:
                next = read_csv_int_field(p, &empty, &(record->*column.number), delimiter);
                break;
        }
        if (next == nullptr && !last) {
            refused(column.kind == column_kind::number ? short_or_malformed(p, delimiter) : csv_refusal_kind::short_line,
                    i);
            return refuse(column.short_message, verbosity);
        }
        if (!empty) {
            switch (column.kind) {
                case column_kind::name:
                    // A refused name stays unset; uuid_create decides what that means.
                    column.set_text(&data, record->*column.name);
                    break;
                case column_kind::ssn:
                    if (!column.set_text(&data, ssn)) {
                        refused(csv_refusal_kind::refused_value, i);
                        return refuse(column.bad_message, verbosity);
                    }
                    copy_bounded(record->*column.ssn, ssn, sizeof(record->*column.ssn));
                    break;
                case column_kind::number:
                    if (!column.set_number(&data, record->*column.number)) {
                        refused(csv_refusal_kind::refused_value, i);
                        return refuse(column.bad_message, verbosity);
                    }
                    break;
            }
        }
        p = next;
    }
    return 1;
}

int finish_csv_record(int created, const uuid_hash_data* identity, patient_record* record, int verbosity,
                      csv_refusal* why) {
    if (!created) {
        if (why != nullptr) *why = {csv_refusal_kind::not_derivable, -1, identity->flags};
        return refuse("Error in process_csv_record(), uuid_create() failed.\n", verbosity);
    }
    std::memcpy(record->patient_uuid, identity->uuid, sizeof identity->uuid);
    return 1;
}

int process_csv_record(const char* position, patient_record* record, int verbosity) {
    uuid_hash_data identity;
    if (!read_csv_record_fields(position, record, verbosity, &identity)) return 0;
    return finish_csv_record(uuid_create(&identity), &identity, record, verbosity);
}
