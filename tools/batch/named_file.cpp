#include "named_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "output_target.h"

namespace {

void count_progress_of(void* context, int64_t records, int64_t bytes_read) {
    count_progress(static_cast<progress_meter*>(context), records, bytes_read);
}

// Only the full output keeps names and SSNs: its new file is its owner's
// alone. The others, and the report (keys and line numbers), follow the umask.
mode_t new_output_mode(named_output output) {
    return output == named_output::full ? 0600 : 0666;
}

}  // namespace

int process_named_file(named_file_options& options, run_counts* counts) {
    *counts = {};
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
    const target_status opened = open_output_target(&target, input_stat, new_output_mode(options.conversion.output),
                                                    options.conversion.output != named_output::full);
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
    if (report_path != nullptr) {
        const target_status report_opened = open_output_target(&report_target, input_stat, 0666, true);
        if (report_opened != target_status::opened) {
            abandon_output_target(&report_target);
            abandon_output_target(&target);
            std::printf("Unable to open report file '%s'.\n", report_path);
            close_input();
            return 1;
        }
    }
    const auto abandon_all = [&] {
        abandon_output_target(&target);
        if (report_path != nullptr) abandon_output_target(&report_target);
    };

    byte_source source = file_source(input_fd);
    byte_sink sink = file_sink(target.fd);
    byte_sink report_sink = file_sink(report_path != nullptr ? report_target.fd : -1);
    progress_meter progress;
    const bool sized = input_known && S_ISREG(input_stat.st_mode);
    start_progress(&progress, options.progress, sized ? input_stat.st_size : -1);
    options.conversion.input_name = input_path;
    options.conversion.output_name = output_path;
    options.conversion.progress = count_progress_of;
    options.conversion.progress_context = &progress;
    const named_status status =
        convert_by_name(&source, &sink, report_path != nullptr ? &report_sink : nullptr, options.conversion, counts);
    end_progress(&progress);
    close_input();
    switch (status) {
        case named_status::done:
            break;
        case named_status::unmapped:
            abandon_all();
            return 1;
        case named_status::read_failed:
            abandon_all();
            std::printf("Unable to read input file '%s'.\n", input_path);
            return 1;
        case named_status::write_failed:
            abandon_all();
            std::printf("Unable to write output file '%s'.\n", output_path);
            return 1;
        case named_status::report_failed:
            abandon_all();
            std::printf("Unable to write report file '%s'.\n", report_path);
            return 1;
    }
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
