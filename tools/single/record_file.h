// Reading one patient record from a file of keyword/value lines.
#ifndef MINT_TOOLS_RECORD_FILE_H
#define MINT_TOOLS_RECORD_FILE_H

#include <cstdio>

#include "patient_record.h"

// The characters of a line kept for reading, one for the terminator
// included. Every field's value fits many times over; the rest of a longer
// line is skipped.
constexpr int record_line_size = 64 * 1024;

// Clears `record`, then fills it from the stream's keyword/value lines up to a
// `data_end` line. Returns 1 when `data_end` was reached; 0 at the end of the
// input or at a malformed line, which it reports on standard output (and,
// unreported, when there is no memory for a line). Values are
// stored as read; the library's setters judge them later. The stream stays
// open, positioned after the last line read.
int read_patient_record(FILE* stream, patient_record* record);

#endif
