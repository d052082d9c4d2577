// A self-updating progress line on standard error for long mintbatch runs:
// records so far, bytes read and, when the input's size is known, the share
// done and the time left, and the rate. It appears only once a run has lasted
// about a second, and is erased when the run ends.
#ifndef MINT_TOOLS_BATCH_PROGRESS_H
#define MINT_TOOLS_BATCH_PROGRESS_H

#include <cstdint>

struct progress_meter {
    bool enabled;
    bool shown;
    int64_t input_size;  // bytes, or -1 when unknown (a pipe)
    int64_t start_ns;
    int64_t next_draw_ns;
    uint32_t countdown;  // records until the clock is looked at again
};

enum class progress_mode { automatic, on, off };

// Automatic: on when standard error is a terminal.
void start_progress(progress_meter* meter, progress_mode mode, int64_t input_size);

void draw_progress(progress_meter* meter, int64_t records, int64_t bytes_read);

// Called once a record: costs a decrement, and now and then a look at the clock.
inline void count_progress(progress_meter* meter, int64_t records, int64_t bytes_read) {
    if (!meter->enabled || --meter->countdown != 0) return;
    draw_progress(meter, records, bytes_read);
}

// Erases the line, if it was shown.
void end_progress(progress_meter* meter);

#endif
