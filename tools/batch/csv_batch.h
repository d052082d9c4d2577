// The batch run of mintbatch: one CSV input to one CSV output, as a pipeline
// of stages (source -> lines -> converter -> output format -> sink), each
// set by its own options.
#ifndef MINT_TOOLS_BATCH_CSV_BATCH_H
#define MINT_TOOLS_BATCH_CSV_BATCH_H

#include <cstdint>

#include "csv_output.h"
#include "line_stream.h"
#include "progress.h"
#include "run_report.h"
#include "uuid_keyed.h"

struct batch_options {
    const char* input_path;   // "-": standard input
    const char* output_path;  // "-": standard output, and messages go to standard error
    // Converter: 0 prints no messages of its own but failures, 1 adds
    // progress lines and the summary, 2 adds the record dumps and the reasons
    // records were refused.
    int verbosity;
    output_format format;
    progress_mode progress;
    // Converter: threads that derive identifiers at level 0, the calling
    // thread among them (1: the calling thread alone). Verbose runs use one
    // thread whatever this says. The result does not depend on it.
    int threads = 1;
    // Converter: the most lines a thread takes at once (0: as many as fit in
    // its block). Only tests set it, so that small inputs fill many blocks.
    int lines_per_block = 0;
    // Converter: the secret of keyed identifiers; null for plain ones.
    const mint::uuid_key* key = nullptr;
    // The report of the records without an identifier and the skipped lines
    // (see run_report.h); null for none. With a report the conversion runs
    // on one thread.
    const char* report_path = nullptr;
    // The field delimiter (0: a comma).
    char delimiter = 0;
};

// Converts the input into the output: the input's first line is dropped and
// the header line written in its place; every other line gives one output
// line, in order (see csv_output.h for what each becomes).
//
// Returns the exit status: 0 when every line was read and written, 1 when a
// file cannot be opened, read or written, the output would overwrite the
// input, or the messages could not be written.
int process_csv_file(const batch_options& options, run_counts* counts = nullptr);

// The pipeline between its two ends, which process_csv_file opens: from
// `input` (its first block already read, so that an input that cannot be
// read at all is known before the output exists) to `writer`, which is
// flushed. `input_size` is the input's size in bytes when known, else -1.
// Prints what the run prints, failures included, with the options' paths as
// the names of input and output. False when reading or writing failed.
// With `report` (when options.report_path is set), the report goes there
// (flushed), and *counts receives the records of each outcome.
bool convert_csv_stream(line_reader* input, output_writer* writer, const batch_options& options,
                        int64_t input_size, output_writer* report = nullptr, run_counts* counts = nullptr);

// The same from any source to any sink, memory buffers included (for tests
// and fuzzing); the paths in `options` only name them in messages.
bool convert_csv_buffers(byte_source* source, byte_sink* sink, const batch_options& options);

#endif
