#include "line_converter.h"

#include <cstdio>
#include <cstring>

#include "csv_fast.h"
#include "csv_record.h"
#include "identifier_derivation.h"
#include "patient_record.h"

namespace {

// Derives the waiting line's identifier, if one waits. Must come before any
// other output, which could write out the buffer with the place unfilled.
void settle_pending(line_converter* run) {
    if (!run->pending) return;
    derive_identifier(&run->quick_records[0], run->key);
    std::memcpy(run->pending_uuid, run->quick_records[0].uuid, 12);
    run->pending = false;
}

// The slot the quick route reads the next line into.
uuid_hash_data* quick_slot(line_converter* run) {
    return &run->quick_records[run->pending ? 1 : 0];
}

// The line number of the line being converted: the header is line 1, and
// every line before this one was counted once (on the calling thread, as
// runs with a report are).
int64_t current_line(const line_converter* run) {
    return 2 + run->processed + run->refused + run->discarded;
}

// A quick-route line's outcome, and its report line when it gets the zero
// identifier.
void report_quick_line(line_converter* run, const char* line, uint32_t flags) {
    if ((flags & ANY_SSN) == 0) {
        ++run->outcomes.zero;
        append_report_line(run->report, current_line(run), line, record_key_length(line, run->delimiter),
                           record_outcome::zero, "", "no SSN");
    } else if ((flags & PATIENT_FIELDS) == PATIENT_FIELDS) {
        ++run->outcomes.patient_key;
    } else {
        ++run->outcomes.policy_key;
    }
}

// A line the quick route has read into quick_slot(run): its output goes into
// the buffer at once with a place for the identifier, which is derived
// together with the next such line's.
bool take_quick_line(line_converter* run, const char* line, size_t length) {
    const size_t size = identified_line_size(run->output, line, length);
    if (size > output_buffer_size - run->output->writer->used) {
        // The buffer is written out below: the waiting line goes first, and
        // this one takes its slot.
        if (run->pending) {
            settle_pending(run);
            run->quick_records[0] = run->quick_records[1];
        }
    }
    char* uuid = write_identified_line(run->output, line, size);
    if (uuid == nullptr) return false;
    uuid_hash_data* record = quick_slot(run);
    if (run->report != nullptr) report_quick_line(run, line, record->flags);
    ++run->processed;
    if ((record->flags & ANY_SSN) == 0) {
        // The zero identifier: nothing to hash, so nothing to pair.
        derive_identifier(record, run->key);
        std::memcpy(uuid, record->uuid, 12);
        return true;
    }
    if (!run->pending) {
        run->pending = true;
        run->pending_uuid = uuid;
        return true;
    }
    derive_identifier_pair(&run->quick_records[0], &run->quick_records[1], run->key);
    std::memcpy(run->pending_uuid, run->quick_records[0].uuid, 12);
    std::memcpy(uuid, run->quick_records[1].uuid, 12);
    run->pending = false;
    return true;
}

// The output of a line whose identifier is known.
bool write_derived_line(line_output* output, const char* line, size_t length, const char* uuid, bool exactly) {
    const size_t size = identified_line_size(output, line, length);
    char* room = exactly ? write_identified_line_exactly(output, line, size) : write_identified_line(output, line, size);
    if (room == nullptr) return false;
    std::memcpy(room, uuid, 12);
    return true;
}

static_assert(line_read_slack >= csv_line_slack, "lines are scanned a vector at a time");

// One line of at most max_parsed_line bytes, terminated after `length`
// bytes. Parsing and messages see its text up to its first zero byte; the
// output gets all of its bytes.
bool convert_line(line_converter* run, char* line, size_t length) {
    if (run->verbosity == 0 && run->delimiter == ',') {
        // Silent runs take the quick route for the lines it can answer.
        if (read_csv_line_fast(line, length, quick_slot(run)) == fast_line::derived) {
            return take_quick_line(run, line, length);
        }
    }
    settle_pending(run);
    return convert_by_general_path(run, line, length, false);
}

// A general-path line that got an identifier.
void report_general_line(line_converter* run, const char* line, const patient_record& record) {
    if (record.patient_ssn[0] != '\0') {
        ++run->outcomes.patient_key;
    } else if (record.policy_ssn[0] != '\0') {
        ++run->outcomes.policy_key;
    } else {
        ++run->outcomes.zero;
        append_report_line(run->report, current_line(run), line, record_key_length(line, run->delimiter),
                           record_outcome::zero, "", "no SSN");
    }
}

// A refused line's report line: the field and why, never its value.
void report_refusal(line_converter* run, const char* line, const csv_refusal& why) {
    record_outcome outcome = record_outcome::refused;
    const char* field = csv_column_name(why.column);
    const char* reason = "";
    switch (why.kind) {
        case csv_refusal_kind::short_line:
            reason = "the line ends at this field";
            break;
        case csv_refusal_kind::not_a_number:
            reason = "not a number";
            break;
        case csv_refusal_kind::refused_value:
            reason = why.column == 1 || why.column == 7 ? "not nine digits" : "out of range";
            break;
        case csv_refusal_kind::not_derivable:
        case csv_refusal_kind::none:
            outcome = record_outcome::incomplete;
            field = missing_identity_field(why.flags, &reason);
            break;
    }
    count_outcome(&run->outcomes, outcome);
    append_report_line(run->report, current_line(run), line, record_key_length(line, run->delimiter), outcome, field,
                       reason);
}

}  // namespace

void flush_report(line_converter* run) {
    if (!write_output(run->report_writer, run->report->data, run->report->used)) run->report_failed = true;
    run->report->used = 0;
}

void open_line_converter(line_converter* converter, const char* input_path, int verbosity, int threads,
                         line_reader* input, line_output* output, progress_meter* progress) {
    converter->input_path = input_path;
    converter->verbosity = verbosity;
    converter->key = nullptr;
    converter->threads = threads;
    converter->lines_per_block = 0;
    converter->input = input;
    converter->output = output;
    converter->progress = progress;
    converter->processed = 0;
    converter->refused = 0;
    converter->discarded = 0;
    converter->malformed = 0;
    converter->blank = 0;
    converter->delimiter = ',';
    converter->report = nullptr;
    converter->report_writer = nullptr;
    converter->report_failed = false;
    converter->outcomes = {};
    converter->pending = false;
    converter->pending_uuid = nullptr;
}

bool convert_by_general_path(line_converter* run, const char* line, size_t length, bool exactly) {
    const bool verbose = run->verbosity >= 1;
    patient_record record;
    clear_patient_record(&record);
    char key[1000];
    int empty = 1;
    const char* position = read_csv_text_field(line, &empty, key, sizeof key, run->delimiter);
    if (position == nullptr || empty) {
        if (verbose) {
            std::printf("Ignoring line '%s'\n\n", line);
            std::printf("\n");
        }
        if (*line == '\0') {
            ++run->blank;
        } else {
            ++run->malformed;
        }
        if (run->report != nullptr) {
            const char* reason = *line == '\0' ? "blank line" : position == nullptr ? "one field alone" : "no record key";
            ++run->outcomes.skipped;
            append_report_line(run->report, current_line(run), "", 0, record_outcome::skipped, "", reason);
        }
        ++run->discarded;
        return write_unidentified_line(run->output, line, length, false);
    }
    csv_refusal why = {csv_refusal_kind::none, -1, 0};
    if (process_csv_record_keyed(position, &record, run->verbosity, run->key, run->delimiter, &why)) {
        if (verbose) std::printf("Processed patient data record '%s'.\n", key);
        if (run->verbosity == 2) {
            std::printf("Got record data:\n");
            print_patient_record(&record);
            std::printf("\n");
        }
        if (run->report != nullptr) report_general_line(run, line, record);
        ++run->processed;
        return write_derived_line(run->output, line, length, record.patient_uuid, exactly);
    }
    if (verbose) {
        std::printf("Unable to process patient data record '%s' from input file '%s'.\n", line, run->input_path);
        std::printf("\n");
    }
    if (why.kind == csv_refusal_kind::short_line || why.kind == csv_refusal_kind::not_a_number) ++run->malformed;
    if (run->report != nullptr) report_refusal(run, line, why);
    ++run->refused;
    return write_unidentified_line(run->output, line, length, true);
}

// A line too long to parse: copied through piece by piece (to the output
// when `output` is set) and, when verbose, shown in the same message as any
// other line without a record key, up to its first zero byte.
run_step pass_long_line(line_converter* run, line_output* output) {
    settle_pending(run);
    const bool verbose = run->verbosity >= 1 && output != nullptr;
    bool echo = verbose;
    if (verbose) std::fputs("Ignoring line '", stdout);
    for (;;) {
        const char* piece = nullptr;
        size_t length = 0;
        const piece_status status = read_long_line_piece(run->input, &piece, &length);
        if (status == piece_status::read_error) return run_step::read_failed;
        if (output != nullptr && !write_long_line_piece(output, piece, length)) return run_step::write_failed;
        if (echo) {
            const void* zero = std::memchr(piece, '\0', length);
            const size_t shown = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - piece) : length;
            std::fwrite(piece, 1, shown, stdout);
            echo = zero == nullptr;
        }
        if (status == piece_status::last) break;
    }
    if (output == nullptr) return run_step::done;
    if (verbose) {
        std::fputs("'\n\n", stdout);
        std::printf("\n");
    }
    ++run->malformed;
    if (run->report != nullptr) {
        ++run->outcomes.skipped;
        append_report_line(run->report, current_line(run), "", 0, record_outcome::skipped, "",
                           "longer than 65536 bytes");
    }
    ++run->discarded;
    return end_long_line(output) ? run_step::done : run_step::write_failed;
}

run_step drop_first_line(line_converter* run) {
    char* line = nullptr;
    size_t length = 0;
    switch (read_text_line(run->input, &line, &length)) {
        case line_status::line:
        case line_status::end_of_input:
            return run_step::done;
        case line_status::long_line:
            return pass_long_line(run, nullptr);
        case line_status::read_error:
        case line_status::needs_buffer:  // only a pinned reader, which this is not
            break;
    }
    return run_step::read_failed;
}

run_step convert_lines_in_turn(line_converter* run, int64_t until_bytes, bool* more) {
    *more = false;
    for (;;) {
        count_progress(run->progress, run->processed + run->refused + run->discarded, run->input->bytes_read);
        if (run->input->bytes_read > until_bytes) {
            *more = true;
            return run_step::done;
        }
        char* line = nullptr;
        size_t length = 0;
        if (run->report != nullptr && run->report->used >= output_buffer_size) flush_report(run);
        switch (read_text_line(run->input, &line, &length)) {
            case line_status::line:
                if (!convert_line(run, line, length)) return run_step::write_failed;
                break;
            case line_status::long_line: {
                const run_step step = pass_long_line(run, run->output);
                if (step != run_step::done) return step;
                break;
            }
            case line_status::end_of_input:
                return run_step::done;
            case line_status::read_error:
            case line_status::needs_buffer:  // only a pinned reader, which this is not
                return run_step::read_failed;
        }
    }
}

run_step convert_lines(line_converter* run) {
    bool more = false;
    run_step step = run_step::done;
    if (run->verbosity == 0 && run->threads > 1 && run->delimiter == ',' && run->report == nullptr) {
        // Verbose runs print for every line, so only silent ones share the
        // work; and a small input is done sooner by one thread than threads
        // start, so the first megabyte goes on this one (unless a test asks
        // for blocks of a few lines, to run small inputs on several threads).
        constexpr int64_t bytes_for_one_thread = 1024 * 1024;
        if (run->lines_per_block == 0) step = convert_lines_in_turn(run, bytes_for_one_thread, &more);
        if (step == run_step::done && (more || run->lines_per_block > 0)) {
            settle_pending(run);
            step = convert_lines_in_parallel(run);
        }
    } else {
        step = convert_lines_in_turn(run, INT64_MAX, &more);
    }
    // Whatever was converted before an error is still written out.
    settle_pending(run);
    return step;
}
