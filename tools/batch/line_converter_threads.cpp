// The threaded conversion of silent runs.
//
// The input goes through in blocks of a few hundred lines, numbered in input
// order. Every thread, the calling one among them, does the same: in its
// reading turn (one thread at a time) it reads the next block's lines; then
// it runs the quick route over them, deriving their identifiers (in pairs, as
// the single-threaded conversion does), which prints nothing and marks each
// line the quick route cannot answer; then, in its writing turn (block after
// block, in input order), it writes the block out: the quick lines with
// their identifiers, the marked lines through the general path, which
// prints. So messages and output come in exactly the order one thread gives,
// a write fails at the same line, and no two threads ever print at once.
// Each block stays with one thread from reading to writing, so its lines
// stay in that thread's cache.
//
// While a block is out, the bytes of its lines stay where they are: the
// reader is pinned, reads on behind its data and, once its buffer is full,
// goes on in another buffer, taking over what is unread. A buffer is reused
// once every block with lines in it is written. Memory is a block per thread
// and a few buffers, whatever the input.
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "csv_fast.h"
#include "identifier_derivation.h"
#include "line_converter.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Lines longer than this (few records are) are converted in their writing
// turn, where the reader holds them, so that a thread can copy any line of a
// block into a small buffer.
constexpr size_t longest_block_line = 4096;
// A block holds at most this many lines, or about this many bytes of lines:
// enough work to make the turns cheap.
constexpr size_t block_line_limit = 512;
constexpr size_t block_byte_limit = 32 * 1024;

struct line_place {
    const char* text;  // in a reader buffer
    size_t length;
};

struct line_result {
    bool derived;  // by the quick route: its output is ready
    uint32_t output_size;
};

// What ended the reading of a block.
enum class block_end { more, line_for_caller, long_line, end_of_input, read_error };

struct line_block {
    uint64_t number;
    size_t line_count;
    int64_t bytes_read;  // input read when the block was read, for the progress line
    block_end end;
    // For line_for_caller: a line longer than longest_block_line, converted
    // where the reader holds it.
    char* long_text;
    size_t long_length;
    line_place lines[block_line_limit];
    line_result results[block_line_limit];
    // The output of the lines the quick route derived, one after another,
    // prepared by the thread that derives the block.
    char output[block_byte_limit + longest_block_line + 14 * block_line_limit];
};

// One step of waiting for another thread, a few dozen nanoseconds.
void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// How long a thread waits actively before it sleeps: waking a sleeping
// thread costs more than most waits last.
constexpr int pauses_before_sleep = 2000;

// The buffers the reader reads into: its own, and others lent as it needs
// them.
struct reader_buffers {
    std::vector<char*> buffers;  // [0] is the reader's own
    // Per buffer: the blocks to be written before it is free again (one past
    // the last block with lines in it).
    std::vector<uint64_t> in_use_until;
    size_t current;
    size_t most;  // buffers beyond the reader's own
};

struct shared_conversion {
    line_converter* run;
    size_t lines_per_block;

    // The reading turn: the reader, the block numbers and the buffers.
    std::mutex reading;
    uint64_t next_block = 0;
    bool reading_over = false;
    reader_buffers buffers;

    // The writing turn: the writer, the counts and the progress line belong
    // to the thread whose block is the next to write.
    std::atomic<uint64_t> written{0};
    bool failed = false;
    run_step outcome = run_step::done;
    std::atomic<bool> stop_reading{false};

    // Threads that sleep until `written` changes.
    std::atomic<int> asleep{0};
    std::mutex sleeping;
    std::condition_variable written_changed;
};

// Waits until `ready()`, which turns true only when `written` changes.
template <typename Ready>
void await_written(shared_conversion* shared, Ready ready) {
    for (int pauses = 0; pauses < pauses_before_sleep; ++pauses) {
        if (ready()) return;
        pause_briefly();
    }
    std::unique_lock<std::mutex> lock(shared->sleeping);
    // Announced before the last look, so that whoever changes `written`
    // after it wakes this thread.
    shared->asleep.fetch_add(1, std::memory_order_seq_cst);
    shared->written_changed.wait(lock, ready);
    shared->asleep.fetch_sub(1, std::memory_order_seq_cst);
}

void pass_writing_turn(shared_conversion* shared, uint64_t next) {
    shared->written.store(next, std::memory_order_seq_cst);
    if (shared->asleep.load(std::memory_order_seq_cst) > 0) {
        { const std::lock_guard<std::mutex> lock(shared->sleeping); }
        shared->written_changed.notify_all();
    }
}

// Moves the reader into a free buffer, allocating one while fewer than
// `most` are. False when every other buffer holds lines of blocks not
// written yet.
bool lend_buffer(line_reader* reader, reader_buffers* buffers, uint64_t written) {
    size_t free = buffers->buffers.size();
    for (size_t i = 0; i < buffers->buffers.size(); ++i) {
        if (i != buffers->current && buffers->in_use_until[i] <= written) free = i;
    }
    if (free == buffers->buffers.size()) {
        if (buffers->buffers.size() > buffers->most) return false;
        char* buffer = new (std::nothrow) char[reader_buffer_size];
        if (buffer == nullptr) {
            // Without the memory, no more than the buffers there are.
            buffers->most = buffers->buffers.size() - 1;
            return false;
        }
        buffers->buffers.push_back(buffer);
        buffers->in_use_until.push_back(0);
    }
    move_line_reader(reader, buffers->buffers[free]);
    buffers->current = free;
    return true;
}

// In the reading turn: the next block's lines. The turn stays with the
// thread when the block ends at a line it converts in place or at a line too
// long to parse, which only its writing turn can take from the reader.
// False when the reading is over.
bool read_block(shared_conversion* shared, line_block* block) {
    for (int tries = 0; !shared->reading.try_lock(); ++tries) {
        if (tries < pauses_before_sleep) {
            pause_briefly();
        } else {
            shared->reading.lock();
            break;
        }
    }
    if (shared->reading_over || shared->stop_reading.load(std::memory_order_relaxed)) {
        shared->reading.unlock();
        return false;
    }
    line_reader* reader = shared->run->input;
    reader_buffers* buffers = &shared->buffers;
    block->number = shared->next_block++;
    block->line_count = 0;
    block->end = block_end::more;
    const size_t most_lines = shared->lines_per_block;
    size_t bytes = 0;
    while (block->line_count < most_lines && bytes < block_byte_limit) {
        // Once every block with lines in the buffer is written, the reader
        // may move what it holds again rather than need another buffer.
        if (buffers->in_use_until[buffers->current] <= shared->written.load(std::memory_order_acquire)) {
            reader->pinned = false;
        }
        char* line = nullptr;
        size_t length = 0;
        const line_status status = read_text_line(reader, &line, &length);
        if (status == line_status::needs_buffer) {
            // Blocks before this one free a buffer once they are written.
            if (!lend_buffer(reader, buffers, shared->written.load(std::memory_order_acquire))) {
                const uint64_t before = shared->written.load(std::memory_order_acquire);
                await_written(shared, [shared, before] {
                    return shared->written.load(std::memory_order_seq_cst) != before;
                });
            }
            continue;
        }
        if (status != line_status::line) {
            block->end = status == line_status::long_line      ? block_end::long_line
                         : status == line_status::end_of_input ? block_end::end_of_input
                                                               : block_end::read_error;
            break;
        }
        if (length > longest_block_line) {
            block->long_text = line;
            block->long_length = length;
            block->end = block_end::line_for_caller;
            break;
        }
        block->lines[block->line_count++] = {line, length};
        bytes += length + 1;
        reader->pinned = true;
        buffers->in_use_until[buffers->current] = block->number + 1;
    }
    block->bytes_read = reader->bytes_read;
    if (block->end == block_end::end_of_input || block->end == block_end::read_error) shared->reading_over = true;
    if (block->end != block_end::line_for_caller && block->end != block_end::long_line) shared->reading.unlock();
    return true;
}

// The quick route over every line of a block, each copied into a buffer of
// this thread's first (the quick route reads whole vectors beyond a line's
// end, where another thread may be reading meanwhile). Identifiers are
// derived two at a time, the zero identifier alone (there is nothing to
// hash); then the output of the derived lines is prepared, while the lines
// are in this thread's cache.
void derive_block(line_block* block, const line_output* output, const mint::uuid_key* key) {
    static_assert(line_read_slack >= csv_line_slack, "lines are scanned a vector at a time");
    char line[longest_block_line + 1 + csv_line_slack];
    std::memset(line, 0, sizeof line);
    char uuids[block_line_limit][12];
    uuid_hash_data records[2];
    size_t waiting = block_line_limit;  // a line read into records[0], derived with the next one
    for (size_t i = 0; i < block->line_count; ++i) {
        const line_place& place = block->lines[i];
        std::memcpy(line, place.text, place.length);
        line[place.length] = '\0';
        uuid_hash_data* record = &records[waiting != block_line_limit ? 1 : 0];
        const bool derived = read_csv_line_fast(line, place.length, record) == fast_line::derived;
        block->results[i].derived = derived;
        if (!derived) continue;
        if ((record->flags & ANY_SSN) == 0) {
            derive_identifier(record, key);
            std::memcpy(uuids[i], record->uuid, 12);
        } else if (waiting == block_line_limit) {
            waiting = i;
        } else {
            derive_identifier_pair(&records[0], &records[1], key);
            std::memcpy(uuids[waiting], records[0].uuid, 12);
            std::memcpy(uuids[i], records[1].uuid, 12);
            waiting = block_line_limit;
        }
    }
    if (waiting != block_line_limit) {
        derive_identifier(&records[0], key);
        std::memcpy(uuids[waiting], records[0].uuid, 12);
    }
    char* to = block->output;
    for (size_t i = 0; i < block->line_count; ++i) {
        line_result& result = block->results[i];
        if (!result.derived) continue;
        const line_place& place = block->lines[i];
        const size_t size = identified_line_size(output, place.text, place.length);
        compose_identified_line(to, place.text, size, uuids[i]);
        result.output_size = static_cast<uint32_t>(size);
        to += size;
    }
}

// A line too long for a block, where the reader holds it: the quick route
// or the general path, as for a line of a block.
bool convert_line_in_place(line_converter* run, const char* line, size_t length) {
    uuid_hash_data record;
    if (read_csv_line_fast(line, length, &record) != fast_line::derived) {
        return convert_by_general_path(run, line, length);
    }
    derive_identifier(&record, run->key);
    if (!write_derived_line(run->output, line, length, record.uuid)) return false;
    ++run->processed;
    return true;
}

// The prepared output of the derived lines goes into the writer's buffer as
// many lines at once as fit, and the buffer is written out wherever one line
// does not fit, exactly as line by line; the other lines take the general
// path, which reads only the line's bytes (other threads may be writing next
// to them).
bool write_lines(line_converter* run, const line_block* block) {
    output_writer* writer = run->output->writer;
    const char* prepared = block->output;
    size_t i = 0;
    while (i < block->line_count) {
        if (!block->results[i].derived) {
            count_progress(run->progress, run->processed + run->refused + run->discarded, block->bytes_read);
            const line_place& line = block->lines[i];
            if (!convert_by_general_path(run, line.text, line.length)) return false;
            ++i;
            continue;
        }
        if (writer->failed) return false;
        const size_t room = output_room(writer);
        size_t bytes = 0;
        size_t next = i;
        while (next < block->line_count && block->results[next].derived &&
               bytes + block->results[next].output_size <= room) {
            count_progress(run->progress, run->processed + run->refused + run->discarded, block->bytes_read);
            bytes += block->results[next].output_size;
            ++run->processed;
            ++next;
        }
        if (next == i) {
            if (!flush_output(writer)) return false;
            continue;
        }
        append_output(writer, prepared, bytes);
        prepared += bytes;
        i = next;
    }
    return true;
}

// In the writing turn: the block's lines, then what ended its reading.
void write_block(shared_conversion* shared, const line_block* block) {
    line_converter* run = shared->run;
    const bool holds_reading = block->end == block_end::line_for_caller || block->end == block_end::long_line;
    if (!shared->failed) {
        run_step step = write_lines(run, block) ? run_step::done : run_step::write_failed;
        if (step == run_step::done && holds_reading) {
            // Every line before is written and no block after is read: the
            // reader is this thread's alone.
            run->input->pinned = false;
            if (block->end == block_end::line_for_caller) {
                if (!convert_line_in_place(run, block->long_text, block->long_length)) step = run_step::write_failed;
            } else {
                step = pass_long_line(run, run->output);
            }
        } else if (step == run_step::done && block->end == block_end::read_error) {
            step = run_step::read_failed;
        }
        if (step != run_step::done) {
            shared->failed = true;
            shared->outcome = step;
            shared->stop_reading.store(true, std::memory_order_relaxed);
        }
    }
    if (holds_reading) {
        if (shared->failed) shared->reading_over = true;
        shared->reading.unlock();
    }
}

// The threads beyond the calling one, started by it once a block ends with
// more input to come: a small input is not worth starting them.
struct block_workers {
    std::vector<std::thread> threads;
    size_t wanted;
    bool started;
};

void convert_blocks(shared_conversion* shared, block_workers* workers);

void start_workers(shared_conversion* shared, block_workers* workers) {
    workers->started = true;
    workers->threads.reserve(workers->wanted);
    for (size_t i = 0; i < workers->wanted; ++i) {
        // std::thread reports a thread it cannot start only by throwing; the
        // threads started do the work, the calling thread among them.
        try {
            workers->threads.emplace_back(convert_blocks, shared, nullptr);
        } catch (const std::system_error&) {
            break;
        }
    }
}

// Every thread's work, until the reading is over. `workers` is set for the
// calling thread only.
void convert_blocks(shared_conversion* shared, block_workers* workers) {
    line_block* block = new (std::nothrow) line_block;
    if (block == nullptr) return;  // the other threads do the work
    while (read_block(shared, block)) {
        if (workers != nullptr && !workers->started && block->end == block_end::more) start_workers(shared, workers);
        derive_block(block, shared->run->output, shared->run->key);
        const uint64_t number = block->number;
        await_written(shared, [shared, number] { return shared->written.load(std::memory_order_seq_cst) == number; });
        write_block(shared, block);
        pass_writing_turn(shared, number + 1);
    }
    delete block;
}

}  // namespace

run_step convert_lines_in_parallel(line_converter* run) {
    const size_t threads = static_cast<size_t>(run->threads);
    shared_conversion shared;
    shared.run = run;
    shared.lines_per_block =
        run->lines_per_block > 0 && run->lines_per_block < block_line_limit ? run->lines_per_block : block_line_limit;
    // Enough buffers for the lines of a block per thread, one being read
    // into, and one to spare.
    shared.buffers = {{run->input->data}, {0}, 0, 2 + threads * block_byte_limit / input_block_size};
    // Each thread reads what it goes on to convert.
    run->input->most_per_read = block_byte_limit;
    block_workers workers = {{}, threads - 1, false};
    convert_blocks(&shared, &workers);
    for (std::thread& worker : workers.threads) worker.join();
    // Whatever is unread goes back to the reader's own buffer (a read error
    // or a failed write may leave some), which outlives the borrowed ones.
    run->input->most_per_read = 0;
    run->input->pinned = false;
    if (run->input->data != run->input->own) move_line_reader(run->input, run->input->own);
    for (size_t i = 1; i < shared.buffers.buffers.size(); ++i) delete[] shared.buffers.buffers[i];
    return shared.outcome;
}
