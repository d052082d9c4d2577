#include "csv_batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "line_converter.h"
#include "output_target.h"

namespace {

// New full outputs hold names and SSNs: their owner's alone. A key-only
// output follows the umask like any other new file.
mode_t new_output_mode(output_format format) {
    return format == output_format::full ? 0600 : 0666;
}

}  // namespace

int process_csv_file(const batch_options& options, run_counts* counts) {
    const char* input_path = options.input_path;
    const char* output_path = options.output_path;
    const char* report_path = options.report_path;
    if (report_path != nullptr && std::strcmp(report_path, output_path) == 0) {
        std::printf("Unable to write report file '%s': it is the output file.\n", report_path);
        return 1;
    }
    output_target target;
    output_target report_target;
    prepare_output_target(&target, output_path);
    if (report_path != nullptr) prepare_output_target(&report_target, report_path);
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
    if (input_known && report_path != nullptr && output_is_input(&report_target, input_stat)) {
        std::printf("Unable to write report file '%s': it is the input file.\n", report_path);
        close_input();
        return 1;
    }

    byte_source source = file_source(input_fd);
    line_reader input;
    open_line_reader(&input, &source);
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
        } else if (opened == target_status::another_users_file) {
            std::printf("Unable to write output file '%s': it is another user's file in a sticky directory.\n",
                        output_path);
        } else {
            std::printf("Unable to open output file '%s'.\n", output_path);
        }
        close_input();
        return 1;
    }
    // The report holds record keys and line numbers: it follows the umask.
    std::unique_ptr<output_writer> report_writer;
    byte_sink report_sink = file_sink(-1);
    if (report_path != nullptr) {
        if (open_output_target(&report_target, input_stat, 0666, true) != target_status::opened) {
            abandon_output_target(&report_target);
            abandon_output_target(&target);
            std::printf("Unable to open report file '%s'.\n", report_path);
            close_input();
            return 1;
        }
        report_sink = file_sink(report_target.fd);
        report_writer = std::make_unique<output_writer>();
        open_output_writer(report_writer.get(), &report_sink);
    }
    const auto abandon_all = [&] {
        abandon_output_target(&target);
        if (report_path != nullptr) abandon_output_target(&report_target);
    };
    byte_sink sink = file_sink(target.fd);
    output_writer writer;
    open_output_writer(&writer, &sink);
    const bool sized = input_known && S_ISREG(input_stat.st_mode);
    const bool converted = convert_csv_stream(&input, &writer, options, sized ? input_stat.st_size : -1,
                                              report_writer.get(), counts);
    close_input();
    if (!converted) {
        abandon_all();
        return 1;
    }
    // Messages that did not arrive fail the run like lost data does.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        abandon_all();
        std::fputs("Unable to write standard output.\n", stderr);
        return 1;
    }
    if (!commit_output_target(&target)) {
        if (report_path != nullptr) abandon_output_target(&report_target);
        std::printf("Unable to write output file '%s'.\n", output_path);
        return 1;
    }
    if (report_path != nullptr && !commit_output_target(&report_target)) {
        std::printf("Unable to write report file '%s'.\n", report_path);
        return 1;
    }
    return 0;
}

bool convert_csv_stream(line_reader* input, output_writer* writer, const batch_options& options,
                        int64_t input_size, output_writer* report, run_counts* counts) {
    const char delimiter = options.delimiter != 0 ? options.delimiter : ',';
    line_output output = {writer, options.format, delimiter};
    const bool verbose = options.verbosity >= 1;
    if (verbose) {
        std::printf("Reading patient records from input file '%s'.\n", options.input_path);
        std::printf("Writing patient records to output file '%s'.\n", options.output_path);
        std::printf("\n");
    }

    progress_meter progress;
    start_progress(&progress, options.progress, input_size);
    line_converter converter;
    open_line_converter(&converter, options.input_path, options.verbosity, options.threads, input, &output,
                        &progress);
    converter.lines_per_block = static_cast<size_t>(options.lines_per_block);
    converter.key = options.key;
    converter.delimiter = delimiter;
    text_buffer report_lines;
    init_text_buffer(&report_lines);
    if (report != nullptr) {
        converter.report = &report_lines;
        converter.report_writer = report;
        append_report_header(&report_lines);
    }
    run_step step = drop_first_line(&converter);
    if (step == run_step::done) step = write_output_header(&output) ? convert_lines(&converter) : run_step::write_failed;
    end_progress(&progress);
    // Whatever was converted before a read error is still written out.
    const bool written = flush_output(writer);
    bool reported = true;
    if (report != nullptr) {
        flush_report(&converter);
        reported = flush_output(report) && !converter.report_failed;
        free_text_buffer(&report_lines);
    }
    if (counts != nullptr) *counts = converter.outcomes;

    if (step == run_step::read_failed) {
        std::printf("Unable to read input file '%s'.\n", options.input_path);
        return false;
    }
    if (step == run_step::write_failed || !written) {
        std::printf("Unable to write output file '%s'.\n", options.output_path);
        return false;
    }
    if (!reported) {
        std::printf("Unable to write report file '%s'.\n", options.report_path);
        return false;
    }
    // Lines there were, but none a record: most likely another delimiter.
    const int64_t lines = converter.processed + converter.refused + converter.discarded;
    if (converter.processed == 0 && converter.malformed > 0 && converter.malformed + converter.blank == lines) {
        std::fflush(stdout);
        std::fprintf(stderr,
                     "Warning: none of the %" PRId64 " data lines of input file '%s' was a record (each was short or "
                     "malformed); see --delimiter for fields separated by another character, --by-name for columns "
                     "named in the first line.\n",
                     converter.malformed, options.input_path);
    }
    if (verbose) {
        std::printf("\n");
        std::printf("\n");
        std::printf("Processed %" PRId64 " records, ignored %" PRId64 " bad records, discarded %" PRId64
                    " bad lines.\n",
                    converter.processed, converter.refused, converter.discarded);
    }
    return true;
}

bool convert_csv_buffers(byte_source* source, byte_sink* sink, const batch_options& options) {
    line_reader input;
    open_line_reader(&input, source);
    if (!fill_line_reader(&input)) {
        std::printf("Unable to read input file '%s'.\n", options.input_path);
        return false;
    }
    output_writer writer;
    open_output_writer(&writer, sink);
    const int64_t size = source->fd < 0 ? static_cast<int64_t>(source->size) : -1;
    return convert_csv_stream(&input, &writer, options, size);
}
