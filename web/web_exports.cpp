// The functions the page's workers call: C names over web_run.h and the key
// file's rules (the library's key_text.h, as mintbatch reads them), with the
// state of one worker's runs. The worker
// reads the file and collects the output through two file descriptors it
// opens on devices of its own (worker.js), so the pipeline reads and writes as
// mintbatch does, in fixed blocks whatever the file's size.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstdint>

#include "key_text.h"
#include "line_stream.h"
#include "uuid_keyed.h"
#include "web_run.h"

namespace {

web_options options;
bool options_set = false;
web_counts counts;
mint_key_text key_digits;
mint::uuid_key key;
// The last header read for the page, and what is wrong with its mapping.
header_mapping header;
char header_message[1024];
size_t header_length = 0;
size_t header_line_end = 0;
// The framing of the file the page is cutting into parts, and its last cut.
web_framer framer;
byte_source frame_input;
web_cut cut;

web_options& current_options() {
    if (!options_set) {
        default_web_options(&options);
        options_set = true;
    }
    return options;
}

// Copies a NUL-ended text into a fixed field; false (the field unchanged)
// when it does not fit.
template <size_t Size>
bool set_text(char (&field)[Size], const char* text) {
    size_t length = 0;
    while (text[length] != '\0') {
        if (++length == Size) return false;
    }
    for (size_t i = 0; i <= length; ++i) field[i] = text[i];
    return true;
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE unsigned mint_web_features() {
    return web_features();
}

EMSCRIPTEN_KEEPALIVE int mint_web_field_count() {
    return web_field_count;
}

EMSCRIPTEN_KEEPALIVE int mint_web_positional_fields() {
    return web_positional_fields;
}

EMSCRIPTEN_KEEPALIVE const char* mint_web_field_name(int field) {
    return web_field_name(static_cast<web_field>(field));
}

EMSCRIPTEN_KEEPALIVE void mint_web_reset_options() {
    default_web_options(&current_options());
}

EMSCRIPTEN_KEEPALIVE void mint_web_set_by_name(int on) {
    current_options().by_name = on != 0;
}

EMSCRIPTEN_KEEPALIVE void mint_web_set_delimiter(int delimiter) {
    current_options().delimiter = static_cast<char>(delimiter);
}

EMSCRIPTEN_KEEPALIVE int mint_web_set_column(int field, int column) {
    if (field < 0 || field >= web_field_count || column < web_no_column) return 0;
    current_options().column_of_field[field] = column;
    return 1;
}

EMSCRIPTEN_KEEPALIVE int mint_web_set_date_format(const char* format) {
    return set_text(current_options().date_format, format) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int mint_web_set_gender_values(const char* values) {
    return set_text(current_options().gender_values, values) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE int mint_web_set_output(int output) {
    if (output < static_cast<int>(web_output::full) || output > static_cast<int>(web_output::key_only)) return 0;
    current_options().output = static_cast<web_output>(output);
    return 1;
}

EMSCRIPTEN_KEEPALIVE void mint_web_set_report(int on) {
    current_options().report = on != 0;
}

// The key file's text, in pieces: begin, take each piece (0 while it is
// still a key, else the fault: MINT_KEY_TEXT_*), then finish, which prepares
// the key and uses it for the runs that follow. The caller wipes its copies
// of the text; the digits here are wiped once the key is prepared or refused.
EMSCRIPTEN_KEEPALIVE void mint_web_key_begin() {
    mint_key_text_start(&key_digits);
}

EMSCRIPTEN_KEEPALIVE int mint_web_key_take(const unsigned char* bytes, size_t length) {
    const int fault = mint_key_text_take(&key_digits, bytes, length);
    if (fault != MINT_KEY_TEXT_OK) mint_key_text_wipe(&key_digits, sizeof key_digits);
    return fault;
}

EMSCRIPTEN_KEEPALIVE int mint_web_key_finish() {
    const int fault = mint_key_text_finish(&key_digits);
    if (fault == MINT_KEY_TEXT_OK) {
        mint::uuid_key_init(&key, key_digits.bytes, key_digits.digits / 2);
        current_options().key = &key;
    }
    mint_key_text_wipe(&key_digits, sizeof key_digits);
    return fault;
}

EMSCRIPTEN_KEEPALIVE const char* mint_web_key_reason(int fault) {
    return mint_key_text_fault(fault);
}

// Plain identifiers again; the prepared key is wiped.
EMSCRIPTEN_KEEPALIVE void mint_web_key_clear() {
    current_options().key = nullptr;
    mint::wipe_secret(&key, sizeof key);
}

// One part of the file from `input_fd` to `output_fd` (and `report_fd`, or
// -1), as run_web_part, with the header line's bytes (possibly none);
// returns its web_status. Line and record numbers are doubles, as
// JavaScript's numbers are.
EMSCRIPTEN_KEEPALIVE int mint_web_run_part(int input_fd, int output_fd, int report_fd, int first, const char* header,
                                           size_t header_length, double first_line, double first_record) {
    byte_source input = file_source(input_fd);
    byte_sink output = file_sink(output_fd);
    byte_sink report = file_sink(report_fd);
    const web_part part = {first != 0, header, header_length, static_cast<int64_t>(first_line),
                           static_cast<int64_t>(first_record)};
    return static_cast<int>(
        run_web_part(current_options(), part, &input, &output, report_fd >= 0 ? &report : nullptr, &counts));
}

// Reads the header line at the start of the file's first bytes (all of
// them when at_end) by name with the options set, for the page's dropdowns:
// 1 when it maps, 0 with a problem (then mint_web_header_message says it and
// mint_web_header_problem_field names the field it is about, or -1).
EMSCRIPTEN_KEEPALIVE int mint_web_read_header(const char* bytes, size_t size, int at_end) {
    return web_read_header(current_options(), bytes, size, at_end != 0, &header, &header_length, &header_line_end,
                           header_message, sizeof header_message)
               ? 1
               : 0;
}

// The header line's bytes without its line end, and its line end's.
EMSCRIPTEN_KEEPALIVE double mint_web_header_length(int line_end) {
    return static_cast<double>(line_end != 0 ? header_line_end : header_length);
}

// Starts framing the file read from `input_fd` (see next_web_cut).
EMSCRIPTEN_KEEPALIVE void mint_web_frame_start(int input_fd, int delimiter) {
    frame_input = file_source(input_fd);
    start_web_framer(&framer, static_cast<char>(delimiter), &frame_input);
}

// The next cut at or beyond byte `until`: 1 found (mint_web_cut gives it),
// 0 the end of the file, -1 a read error.
EMSCRIPTEN_KEEPALIVE int mint_web_frame_next(double until) {
    switch (next_web_cut(&framer, static_cast<int64_t>(until), &cut)) {
        case web_frame_step::cut: return 1;
        case web_frame_step::end: return 0;
        case web_frame_step::read_failed: return -1;
    }
    return -1;
}

// The last cut: 0 its offset, 1 its first line, 2 its first record.
EMSCRIPTEN_KEEPALIVE double mint_web_cut(int which) {
    return static_cast<double>(which == 0 ? cut.offset : which == 1 ? cut.first_line : cut.first_record);
}

EMSCRIPTEN_KEEPALIVE int mint_web_header_columns() {
    return static_cast<int>(header.column_count);
}

EMSCRIPTEN_KEEPALIVE const char* mint_web_header_column(int column) {
    if (column < 0 || static_cast<size_t>(column) >= header.column_count) return "";
    return header.names + header.name_start[column];
}

EMSCRIPTEN_KEEPALIVE int mint_web_header_delimiter() {
    return static_cast<unsigned char>(header.delimiter);
}

EMSCRIPTEN_KEEPALIVE int mint_web_header_field_column(int field) {
    return field >= 0 && field < web_field_count ? header.column_of[field] : web_no_column;
}

EMSCRIPTEN_KEEPALIVE const char* mint_web_header_message() {
    return header_message;
}

// The fields a problem is about: 0 the first, 1 the other (claimed twice).
EMSCRIPTEN_KEEPALIVE int mint_web_header_problem_field(int which) {
    switch (header.problem) {
        case mapping_problem::missing_column:
        case mapping_problem::date_and_numbers: return which == 0 ? static_cast<int>(header.field) : -1;
        case mapping_problem::claimed_twice:
            return static_cast<int>(which == 0 ? header.field : header.other);
        default: return -1;
    }
}

// The counts of the last part: 0 identified, 1 refused, 2 skipped.
EMSCRIPTEN_KEEPALIVE double mint_web_count(int which) {
    return static_cast<double>(which == 0 ? counts.identified : which == 1 ? counts.refused : counts.skipped);
}

EMSCRIPTEN_KEEPALIVE double mint_web_lines_so_far() {
    return static_cast<double>(web_lines_so_far());
}

}  // extern "C"
