// The batch run of mintbatch: one CSV input file to one CSV output file.
#ifndef MINT_TOOLS_BATCH_CSV_BATCH_H
#define MINT_TOOLS_BATCH_CSV_BATCH_H

#include "line_stream.h"

// Converts the input file into the output file: the input's first line is
// dropped and the header line written in its place; every other line is
// copied byte for byte, its end replaced by "\n", with "," and the record's
// identifier appended where one could be derived. Verbosity 0 prints no
// messages of its own but failures, 1 adds progress lines and the summary, 2
// adds the record dumps and the reasons records were refused.
//
// Returns the exit status: 0 when every line was read and written, 1 when a
// file cannot be opened, read or written, or the output would overwrite the
// input.
int process_csv_file(const char* input_path, const char* output_path, int verbosity);

// Writes the output's header line.
bool write_csv_header(output_writer* output);

#endif
