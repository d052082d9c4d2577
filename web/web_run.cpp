#include "web_run.h"

#include <cstring>

#include "csv_output.h"
#include "line_converter.h"
#include "progress.h"

namespace {

constexpr const char* field_names[web_field_count] = {
    "data_record",        "patient_name",       "patient_ssn",        "patient_gender",    "patient_birth_year",
    "patient_birth_month", "patient_birth_day", "policy_name",        "policy_ssn",        "policy_gender",
    "policy_birth_year",  "policy_birth_month", "policy_birth_day",   "patient_birth_date", "policy_birth_date",
};

// The converter of the part that is running, for web_lines_so_far.
const line_converter* running = nullptr;

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
    return index >= 0 && index < web_field_count ? field_names[index] : nullptr;
}

unsigned web_features() {
    return 0;
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
    return running != nullptr ? running->processed + running->refused + running->discarded : 0;
}

web_status run_web_part(const web_options& options, const web_part& part, byte_source* input, byte_sink* output,
                        byte_sink* report, web_counts* counts) {
    (void)report;  // the positional reader writes no report
    *counts = {0, 0, 0};
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
