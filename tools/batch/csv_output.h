// The output format stage of mintbatch: what each input line becomes in the
// output. The full format copies every line and appends "," and the
// identifier where one was derived; the key-only format writes just the
// line's record key and the identifier, one output line per input line, so
// the output links back to the input by position or by key without carrying
// names or SSNs.
#ifndef MINT_TOOLS_BATCH_CSV_OUTPUT_H
#define MINT_TOOLS_BATCH_CSV_OUTPUT_H

#include <cstddef>

#include "line_stream.h"

enum class output_format { full, key_only };

struct line_output {
    output_writer* writer;
    output_format format;
    // The field delimiter, in the header and before the identifier. Lines
    // with another than a comma are written by the general path alone.
    char delimiter = ',';
};

// The header line that replaces the input's first line.
bool write_output_header(line_output* output);

// Output bytes that write_identified_line needs for this line.
size_t identified_line_size(const line_output* output, const char* line, size_t length);

// Writes the output line of an input line that gets an identifier, with a
// place for its 12 characters, and returns that place: the caller fills it
// before the next write or flush. `size` is identified_line_size's answer.
// `line` may be read up to line_read_slack bytes beyond its terminator. Null
// once a write has failed.
char* write_identified_line(line_output* output, const char* line, size_t size);

// The same, reading nothing beyond the line's `size - 14` bytes it repeats
// (slower), for a line whose surroundings another thread may be writing.
char* write_identified_line_exactly(line_output* output, const char* line, size_t size);

// The bytes write_identified_line writes for the line, with `uuid` in its
// place, into `to` (identified_line_size bytes), reading nothing beyond the
// line. For a thread that prepares output which another writes out.
void compose_identified_line(char* to, const char* line, size_t size, const char* uuid);

// Writes the output line of an input line without an identifier: a refused
// record (`keyed`) or a line without a record key.
bool write_unidentified_line(line_output* output, const char* line, size_t length, bool keyed);

// A line too long to parse goes out piece by piece, then is ended; it counts
// as a line without a record key.
bool write_long_line_piece(line_output* output, const char* piece, size_t length);
bool end_long_line(line_output* output);

// The length of the record key field at the start of a line, as written
// (quotes included): up to the comma that ends a bare field, or up to and
// including the closing quote of a quoted one. Parsing sees a line up to its
// first zero byte.
size_t record_key_length(const char* line, char delimiter = ',');

#endif
