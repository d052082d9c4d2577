// Reading CSV by column names: RFC 4180 records, the delimiter found from the
// header, and the header's columns mapped to the identity fields.
//
// A record ends at a line end (LF, CR LF or a lone CR) outside quotes; a
// field that starts with a double quote runs to the next lone double quote,
// holds delimiters and line ends, and a doubled quote inside it is one quote.
// A quote inside a field that did not start with one is an ordinary
// character. Nothing here prints, reads files or calls the system.
#ifndef MINT_TOOLS_BATCH_NAMED_CSV_H
#define MINT_TOOLS_BATCH_NAMED_CSV_H

#include <cstddef>
#include <cstdint>

#include "field_values.h"

// The longest record (without its line end) that is read; a longer one is
// passed through as it is, without an identifier.
constexpr size_t most_record_bytes = 64 * 1024;
// The most columns a header may have.
constexpr size_t most_columns = 1024;

// Scanning for a record's end, which may lie beyond the bytes read so far.
struct record_scan {
    char delimiter;
    int state;          // where in a field the scan is
    size_t scanned;     // bytes of the record looked at
    int64_t line_ends;  // line ends inside quoted fields so far
    char last;          // the byte before data[scanned], when scanned > 0 or pieces went before
    bool quotes;        // the record has a quote
};

void start_record_scan(record_scan* scan, char delimiter);

// Goes on through data[scan->scanned, size): true when the record's line end
// is found, with *length the record's bytes and *terminator its line end's
// (1 or 2; a CR as the last byte read waits for the next byte, unless
// `at_end`). At the end of input the record ends with the data (*terminator
// 0). False when more data is needed.
bool find_record_end(record_scan* scan, const char* data, size_t size, bool at_end, size_t* length,
                     size_t* terminator);

// One field of a record: its bytes as written (quotes included).
struct field_span {
    uint32_t start;
    uint32_t length;
};

// Cuts a record into fields; returns how many it has (the spans of the first
// `most` are stored). `quotes`: whether the record may hold a quote (false
// only when find_record_end found none, which is quicker).
size_t split_record(const char* record, size_t length, char delimiter, field_span* fields, size_t most,
                    bool quotes = true);

// A field's value: its text without the enclosing quotes and with doubled
// quotes made single (text after a closing quote is kept as it is). At most
// capacity - 1 bytes are stored, always terminated; returns the value's
// full length.
size_t field_value(const char* field, size_t length, char* to, size_t capacity);

// The delimiter a header line uses: of ',' ';' tab '|', the one found most
// often outside quotes (the first of them in that order on a tie); ',' when
// there is none.
char find_delimiter(const char* header, size_t length);

// Writes `value` as one CSV field into `to` (capacity bytes), quoted when it
// holds the delimiter, a quote, CR or LF (its quotes doubled then). Returns
// the length needed; nothing is written when it exceeds the capacity.
size_t quote_field(const char* value, size_t length, char delimiter, char* to, size_t capacity);

// The fields a column can give, named as the positional header names them;
// the two date fields stand for a year, month and day column each.
enum class named_field : int {
    data_record,
    patient_name,
    patient_ssn,
    patient_gender,
    patient_birth_year,
    patient_birth_month,
    patient_birth_day,
    policy_name,
    policy_ssn,
    policy_gender,
    policy_birth_year,
    policy_birth_month,
    policy_birth_day,
    patient_birth_date,
    policy_birth_date,
};
constexpr int named_field_count = 15;

const char* named_field_name(named_field field);
// The field of that name (ASCII case ignored); false when none.
bool find_named_field(const char* name, size_t length, named_field* field);

// What the user asked of the columns.
struct column_choice {
    // The column named for a field by --map (null: the field's own name).
    const char* mapped[named_field_count];
    // Further columns to leave out of a de-identified output.
    static constexpr size_t most_dropped = 64;
    const char* dropped[most_dropped];
    size_t dropped_count;
};

enum class mapping_problem {
    none,
    too_many_columns,    // more than most_columns, or a header over most_record_bytes
    duplicate_column,    // two columns of the same name (unnamed columns may repeat)
    missing_column,      // a required field has no column (`field`)
    missing_mapped,      // a --map or --drop column is not in the header (`name`)
    claimed_twice,       // one column named for two fields (`field` and `other`)
    date_and_numbers,    // a date column and year/month/day columns for one birth (`field`)
};

// The header, read and mapped. Column names are kept as values (unquoted),
// for messages and for a front end that shows them.
struct header_mapping {
    char delimiter;
    bool byte_order_mark;  // the header began with one (not part of the first name)
    size_t column_count;
    // Each field's column, or -1 when it has none.
    int column_of[named_field_count];
    // Columns a de-identified output leaves out: the mapped names, SSNs and
    // birth columns, and the dropped ones.
    bool identifying[most_columns];
    char names[most_record_bytes + most_columns];
    uint32_t name_start[most_columns];
    uint32_t name_length[most_columns];
    mapping_problem problem;
    named_field field;
    named_field other;
    const char* name;  // the missing --map or --drop column
    uint32_t duplicate;  // the duplicated column's index
};

// Reads the header line (without its line end) with `delimiter` (0: find
// it) and maps its columns. Returns false with `problem` set when the file
// cannot be read by name.
bool map_header(const char* header, size_t length, char delimiter, const column_choice& choice,
                header_mapping* mapping);

// The problem and the header's columns as a message of one or two lines
// (at most capacity - 1 bytes, always terminated).
void describe_mapping_problem(const header_mapping& mapping, const char* input_name, char* to, size_t capacity);

#endif
