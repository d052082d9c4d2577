// Fields of one CSV data line of mintbatch, and the line's identifier.
//
// A line is a zero-terminated text; its end is the terminator. Fields are
// separated by commas (or another delimiter, given) and are either bare (up to the next comma) or enclosed
// in double quotes (up to the next double quote, so they may hold commas).
// A doubled quote is no escape: it ends the field and opens the next one.
//
// A read position points at the next unread character of the line, or is
// null when there is no further field to read.
#ifndef MINT_TOOLS_BATCH_CSV_RECORD_H
#define MINT_TOOLS_BATCH_CSV_RECORD_H

#include <cstddef>
#include <cstdint>

#include "patient_record.h"
#include "uuid_keyed.h"

// Reads one text field into `destination` (at most capacity - 1 characters
// kept, always terminated) and sets *empty to 1 when it holds no characters,
// 0 otherwise. Returns the position after the field's comma, the position of
// the character behind a closing quote when no comma follows it, or null
// when the field runs to the end of the line. At a null position or at the
// end of the line it returns null and writes neither *empty nor the field.
const char* read_csv_text_field(const char* position, int* empty, char* destination, size_t capacity,
                                char delimiter = ',');

// Reads one integer field: an optional '-' and decimal digits. Its value, as
// a "%d" conversion gives it (saturated to the 32-bit bounds), is stored in
// *value whenever the text starts with a number; *empty is 0 then, else 1.
// Returns the position after the field's comma; null at the end of the line
// and for any other character in the field, which also sets *empty to 1.
// At a null position or at the end of the line it returns null and writes
// neither *empty nor *value.
const char* read_csv_int_field(const char* position, int* empty, int32_t* value, char delimiter = ',');

// Why a line gave no identifier, for the report: which of the twelve
// columns after data_record (0 to 11) and how.
enum class csv_refusal_kind { none, short_line, not_a_number, refused_value, not_derivable };
struct csv_refusal {
    csv_refusal_kind kind;
    int column;
    uint32_t flags;  // the identity's set-marks, for not_derivable
};

// The column's name in the header ("patient_name", ...).
const char* csv_column_name(int column);

// Characters kept of an SSN field, terminator included: process_csv_record
// reads at most csv_ssn_field_capacity - 1 of them (names: their fields in
// patient_record, less one) and skips the rest of a longer field.
constexpr size_t csv_ssn_field_capacity = 1000;

// Reads the twelve patient and policy holder fields that follow the
// data_record field, from `position`, into `record` (which the caller has
// cleared), hands each non-empty one to its library setter and derives the
// identifier into record->patient_uuid. Returns 1 when processed; 0 when the
// line is short, a setter refuses a value or no identifier can be derived,
// printing why when `verbosity` is 2.
int process_csv_record(const char* position, patient_record* record, int verbosity);

// The same with keyed identifiers; a null key gives process_csv_record's.
// (Its own object file: linking process_csv_record alone needs nothing but
// the twenty exported functions.)
int process_csv_record_keyed(const char* position, patient_record* record, int verbosity,
                             const mint::uuid_key* key, char delimiter = ',', csv_refusal* why = nullptr);

// process_csv_record's two halves: reading and setting the fields into
// `identity` (1 when every value was accepted), then recording the result of
// deriving the identifier from it.
// With a delimiter other than a comma between the fields, and `why` (when
// not null) set for a refused line.
int read_csv_record_fields(const char* position, patient_record* record, int verbosity, uuid_hash_data* identity,
                           char delimiter = ',', csv_refusal* why = nullptr);
int finish_csv_record(int created, const uuid_hash_data* identity, patient_record* record, int verbosity,
                      csv_refusal* why = nullptr);

#endif
