#include "csv_batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "csv_fast.h"
#include "csv_record.h"
#include "output_target.h"
#include "patient_record.h"

namespace {

struct batch_run {
    const char* input_path;
    int verbosity;
    const mint::uuid_key* key;
    line_reader* input;
    line_output* output;
    progress_meter* progress;
    int64_t processed;
    int64_t refused;
    int64_t discarded;
    // A quick-route line whose output is buffered but whose identifier is
    // not derived yet: it waits for a second one, so that both are derived
    // at once. Its record is quick_records[0]; `pending_uuid` is its place in
    // the output buffer. The quick route reads straight into these slots.
    bool pending;
    uuid_hash_data quick_records[2];
    char* pending_uuid;
};

// Derives the waiting line's identifier, if one waits. Must come before any
// other output, which could write out the buffer with the place unfilled.
void settle_pending(batch_run* run) {
    if (!run->pending) return;
    mint::uuid_create_keyed(&run->quick_records[0], run->key);
    std::memcpy(run->pending_uuid, run->quick_records[0].uuid, 12);
    run->pending = false;
}

// The slot the quick route reads the next line into.
uuid_hash_data* quick_slot(batch_run* run) {
    return &run->quick_records[run->pending ? 1 : 0];
}

// A line the quick route has read into quick_slot(run): its output goes into
// the buffer at once with a place for the identifier, which is derived
// together with the next such line's.
bool take_quick_line(batch_run* run, const char* line, size_t length) {
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
    ++run->processed;
    uuid_hash_data* record = quick_slot(run);
    if ((record->flags & ANY_SSN) == 0) {
        // The zero identifier: nothing to hash, so nothing to pair.
        mint::uuid_create_keyed(record, run->key);
        std::memcpy(uuid, record->uuid, 12);
        return true;
    }
    if (!run->pending) {
        run->pending = true;
        run->pending_uuid = uuid;
        return true;
    }
    mint::uuid_create_pair_keyed(&run->quick_records[0], &run->quick_records[1], run->key);
    std::memcpy(run->pending_uuid, run->quick_records[0].uuid, 12);
    std::memcpy(uuid, run->quick_records[1].uuid, 12);
    run->pending = false;
    return true;
}

bool write_derived_line(line_output* output, const char* line, size_t length, const char* uuid) {
    char* room = write_identified_line(output, line, identified_line_size(output, line, length));
    if (room == nullptr) return false;
    std::memcpy(room, uuid, 12);
    return true;
}

static_assert(line_read_slack >= csv_line_slack, "lines are scanned a vector at a time");

// One line of at most max_parsed_line bytes, terminated after `length`
// bytes. Parsing and messages see its text up to its first zero byte; the
// output gets all of its bytes.
bool convert_line(batch_run* run, char* line, size_t length) {
    if (run->verbosity == 0) {
        // Silent runs take the quick route for the lines it can answer.
        if (read_csv_line_fast(line, length, quick_slot(run)) == fast_line::derived) {
            return take_quick_line(run, line, length);
        }
    }
    settle_pending(run);
    const bool verbose = run->verbosity >= 1;
    patient_record record;
    clear_patient_record(&record);
    char key[1000];
    int empty = 1;
    const char* position = read_csv_text_field(line, &empty, key, sizeof key);
    if (position == nullptr || empty) {
        if (verbose) {
            std::printf("Ignoring line '%s'\n\n", line);
            std::printf("\n");
        }
        ++run->discarded;
        return write_unidentified_line(run->output, line, length, false);
    }
    if (process_csv_record_keyed(position, &record, run->verbosity, run->key)) {
        if (verbose) std::printf("Processed patient data record '%s'.\n", key);
        if (run->verbosity == 2) {
            std::printf("Got record data:\n");
            print_patient_record(&record);
            std::printf("\n");
        }
        ++run->processed;
        return write_derived_line(run->output, line, length, record.patient_uuid);
    }
    if (verbose) {
        std::printf("Unable to process patient data record '%s' from input file '%s'.\n", line, run->input_path);
        std::printf("\n");
    }
    ++run->refused;
    return write_unidentified_line(run->output, line, length, true);
}

enum class run_step { done, read_failed, write_failed };

// A line too long to parse: copied through piece by piece (to the output
// when `output` is set) and, when verbose, shown in the same message as any
// other line without a record key, up to its first zero byte.
run_step pass_long_line(batch_run* run, line_output* output) {
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
    ++run->discarded;
    return end_long_line(output) ? run_step::done : run_step::write_failed;
}

// The input's first line is dropped, whatever its length.
run_step drop_first_line(batch_run* run) {
    char* line = nullptr;
    size_t length = 0;
    switch (read_text_line(run->input, &line, &length)) {
        case line_status::line:
        case line_status::end_of_input:
            return run_step::done;
        case line_status::long_line:
            return pass_long_line(run, nullptr);
        case line_status::read_error:
            break;
    }
    return run_step::read_failed;
}

run_step convert_lines(batch_run* run) {
    for (;;) {
        count_progress(run->progress, run->processed + run->refused + run->discarded, run->input->bytes_read);
        char* line = nullptr;
        size_t length = 0;
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
                return run_step::read_failed;
        }
    }
}

// New full outputs hold names and SSNs: their owner's alone. A key-only
// output follows the umask like any other new file.
mode_t new_output_mode(output_format format) {
    return format == output_format::full ? 0600 : 0666;
}

}  // namespace

int process_csv_file(const batch_options& options) {
    const char* input_path = options.input_path;
    const char* output_path = options.output_path;
    output_target target;
    prepare_output_target(&target, output_path);
    const bool from_standard_input = is_standard_stream(input_path);
    const int input_fd = from_standard_input ? STDIN_FILENO : open(input_path, O_RDONLY | O_CLOEXEC);
    if (input_fd < 0) {
        std::printf("Unable to open input file '%s'.\n", input_path);
        return 1;
    }
    const auto close_input = [&] {
        if (!from_standard_input) close(input_fd);
    };
    // Writing the output must not destroy the input under another name or
    // through a link.
    struct stat input_stat;
    const bool input_known = fstat(input_fd, &input_stat) == 0;
    if (input_known && output_is_input(&target, input_stat)) {
        std::printf("Unable to write output file '%s': it is the input file.\n", output_path);
        close_input();
        return 1;
    }

    line_reader input;
    open_line_reader(&input, input_fd);
    // The first read comes before the output is opened, so that an input
    // that cannot be read at all (a directory) leaves the output untouched.
    if (!fill_line_reader(&input)) {
        std::printf("Unable to read input file '%s'.\n", input_path);
        close_input();
        return 1;
    }

    const target_status opened = open_output_target(&target, input_stat,
                                                    new_output_mode(options.format),
                                                    options.format != output_format::full);
    if (opened != target_status::opened) {
        abandon_output_target(&target);
        if (opened == target_status::is_input) {
            std::printf("Unable to write output file '%s': it is the input file.\n", output_path);
        } else {
            std::printf("Unable to open output file '%s'.\n", output_path);
        }
        close_input();
        return 1;
    }
    output_writer writer;
    open_output_writer(&writer, target.fd);
    line_output output = {&writer, options.format};

    const bool verbose = options.verbosity >= 1;
    if (verbose) {
        std::printf("Reading patient records from input file '%s'.\n", input_path);
        std::printf("Writing patient records to output file '%s'.\n", output_path);
        std::printf("\n");
    }

    progress_meter progress;
    const bool sized = input_known && S_ISREG(input_stat.st_mode);
    start_progress(&progress, options.progress, sized ? static_cast<int64_t>(input_stat.st_size) : -1);

    batch_run run = {input_path, options.verbosity, options.key, &input, &output, &progress, 0, 0, 0, false, {}, nullptr};
    run_step step = drop_first_line(&run);
    if (step == run_step::done) step = write_output_header(&output) ? convert_lines(&run) : run_step::write_failed;
    settle_pending(&run);
    end_progress(&progress);
    // Whatever was converted before a read error is still written out.
    const bool written = flush_output(&writer);
    close_input();

    if (step == run_step::read_failed) {
        abandon_output_target(&target);
        std::printf("Unable to read input file '%s'.\n", input_path);
        return 1;
    }
    if (step == run_step::write_failed || !written) {
        abandon_output_target(&target);
        std::printf("Unable to write output file '%s'.\n", output_path);
        return 1;
    }
    if (verbose) {
        std::printf("\n");
        std::printf("\n");
        std::printf("Processed %" PRId64 " records, ignored %" PRId64 " bad records, discarded %" PRId64
                    " bad lines.\n",
                    run.processed, run.refused, run.discarded);
    }
    // Messages that did not arrive fail the run like lost data does.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        abandon_output_target(&target);
        std::fputs("Unable to write standard output.\n", stderr);
        return 1;
    }
    if (!commit_output_target(&target)) {
        std::printf("Unable to write output file '%s'.\n", output_path);
        return 1;
    }
    return 0;
}
