// The threaded conversion of silent runs.
//
// The input goes through in blocks, numbered in input order, which go round a
// ring of slots. A block is a chunk of whole lines as the reader holds them.
// There are three kinds of work, and every thread, the calling one among
// them, does whichever is there: reading the next chunk (one thread at a
// time: a read and a look for the last line end, little more); deriving a
// block that is read: cutting it into lines, running the quick route, which
// prints nothing, marks each line it cannot answer and prepares the output of
// the others (any number of threads, each on its own block); and writing out
// the derived blocks in input order (one thread at a time): the prepared
// output, and the marked lines through the general path, which prints. So
// messages and output come in exactly the order one thread gives, a write
// fails at the same line, and no two threads ever print at once. A thread
// derives the block it has just read when it can, while its bytes are in its
// cache.
//
// While a block is out, its bytes stay where they are, and only the thread
// that has the block writes into them: the reader is pinned, reads on behind
// its data and, once its buffer is full, goes on in another buffer, taking
// over what is unread. A buffer is reused once every block in it is written.
// Memory is a few blocks per thread and a few buffers, whatever the input.
// No thread ever waits while it holds work another may need.
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "csv_fast.h"
#include "identifier_derivation.h"
#include "line_converter.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// A chunk is about this many bytes (or one line, when that is longer). Its
// first lines up to block_line_limit are derived; lines longer than
// longest_derived_line, and lines beyond that many, take the general path
// when the block is written, which gives the same output, so that a block's
// memory stays small whatever its lines.
constexpr size_t chunk_bytes = 32 * 1024;
constexpr size_t block_line_limit = 1024;
constexpr size_t longest_derived_line = 4096;
// Slots per thread, so that threads find work while a block waits to be
// written.
constexpr size_t slots_per_thread = 4;

struct line_result {
    uint32_t offset;       // in the chunk
    uint32_t length;
    uint32_t output_size;  // of its prepared output; 0: the line takes the general path
};

// What ended the reading of a block, after its chunk.
enum class block_end { more, long_line, end_of_input, read_error };

enum slot_state : int { slot_free, slot_read, slot_deriving, slot_derived };

struct line_block {
    std::atomic<int> state{slot_free};
    uint64_t number;
    char* chunk;  // in a reader buffer; null for a block of an end alone
    size_t chunk_length;
    int64_t bytes_read;  // input read when the block was read, for the progress line
    block_end end;
    size_t line_count;    // lines cut by the deriving thread
    size_t rest;          // where the lines it did not cut begin, in the chunk
    line_result lines[block_line_limit];
    // The output of the lines the quick route derived, one after another: at
    // most their bytes (a chunk longer than chunk_bytes is one line, too
    // long to derive) and 14 bytes a line.
    char output[chunk_bytes + 1 + 14 * block_line_limit];
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
    // Room for `most` + 1, allocated beforehand: lending one must not need
    // memory beyond the buffer itself.
    std::unique_ptr<char*[]> buffers;  // [0] is the reader's own
    // Per buffer: the blocks to be written before it is free again (one past
    // the last block with lines in it).
    std::unique_ptr<uint64_t[]> in_use_until;
    size_t count;
    size_t current;
    size_t most;  // buffers beyond the reader's own
};

struct shared_conversion {
    line_converter* run;
    size_t lines_per_block;
    // Blocks are allocated as the input first needs them (the reader does
    // that), so that a small input takes little memory. When memory runs
    // out while they are first used, the slots there are are all there is.
    std::unique_ptr<std::atomic<line_block*>[]> blocks;
    std::atomic<size_t> slots;

    // Reading: the reader, its buffers and the block numbers. Taken only
    // when free, except by a writer that takes the reader over.
    std::mutex reading;
    uint64_t next_read = 0;
    // A block ended at a line that its writing must take from the reader:
    // no block is read until then.
    bool reading_paused = false;
    bool reading_over = false;
    reader_buffers buffers;

    // Writing: the writer, the counts and the progress line. Taken only when
    // free.
    std::mutex writing;
    std::atomic<uint64_t> next_write{0};
    run_step outcome = run_step::done;
    std::atomic<bool> finished{false};  // everything written, or a failure

    // Threads with nothing to do sleep until something changes.
    std::atomic<uint64_t> changes{0};
    std::atomic<int> asleep{0};
    std::mutex sleeping;
    std::condition_variable changed;
};

// The block in block `number`'s slot; null while the slot has none.
line_block* slot_of(shared_conversion* shared, uint64_t number) {
    return shared->blocks[number % shared->slots.load(std::memory_order_acquire)].load(std::memory_order_acquire);
}

void announce_change(shared_conversion* shared) {
    shared->changes.fetch_add(1, std::memory_order_seq_cst);
    if (shared->asleep.load(std::memory_order_seq_cst) > 0) {
        { const std::lock_guard<std::mutex> lock(shared->sleeping); }
        shared->changed.notify_all();
    }
}

// Waits until something changes after `seen`, or everything is finished.
void await_change(shared_conversion* shared, uint64_t seen) {
    const auto changed = [shared, seen] {
        return shared->changes.load(std::memory_order_seq_cst) != seen ||
               shared->finished.load(std::memory_order_seq_cst);
    };
    for (int pauses = 0; pauses < pauses_before_sleep; ++pauses) {
        if (changed()) return;
        pause_briefly();
    }
    std::unique_lock<std::mutex> lock(shared->sleeping);
    // Announced before the last look, so that whoever changes something
    // after it wakes this thread.
    shared->asleep.fetch_add(1, std::memory_order_seq_cst);
    shared->changed.wait(lock, changed);
    shared->asleep.fetch_sub(1, std::memory_order_seq_cst);
}

// Moves the reader into a free buffer, allocating one while fewer than
// `most` are. False when every other buffer holds lines of blocks not
// written yet.
bool lend_buffer(line_reader* reader, reader_buffers* buffers, uint64_t written) {
    size_t free = buffers->count;
    for (size_t i = 0; i < buffers->count; ++i) {
        if (i != buffers->current && buffers->in_use_until[i] <= written) free = i;
    }
    if (free == buffers->count) {
        if (buffers->count > buffers->most) return false;
        char* buffer = new (std::nothrow) char[reader_buffer_size];
        if (buffer == nullptr) {
            // Without the memory, no more than the buffers there are.
            buffers->most = buffers->count - 1;
            return false;
        }
        buffers->buffers[free] = buffer;
        buffers->in_use_until[free] = 0;
        ++buffers->count;
    }
    move_line_reader(reader, buffers->buffers[free]);
    buffers->current = free;
    return true;
}

// Reads block `number`'s chunk into its slot. False when nothing could be
// read now: the reader needs a buffer that blocks not written yet hold.
bool fill_block(shared_conversion* shared, line_block* block, uint64_t number, uint64_t written) {
    line_reader* reader = shared->run->input;
    reader_buffers* buffers = &shared->buffers;
    block->number = number;
    block->chunk = nullptr;
    block->chunk_length = 0;
    block->end = block_end::more;
    for (;;) {
        // Once every block in the buffer is written, the reader may move what
        // it holds again rather than need another buffer.
        if (buffers->in_use_until[buffers->current] <= written) reader->pinned = false;
        const chunk_status status =
            read_line_chunk(reader, chunk_bytes, shared->lines_per_block, &block->chunk, &block->chunk_length);
        if (status == chunk_status::chunk) {
            reader->pinned = true;
            buffers->in_use_until[buffers->current] = number + 1;
            break;
        }
        if (status == chunk_status::needs_buffer) {
            if (lend_buffer(reader, buffers, written)) continue;
            return false;  // reading goes on once blocks are written
        }
        block->end = status == chunk_status::long_line      ? block_end::long_line
                     : status == chunk_status::end_of_input ? block_end::end_of_input
                                                            : block_end::read_error;
        break;
    }
    block->bytes_read = reader->bytes_read;
    return true;
}

// The block for block `number`'s slot, allocated on its first use; null
// when there is no memory for it (blocks from `number` on then use the slots
// before it, which are the only ones).
line_block* slot_block(shared_conversion* shared, uint64_t number) {
    std::atomic<line_block*>& slot = shared->blocks[number % shared->slots.load(std::memory_order_relaxed)];
    line_block* block = slot.load(std::memory_order_relaxed);
    if (block != nullptr) return block;
    block = new (std::nothrow) line_block;
    if (block == nullptr) {
        shared->slots.store(number, std::memory_order_release);
        return nullptr;
    }
    slot.store(block, std::memory_order_release);
    return block;
}

// Reads the next block if the reader and a slot are free; its number goes
// to *read.
bool try_read(shared_conversion* shared, uint64_t* read) {
    if (!shared->reading.try_lock()) return false;
    bool done = false;
    if (!shared->reading_over && !shared->reading_paused && !shared->finished.load(std::memory_order_acquire)) {
        const uint64_t number = shared->next_read;
        const uint64_t written = shared->next_write.load(std::memory_order_acquire);
        line_block* block = nullptr;
        // A second time when the first found no memory for a block: the
        // ring is smaller then, and `number` may have a slot with a block
        // (when every block is written, nothing else would come to read it).
        for (int attempt = 0; attempt < 2 && block == nullptr; ++attempt) {
            if (number >= written + shared->slots.load(std::memory_order_relaxed)) break;
            block = slot_block(shared, number);
        }
        if (block != nullptr && fill_block(shared, block, number, written)) {
            shared->next_read = number + 1;
            shared->reading_paused = block->end == block_end::long_line;
            shared->reading_over = block->end == block_end::end_of_input || block->end == block_end::read_error;
            block->state.store(slot_read, std::memory_order_release);
            *read = number;
            done = true;
        }
    }
    shared->reading.unlock();
    if (done) announce_change(shared);
    return done;
}

// Cuts the block's chunk into lines and runs the quick route over them. It
// reads whole vectors beyond a line's end, so the last lines, whose vectors
// would reach past the chunk (where other threads may be writing), are
// copied into a buffer of this thread's first. Identifiers are derived two
// at a time, the zero identifier alone (there is nothing to hash); then the
// output of the derived lines is prepared, while they are in this thread's
// cache.
void derive_block(line_block* block, const line_output* output, const mint::uuid_key* key) {
    static_assert(line_read_slack >= csv_line_slack, "lines are scanned a vector at a time");
    // Zero to begin with (so that what the quick route reads beyond a line
    // has values), and kept from block to block.
    thread_local char copy[longest_derived_line + 1 + csv_line_slack];
    char* const chunk = block->chunk;
    char* const chunk_end = chunk + block->chunk_length;
    char* next = chunk;
    size_t count = 0;
    while (next < chunk_end && count < block_line_limit) {
        char* line = nullptr;
        size_t length = 0;
        split_chunk_line(&next, chunk_end, &line, &length);
        block->lines[count++] = {static_cast<uint32_t>(line - chunk), static_cast<uint32_t>(length), 0};
    }
    block->line_count = count;
    block->rest = static_cast<size_t>(next - chunk);

    char uuids[block_line_limit][12];
    uuid_hash_data records[2];
    size_t waiting = block_line_limit;  // a line read into records[0], derived with the next one
    for (size_t i = 0; i < count; ++i) {
        line_result& result = block->lines[i];
        if (result.length > longest_derived_line) continue;
        const char* line = chunk + result.offset;
        if (line + result.length + 1 + csv_line_slack > chunk_end) {
            std::memcpy(copy, line, result.length);
            copy[result.length] = '\0';
            line = copy;
        }
        uuid_hash_data* record = &records[waiting != block_line_limit ? 1 : 0];
        if (read_csv_line_fast(line, result.length, record) != fast_line::derived) continue;
        result.output_size = 1;  // derived; its size follows
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
    for (size_t i = 0; i < count; ++i) {
        line_result& result = block->lines[i];
        if (result.output_size == 0) continue;
        const char* line = chunk + result.offset;
        const size_t size = identified_line_size(output, line, result.length);
        compose_identified_line(to, line, size, uuids[i]);
        result.output_size = static_cast<uint32_t>(size);
        to += size;
    }
}

// Derives the block in the slot if it is read and no thread has taken it.
bool try_derive(shared_conversion* shared, line_block* block) {
    int expected = slot_read;
    if (!block->state.compare_exchange_strong(expected, slot_deriving, std::memory_order_acq_rel)) return false;
    derive_block(block, shared->run->output, shared->run->key);
    block->state.store(slot_derived, std::memory_order_release);
    announce_change(shared);
    return true;
}

// Derives the oldest block that is read and not taken.
bool try_derive_any(shared_conversion* shared) {
    const uint64_t first = shared->next_write.load(std::memory_order_acquire);
    for (uint64_t number = first; number < first + shared->slots.load(std::memory_order_acquire); ++number) {
        line_block* block = slot_of(shared, number);
        if (block != nullptr && try_derive(shared, block)) return true;
    }
    return false;
}

// The prepared output of the derived lines goes into the writer's buffer as
// many lines at once as fit, and the buffer is written out wherever one line
// does not fit, exactly as line by line; the other lines take the general
// path, reading only the line's bytes: behind a chunk's last line, another
// thread may be cutting the next chunk or the reader reading.
bool write_lines(line_converter* run, line_block* block) {
    output_writer* writer = run->output->writer;
    const char* prepared = block->output;
    size_t i = 0;
    while (i < block->line_count) {
        const line_result& result = block->lines[i];
        if (result.output_size == 0) {
            count_progress(run->progress, run->processed + run->refused + run->discarded, block->bytes_read);
            if (!convert_by_general_path(run, block->chunk + result.offset, result.length, true)) return false;
            ++i;
            continue;
        }
        if (writer->failed) return false;
        const size_t room = output_room(writer);
        size_t bytes = 0;
        size_t next = i;
        while (next < block->line_count && block->lines[next].output_size != 0 &&
               bytes + block->lines[next].output_size <= room) {
            count_progress(run->progress, run->processed + run->refused + run->discarded, block->bytes_read);
            bytes += block->lines[next].output_size;
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
    // Lines beyond the block's limit: cut here, all by the general path.
    char* next = block->chunk + block->rest;
    char* const chunk_end = block->chunk + block->chunk_length;
    while (next < chunk_end) {
        char* line = nullptr;
        size_t length = 0;
        split_chunk_line(&next, chunk_end, &line, &length);
        count_progress(run->progress, run->processed + run->refused + run->discarded, block->bytes_read);
        if (!convert_by_general_path(run, line, length, true)) return false;
    }
    return true;
}

// The block's lines, then what ended its reading. False when the run ends
// with it (the input's end, or a failure).
bool write_block(shared_conversion* shared, line_block* block) {
    line_converter* run = shared->run;
    run_step step = write_lines(run, block) ? run_step::done : run_step::write_failed;
    if (step == run_step::done && block->end == block_end::long_line) {
        // Every block before is written and none after is read: the reader
        // is this thread's to take over.
        const std::lock_guard<std::mutex> lock(shared->reading);
        run->input->pinned = false;
        step = pass_long_line(run, run->output);
        shared->reading_paused = false;
        if (step != run_step::done) shared->reading_over = true;
    }
    if (step == run_step::done && block->end == block_end::read_error) step = run_step::read_failed;
    shared->outcome = step;
    return step == run_step::done && block->end != block_end::end_of_input;
}

// Writes out the derived blocks that are next in order, if the writer is
// free.
bool try_write(shared_conversion* shared) {
    const auto next_derived = [shared] {
        line_block* block = slot_of(shared, shared->next_write.load(std::memory_order_acquire));
        return block != nullptr && block->state.load(std::memory_order_acquire) == slot_derived ? block : nullptr;
    };
    if (next_derived() == nullptr || !shared->writing.try_lock()) return false;
    bool wrote = false;
    while (!shared->finished.load(std::memory_order_relaxed)) {
        const uint64_t number = shared->next_write.load(std::memory_order_relaxed);
        line_block* block = next_derived();
        if (block == nullptr) break;
        const bool goes_on = write_block(shared, block);
        block->state.store(slot_free, std::memory_order_release);
        shared->next_write.store(number + 1, std::memory_order_release);
        if (!goes_on) shared->finished.store(true, std::memory_order_seq_cst);
        wrote = true;
    }
    shared->writing.unlock();
    if (wrote) announce_change(shared);
    return wrote;
}

// The threads beyond the calling one, started by it once they pay.
struct block_workers {
    std::vector<std::thread> threads;
    size_t wanted;
    bool started;
};

void convert_blocks(shared_conversion* shared, block_workers* workers);

void start_workers(shared_conversion* shared, block_workers* workers) {
    workers->started = true;
    // std::thread reports a thread it cannot start (or the memory for it)
    // only by throwing; the threads started do the work, the calling thread
    // among them.
    try {
        workers->threads.reserve(workers->wanted);
        for (size_t i = 0; i < workers->wanted; ++i) workers->threads.emplace_back(convert_blocks, shared, nullptr);
    } catch (const std::exception&) {
    }
}

// Threads pay once the input has filled every slot and goes on.
bool worth_threads(shared_conversion* shared, const line_block* block) {
    return block->number + 1 >= shared->slots.load(std::memory_order_relaxed) && block->end == block_end::more;
}

// Every thread's work, until everything is finished. `workers` is set for
// the calling thread only. Writing first (it frees slots), then deriving
// what this thread has just read, then reading, then deriving any block.
void convert_blocks(shared_conversion* shared, block_workers* workers) {
    constexpr uint64_t none = ~uint64_t{0};
    uint64_t mine = none;
    for (;;) {
        const uint64_t seen = shared->changes.load(std::memory_order_seq_cst);
        if (shared->finished.load(std::memory_order_seq_cst)) return;
        if (try_write(shared)) continue;
        if (mine != none) {
            line_block* block = slot_of(shared, mine);
            mine = none;
            if (block != nullptr && try_derive(shared, block)) continue;
        }
        if (try_read(shared, &mine)) {
            if (workers != nullptr && !workers->started && worth_threads(shared, slot_of(shared, mine))) {
                start_workers(shared, workers);
            }
            continue;
        }
        if (try_derive_any(shared)) continue;
        await_change(shared, seen);
    }
}

}  // namespace

run_step convert_lines_in_parallel(line_converter* run) {
    const size_t threads = static_cast<size_t>(run->threads);
    shared_conversion shared;
    shared.run = run;
    shared.lines_per_block = run->lines_per_block;
    const size_t slots = slots_per_thread * threads;
    shared.slots.store(slots);
    // Without the memory for the slots and one block, the calling thread
    // does the work alone.
    shared.blocks.reset(new (std::nothrow) std::atomic<line_block*>[slots]());
    bool more = false;
    if (shared.blocks == nullptr) return convert_lines_in_turn(run, INT64_MAX, &more);
    shared.blocks[0] = new (std::nothrow) line_block;
    if (shared.blocks[0] == nullptr) return convert_lines_in_turn(run, INT64_MAX, &more);
    // Enough buffers for the lines of every slot, one being read into, and
    // one to spare.
    const size_t most_buffers = 2 + slots * chunk_bytes / input_block_size;
    shared.buffers = {std::unique_ptr<char*[]>(new (std::nothrow) char*[most_buffers + 1]),
                      std::unique_ptr<uint64_t[]>(new (std::nothrow) uint64_t[most_buffers + 1]), 1, 0, most_buffers};
    if (shared.buffers.buffers == nullptr || shared.buffers.in_use_until == nullptr) {
        delete shared.blocks[0].load();
        return convert_lines_in_turn(run, INT64_MAX, &more);
    }
    shared.buffers.buffers[0] = run->input->data;
    shared.buffers.in_use_until[0] = 0;
    // A thread reads about what it goes on to derive.
    run->input->most_per_read = 4 * chunk_bytes;
    block_workers workers = {{}, threads - 1, false};
    convert_blocks(&shared, &workers);
    for (std::thread& worker : workers.threads) worker.join();
    // Whatever is unread goes back to the reader's own buffer (a read error
    // or a failed write may leave some), which outlives the borrowed ones.
    run->input->most_per_read = 0;
    run->input->pinned = false;
    if (run->input->data != run->input->own) move_line_reader(run->input, run->input->own);
    for (size_t i = 1; i < shared.buffers.count; ++i) delete[] shared.buffers.buffers[i];
    for (size_t i = 0; i < slots; ++i) delete shared.blocks[i].load();
    return shared.outcome;
}
