#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

constexpr int64_t second_ns = 1000000000;
constexpr int64_t first_draw_ns = second_ns;      // runs shorter than this show nothing
constexpr int64_t redraw_interval_ns = second_ns / 4;
constexpr uint32_t records_between_clock_looks = 4096;

int64_t now_ns() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * second_ns + now.tv_nsec;
}

void write_error_stream(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t count = write(STDERR_FILENO, text, length);
        if (count <= 0) return;  // progress is a courtesy: a failure costs nothing else
        text += count;
        length -= static_cast<size_t>(count);
    }
}

}  // namespace

void start_progress(progress_meter* meter, progress_mode mode, int64_t input_size) {
    meter->enabled = mode == progress_mode::on || (mode == progress_mode::automatic && isatty(STDERR_FILENO));
    meter->shown = false;
    meter->input_size = input_size;
    meter->start_ns = now_ns();
    meter->next_draw_ns = meter->start_ns + first_draw_ns;
    meter->countdown = records_between_clock_looks;
}

void draw_progress(progress_meter* meter, int64_t records, int64_t bytes_read) {
    meter->countdown = records_between_clock_looks;
    const int64_t now = now_ns();
    if (now < meter->next_draw_ns) return;
    meter->next_draw_ns = now + redraw_interval_ns;
    const double seconds = static_cast<double>(now - meter->start_ns) / second_ns;
    const double rate = static_cast<double>(records) / seconds;
    char line[200];
    int length = std::snprintf(line, sizeof line, "\r%lld records, %.1f MB read", static_cast<long long>(records),
                               static_cast<double>(bytes_read) / 1e6);
    if (meter->input_size > 0 && bytes_read <= meter->input_size) {
        const double done = static_cast<double>(bytes_read) / static_cast<double>(meter->input_size);
        const double left = done > 0 ? seconds * (1 - done) / done : 0;
        length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ", %.0f%%, %.0f s left",
                                done * 100, left);
    }
    length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), ", %.0f records/s\033[K", rate);
    // Messages already printed come first, so that the line stays last.
    std::fflush(stdout);
    write_error_stream(line, static_cast<size_t>(length));
    meter->shown = true;
}

void end_progress(progress_meter* meter) {
    if (!meter->shown) return;
    static constexpr char erase[] = "\r\033[K";
    write_error_stream(erase, sizeof erase - 1);
    meter->shown = false;
}
