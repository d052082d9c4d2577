// The converter stage of mintbatch: every input line to its output line, in
// order. Silent runs (level 0) read most lines by the quick route, which
// prints nothing; every other line, and every line of a verbose run, goes the
// general path, which prints the library's messages and, when verbose, the
// program's own.
//
// With more than one thread, silent runs derive blocks of lines on several
// threads (line_converter_threads.cpp); what is printed and written stays
// exactly what one thread gives.
#ifndef MINT_TOOLS_BATCH_LINE_CONVERTER_H
#define MINT_TOOLS_BATCH_LINE_CONVERTER_H

#include <cstddef>
#include <cstdint>

#include "csv_output.h"
#include "line_stream.h"
#include "mintcore.h"
#include "progress.h"
#include "run_report.h"
#include "uuid_keyed.h"

struct line_converter {
    const char* input_path;  // named in the messages about refused records
    // 0 prints no messages of its own, 1 adds one line per input line, 2
    // adds the record dumps and the reasons records were refused.
    int verbosity;
    // The secret of keyed identifiers; null for plain ones.
    const mint::uuid_key* key;
    // Threads deriving identifiers at level 0 (the calling thread among
    // them); verbose runs use the calling thread alone.
    int threads;
    size_t lines_per_block;  // the most a thread takes at once (0: as many as fit)
    line_reader* input;
    line_output* output;
    progress_meter* progress;
    int64_t processed;
    int64_t refused;
    int64_t discarded;
    // Lines that were no record: discarded ones with some text, and refused
    // ones that were short or had something else than a number in a number
    // field; and blank lines.
    int64_t malformed;
    int64_t blank;
    // The field delimiter; with another than a comma every line takes the
    // general path, on the calling thread.
    char delimiter;
    // The report (null: none) and the records of each outcome it counts;
    // with a report the conversion runs on the calling thread.
    text_buffer* report;
    output_writer* report_writer;
    bool report_failed;
    run_counts outcomes;
    // A quick-route line whose output is buffered but whose identifier is
    // not derived yet: it waits for a second one, so that both are derived
    // at once. Its record is quick_records[0]; `pending_uuid` is its place in
    // the output buffer. The quick route reads straight into these slots.
    bool pending;
    uuid_hash_data quick_records[2];
    char* pending_uuid;
};

void open_line_converter(line_converter* converter, const char* input_path, int verbosity, int threads,
                         line_reader* input, line_output* output, progress_meter* progress);

enum class run_step { done, read_failed, write_failed };

// Writes the report's buffered lines to its writer (report_failed on failure).
void flush_report(line_converter* converter);

// Drops the input's first line, whatever its length.
run_step drop_first_line(line_converter* converter);

// Converts every further line. Whatever was converted before a read or
// write error is in the output's buffer (not flushed) when it returns.
run_step convert_lines(line_converter* converter);

// The parts the threaded conversion shares with the single-threaded one.

// The general path for one line of at most max_parsed_line bytes,
// terminated after `length` bytes: parsing and messages see its text up to
// its first zero byte, the output gets all of its bytes. Unless `exactly`,
// the output is copied from the line in whole vectors, reading into the
// bytes behind it (quicker), which no other thread may be writing meanwhile.
// False when the output could not be written.
bool convert_by_general_path(line_converter* converter, const char* line, size_t length, bool exactly);

// A line too long to parse, copied through from the input.
run_step pass_long_line(line_converter* converter, line_output* output);

// The threaded conversion (threads > 1, level 0).
run_step convert_lines_in_parallel(line_converter* converter);

// The single-threaded one, until the input ends, reading or writing fails,
// or more than `until_bytes` bytes have been read (then *more is set), in
// whole lines.
run_step convert_lines_in_turn(line_converter* converter, int64_t until_bytes, bool* more);

#endif
