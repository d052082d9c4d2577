#include "web_run.h"

#include <cstdio>
#include <cstring>

#include "csv_output.h"
#include "line_converter.h"
#include "named_convert.h"
#include "progress.h"

namespace {

// The converter of the part that is running, for web_lines_so_far.
const line_converter* running = nullptr;
// By name: the records read so far by the running part.
int64_t named_records_so_far = 0;

// The header's columns as read with no mapping (for their names), the
// mapping a part runs with, and the options both are read with: large, so
// kept here rather than on the stack.
header_mapping plain_header;
header_mapping part_header;
by_name_options named;
gender_codes genders;

void note_progress(void*, int64_t records, int64_t) {
    named_records_so_far = records;
}

// The by-name options for the page's: false when the date format or the
// gender codes cannot be read, or a mapped column is not in the header.
bool take_named_options(const web_options& options, const char* header, size_t length) {
    named = by_name_options{};
    named.delimiter = options.delimiter;
    if (!find_date_format(options.date_format, &named.dates)) return false;
    if (options.gender_values[0] != '\0') {
        if (!parse_gender_codes(options.gender_values, &genders)) return false;
        named.genders = &genders;
    }
    named.output = options.output == web_output::full               ? named_output::full
                   : options.output == web_output::drop_identifying ? named_output::drop_identifying
                                                                    : named_output::key_only;
    named.key = options.key;
    named.input_name = "input";
    named.output_name = "output";
    named.progress = note_progress;
    // A column chosen for a field maps the field to the column's name, as
    // --map does; its name is the header's value, read as the rules read it.
    bool any_chosen = false;
    for (int field = 0; field < web_field_count; ++field) any_chosen |= options.column_of_field[field] >= 0;
    if (any_chosen) {
        map_header(header, length, options.delimiter, column_choice{}, &plain_header);
        if (plain_header.problem == mapping_problem::too_many_columns) return false;
        for (int field = 0; field < web_field_count; ++field) {
            const int column = options.column_of_field[field];
            if (column < 0) continue;
            if (static_cast<size_t>(column) >= plain_header.column_count) return false;
            named.columns.mapped[field] = plain_header.names + plain_header.name_start[column];
        }
    }
    return true;
}

web_status named_status_of(named_status status) {
    switch (status) {
        case named_status::done: return web_status::done;
        case named_status::unmapped: return web_status::unmapped;
        case named_status::read_failed: return web_status::read_failed;
        case named_status::write_failed: return web_status::write_failed;
        case named_status::report_failed: return web_status::report_failed;
    }
    return web_status::read_failed;
}

// A part by name: the first reads the header line itself (and writes the
// output's and the report's headers); a later one starts at a record start
// with the header's mapping and its numbers.
web_status run_named_part(const web_options& options, const web_part& part, byte_source* input, byte_sink* output,
                          byte_sink* report, web_counts* counts) {
    if (!take_named_options(options, part.header, part.header_length)) return web_status::bad_options;
    if (!part.first) {
        if (!map_header(part.header, part.header_length, named.delimiter, named.columns, &part_header)) {
            return web_status::unmapped;
        }
        named.mapping = &part_header;
        named.first_line = part.first_line;
        named.first_record = part.first_record;
    }
    named_records_so_far = 0;
    run_counts run = {};
    const named_status status = convert_by_name(input, output, report, named, &run);
    named_records_so_far = 0;
    counts->identified = run.patient_key + run.policy_key + run.zero;
    counts->refused = run.refused + run.incomplete;
    counts->skipped = run.skipped;
    return named_status_of(status);
}

// Whether the positional reader gives what the options ask for: every field
// in its own column, ',' and no by-name option.
bool positional_reader_serves(const web_options& options) {
    if (options.by_name || (options.delimiter != ',' && options.delimiter != 0)) return false;
    if (options.date_format[0] != '\0' && std::strcmp(options.date_format, "%Y-%m-%d") != 0) return false;
    if (options.gender_values[0] != '\0' || options.report) return false;
    if (options.output == web_output::drop_identifying) return false;
    for (int field = 0; field < web_field_count; ++field) {
        const int wanted = field < web_positional_fields ? field : web_no_column;
        if (options.column_of_field[field] != wanted) return false;
    }
    return true;
}

void take_counts(const line_converter& converter, web_counts* counts) {
    counts->identified = converter.processed;
    counts->refused = converter.refused;
    counts->skipped = converter.discarded;
}

}  // namespace

const char* web_field_name(web_field field) {
    const int index = static_cast<int>(field);
    return index >= 0 && index < web_field_count ? named_field_name(field) : nullptr;
}

unsigned web_features() {
    return web_feature_by_name | web_feature_delimiter | web_feature_date_format | web_feature_gender_values |
           web_feature_drop_identifying | web_feature_report;
}

void default_web_options(web_options* options) {
    options->by_name = false;
    options->delimiter = ',';
    for (int field = 0; field < web_field_count; ++field) {
        options->column_of_field[field] = field < web_positional_fields ? field : web_no_column;
    }
    std::strcpy(options->date_format, "%Y-%m-%d");
    options->gender_values[0] = '\0';
    options->output = web_output::full;
    options->report = false;
    options->key = nullptr;
}

int64_t web_lines_so_far() {
    return running != nullptr ? running->processed + running->refused + running->discarded : named_records_so_far;
}

void start_web_framer(web_framer* framer, char delimiter, byte_source* input) {
    open_line_reader(&framer->reader, input);
    framer->offset = 0;
    framer->line = 1;
    framer->record = 1;
    framer->header_done = false;
    framer->delimiter = delimiter;
}

web_frame_step next_web_cut(web_framer* framer, int64_t until, web_cut* cut) {
    line_reader& reader = framer->reader;
    for (;;) {
        record_scan scan;
        start_record_scan(&scan, framer->delimiter);
        size_t length = 0;
        size_t terminator = 0;
        for (;;) {
            const char* data = reader.data + reader.start;
            if (find_record_end(&scan, data, reader.end - reader.start, reader.at_end, &length, &terminator)) break;
            // What is scanned is of this record and need not be kept (as a
            // record too long to read is passed through piece by piece).
            reader.start += scan.scanned;
            framer->offset += static_cast<int64_t>(scan.scanned);
            scan.scanned = 0;
            if (!fill_line_reader(&reader)) return web_frame_step::read_failed;
        }
        if (length == 0 && terminator == 0 && reader.at_end && reader.start == reader.end) return web_frame_step::end;
        reader.start += length + terminator;
        framer->offset += static_cast<int64_t>(length + terminator);
        framer->line += 1 + scan.line_ends;
        if (framer->header_done) ++framer->record;
        framer->header_done = true;
        if (framer->offset >= until) {
            *cut = {framer->offset, framer->line, framer->record};
            return web_frame_step::cut;
        }
    }
}

bool web_read_header(const web_options& options, const char* bytes, size_t size, bool at_end,
                     header_mapping* mapping, size_t* length, size_t* line_end, char* message, size_t capacity) {
    message[0] = '\0';
    *length = 0;
    *line_end = 0;
    by_name_options plain;
    plain.delimiter = options.delimiter;
    size_t header_length = 0;
    if (!read_named_header(bytes, size, at_end, plain, mapping, &header_length, line_end)) {
        if (mapping->problem == mapping_problem::none) {
            std::snprintf(message, capacity, "The first line, which names the columns, is too long to read.");
            return false;
        }
    }
    *length = header_length - *line_end;
    if (!take_named_options(options, bytes, *length)) {
        std::snprintf(message, capacity, "The date format, the gender codes or a chosen column cannot be used.");
        map_header(bytes, *length, options.delimiter, column_choice{}, mapping);
        return false;
    }
    if (map_header(bytes, *length, named.delimiter, named.columns, mapping)) return true;
    describe_mapping_problem(*mapping, "the file", message, capacity);
    return false;
}

web_status run_web_part(const web_options& options, const web_part& part, byte_source* input, byte_sink* output,
                        byte_sink* report, web_counts* counts) {
    *counts = {0, 0, 0};
    if (options.by_name) return run_named_part(options, part, input, output, report, counts);
    if (!positional_reader_serves(options)) return web_status::needs_by_name;

    line_reader reader;
    open_line_reader(&reader, input);
    output_writer writer;
    open_output_writer(&writer, output);
    line_output out = {&writer, options.output == web_output::key_only ? output_format::key_only : output_format::full};
    // The page shows its own progress; the converter's would go to a terminal.
    progress_meter progress;
    start_progress(&progress, progress_mode::off, -1);
    // One thread: the page runs parts side by side in workers instead.
    line_converter converter;
    open_line_converter(&converter, "input", 0, 1, &reader, &out, &progress);
    converter.key = options.key;
    running = &converter;
    run_step step = run_step::done;
    if (part.first) {
        step = drop_first_line(&converter);
        if (step == run_step::done && !write_output_header(&out)) step = run_step::write_failed;
    }
    if (step == run_step::done) step = convert_lines(&converter);
    running = nullptr;
    // Whatever was converted before a read error is still written out, as
    // mintbatch does.
    const bool flushed = flush_output(&writer);
    take_counts(converter, counts);
    if (step == run_step::read_failed) return web_status::read_failed;
    if (step == run_step::write_failed || !flushed) return web_status::write_failed;
    return web_status::done;
}
