// The batch run of mintbatch: one CSV input to one CSV output, as a pipeline
// of stages (source -> lines -> converter -> output format -> sink), each
// set by its own options.
#ifndef MINT_TOOLS_BATCH_CSV_BATCH_H
#define MINT_TOOLS_BATCH_CSV_BATCH_H

#include "csv_output.h"
#include "progress.h"
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
    // Converter: the secret of keyed identifiers; null for plain ones.
    const mint::uuid_key* key;
};

// Converts the input into the output: the input's first line is dropped and
// the header line written in its place; every other line gives one output
// line, in order (see csv_output.h for what each becomes).
//
// Returns the exit status: 0 when every line was read and written, 1 when a
// file cannot be opened, read or written, the output would overwrite the
// input, or the messages could not be written.
int process_csv_file(const batch_options& options);

#endif
