// The by-name run between files: opens the input, the output and the report
// (each output written whole or not at all), runs convert_by_name and names
// what failed. The POSIX side of reading by name; the stages themselves are
// in named_convert.h.
#ifndef MINT_TOOLS_BATCH_NAMED_FILE_H
#define MINT_TOOLS_BATCH_NAMED_FILE_H

#include "named_convert.h"
#include "progress.h"

struct named_file_options {
    const char* input_path;   // "-": standard input
    const char* output_path;  // "-": standard output, and messages go to standard error
    const char* report_path;  // null: no report
    progress_mode progress;
    by_name_options conversion;
};

// Returns the exit status: 0 when every record was read and written, 1
// otherwise (an unmapped header, a file that cannot be opened, read or
// written). *counts receives the records of each outcome.
int process_named_file(named_file_options& options, run_counts* counts);

#endif
