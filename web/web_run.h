// The browser page's entry into the batch pipeline: one part of an input
// file (a run of whole records) from a source to a sink, with the options the
// page offers. Free of files and POSIX calls of its own; the page's workers
// give it a source and sinks (web_exports.cpp) and run the parts of one file
// side by side, then put their outputs together in input order.
//
// By name (the page's way, as mintbatch --by-name) the by-name stage does
// the work (named_convert.h): web_read_header maps the header line for the
// page to show, and each part is converted from a record start, given the
// header line and the line and record numbers it starts at. By position the
// positional reader does, with the options it has (',' and every field in
// its column); any other fails with web_status::needs_by_name before it
// writes anything.
#ifndef MINT_WEB_WEB_RUN_H
#define MINT_WEB_WEB_RUN_H

#include <cstddef>
#include <cstdint>

#include "line_stream.h"
#include "named_csv.h"
#include "uuid_keyed.h"

// The fields a column can be mapped to are the by-name reader's: the
// thirteen columns of the positional format, in its order, then the two date
// columns that stand for three numbers each.
using web_field = named_field;
constexpr int web_field_count = named_field_count;
constexpr int web_positional_fields = 13;
static_assert(static_cast<int>(named_field::policy_birth_day) == web_positional_fields - 1,
              "the positional fields come first");

// The field's name, as a header names it.
const char* web_field_name(web_field field);

enum class web_output : int {
    full,               // every record as read, its identifier appended
    drop_identifying,   // every column but names, SSNs and birth dates, and the identifier
    key_only,           // the record key (or number) and the identifier
};

// What works in this build, as bits of web_features().
enum web_feature : unsigned {
    web_feature_by_name = 1u << 0,           // columns found by name, any order, mapping
    web_feature_delimiter = 1u << 1,         // a delimiter other than ','
    web_feature_date_format = 1u << 2,       // date columns and their format
    web_feature_gender_values = 1u << 3,     // gender codes such as M/F
    web_feature_drop_identifying = 1u << 4,  // web_output::drop_identifying
    web_feature_report = 1u << 5,            // the report without personal data
};
unsigned web_features();

constexpr int web_no_column = -1;

struct web_options {
    // Read by name (the first line names the columns) or by position.
    bool by_name;
    // ',' ';' '\t' '|', or 0: found from the header line (by name).
    char delimiter;
    // The field's column (0 for the first), or web_no_column when the file
    // has none. By position, field i is column i. By name, web_no_column
    // leaves the field to the by-name rules, and a column maps the field to
    // that column's name (as --map FIELD=NAME).
    int column_of_field[web_field_count];
    // strftime-like: "%Y-%m-%d" (the default), "%d/%m/%Y", ...; NUL-ended.
    char date_format[16];
    // The codes read as genders, "CODE=1,CODE=2,..." as the command line
    // takes them; empty: the numbers alone. NUL-ended.
    char gender_values[256];
    web_output output;
    bool report;  // also write the report
    // The prepared secret of keyed identifiers; null for plain ones.
    const mint::uuid_key* key;
};

// The options a new page starts with: by position, ',', every field in its
// column, full output, no report, no key.
void default_web_options(web_options* options);

// Where a part lies in its file, for what is numbered across parts.
struct web_part {
    bool first;            // starts the file: its first line is the header
    // The file's header line as read (its line end excluded), given to every
    // part so that each finds the columns by name alike; empty by position.
    const char* header;
    size_t header_length;
    int64_t first_line;    // the line number of the part's first line (1 for the file's)
    int64_t first_record;  // the number of its first record (1 for the file's first after the header)
};

struct web_counts {
    int64_t identified;  // records that got an identifier
    int64_t refused;     // records whose values were refused
    int64_t skipped;     // lines that were no record (blank, short, keyless)
};

enum class web_status : int {
    done,
    read_failed,
    write_failed,
    needs_by_name,  // an option the positional reader does not have
    unmapped,       // by name: the header cannot be mapped (web_read_header says why)
    bad_options,    // by name: a date format or gender codes that cannot be read
    report_failed,
};

// Converts the part from `input` into `output` (and the report into
// `report`, when asked for): the first part writes the output's header line
// in place of the input's; every later part starts at the start of a record
// and writes its records' output only. The parts' outputs, put together in
// order, are what mintbatch writes for the whole file with the same options.
// `counts` is set when it returns, whatever the status.
web_status run_web_part(const web_options& options, const web_part& part, byte_source* input, byte_sink* output,
                        byte_sink* report, web_counts* counts);

// Reads and maps the header line at the start of `bytes` (the file's
// first `size` bytes, all of it when `at_end`) by name with the options, as
// a part would: the columns, the delimiter and each field's column, or the
// problem (named in `message`, at most capacity - 1 bytes). *length is the
// header line's bytes without its line end, *line_end its line end's.
// `mapping` receives everything; false on a problem.
bool web_read_header(const web_options& options, const char* bytes, size_t size, bool at_end,
                     header_mapping* mapping, size_t* length, size_t* line_end, char* message, size_t capacity);

// Where a part may start: a record start, with the file's numbers there.
struct web_cut {
    int64_t offset;        // the byte the record starts at
    int64_t first_line;    // its line number
    int64_t first_record;  // its record number
};

// Frames a file from its first byte (the header line included) with the
// delimiter the header mapping found, as the by-name reader frames records
// (quoted line breaks and all), one cut at a time: the page reads the file
// once, through the framing, and hands each part's bytes on as it is cut.
struct web_framer {
    line_reader reader;
    int64_t offset;  // where the next record starts
    int64_t line;
    int64_t record;
    bool header_done;
    char delimiter;
};

void start_web_framer(web_framer* framer, char delimiter, byte_source* input);

enum class web_frame_step { cut, end, read_failed };

// Reads on to the first record start at or beyond byte `until`:
// web_frame_step::cut with *cut set there, or end when the file ends first
// (its last part runs to its end).
web_frame_step next_web_cut(web_framer* framer, int64_t until, web_cut* cut);

// The records and lines the running part has been through so far, for the
// page's progress while run_web_part reads (its source calls back into the
// page); 0 outside a run.
int64_t web_lines_so_far();

#endif
