// The quick route from a CSV data line to its identifier, for the common case.
//
// It reads a line by exactly the rules of read_csv_text_field,
// read_csv_int_field and process_csv_record, but only ever answers for a line
// that those would turn into an identifier without a word on standard output.
// For anything else (a short line, a value a setter would refuse, a number
// written in an unusual way) it answers "general path", having printed and
// changed nothing, and the caller runs the general path, which then decides.
//
// Lines are scanned a vector at a time, so the caller guarantees that the
// csv_line_slack bytes after a line's terminator may be read (their values
// do not matter).
#ifndef MINT_TOOLS_BATCH_CSV_FAST_H
#define MINT_TOOLS_BATCH_CSV_FAST_H

#include <cstddef>
#include <span>

#include "mintcore.h"

constexpr size_t csv_line_slack = 128;

enum class fast_line { derived, general_path };

// `line` has `length` bytes and a terminator behind them. For
// fast_line::derived, `uuid` holds the line's 12 identifier characters (the
// zero identifier included).
fast_line derive_csv_line_fast(const char* line, size_t length, char (&uuid)[12]);

// The same in two steps, so that a caller can derive several records at
// once: for fast_line::derived, every field of `record` is filled and
// uuid_create gives the line's identifier from it, silently.
fast_line read_csv_line_fast(const char* line, size_t length, uuid_hash_data* record);

// The quick route is compiled once per instruction set; every compilation
// gives the same answers. `read` is read_csv_line_fast's work.
struct quick_route {
    const char* name;
    fast_line (*read)(const char* line, size_t length, uuid_hash_data* record);
    bool (*supported)();  // whether this CPU can run it
};

// Every compilation built in, the baseline first; and the one this CPU runs
// best, chosen on first use.
std::span<const quick_route> quick_routes();
const quick_route& selected_quick_route();

// The first `stop` or zero byte at or after `text`, which is followed, within
// csv_line_slack bytes of its first zero byte, by readable memory. The vector
// version is the one the quick route uses where the CPU has it; tests compare
// the two.
const char* find_csv_stop_portable(const char* text, char stop);
const char* find_csv_stop(const char* text, char stop);

#endif
