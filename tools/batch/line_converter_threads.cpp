// The threaded conversion of silent runs.
//
// The calling thread reads the input and cuts it into lines, in order, and
// hands them out in blocks: a block names up to a few hundred lines where the
// reader holds them. Any thread, the calling one included, takes the next
// block not yet taken and runs the quick route over its lines, deriving their
// identifiers (in pairs, as the single-threaded conversion does); it prints
// nothing, and marks each line the quick route cannot answer. The calling
// thread then writes the blocks out in input order: the quick lines with
// their identifiers, and the marked lines through the general path, which
// prints. So every message is printed by the one thread, in input order,
// between exactly the writes it comes between with one thread, and a write
// fails at the same line.
//
// While a block is out, the bytes of its lines stay where they are: the
// reader is pinned, reads on behind its data and, once its buffer is full,
// goes on in another buffer, taking over what is unread. A buffer is reused
// once every block with lines in it is written. Memory is a fixed number of
// blocks and buffers, whatever the input.
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

// Lines longer than this (few records are) are converted by the calling
// thread where the reader holds them, after the blocks before them are
// written, so that a thread can copy any line of a block into a small buffer.
constexpr size_t longest_block_line = 4096;
// A block holds at most this many lines, or about this many bytes of lines:
// enough work to make handing it to another thread cheap.
constexpr size_t block_line_limit = 128;
constexpr size_t block_byte_limit = 8 * 1024;

// Written by the calling thread.
struct line_place {
    const char* text;  // in a reader buffer
    size_t length;
};

// Written by the thread that derives the block.
struct line_result {
    bool derived;  // by the quick route: `uuid` holds its identifier
    char uuid[12];
};

struct line_block {
    size_t line_count;
    int64_t bytes_read;  // input read when the block was filled, for the progress line
    std::atomic<bool> done;  // derived
    line_place lines[block_line_limit];
    line_result results[block_line_limit];
};

// Blocks 0, 1, 2, ... of the input go round `size` slots. The calling thread
// fills block n once block n - size is written out, and hands it out by
// counting it in `filled`; a thread takes it by counting it in `taken`.
//
// Handing out, taking and finishing a block cost an atomic operation each. A
// thread that finds nothing to do waits a little (most waits are short) and
// then sleeps; the one that makes the work only wakes it when it sleeps.
struct block_ring {
    const mint::uuid_key* key;  // of keyed identifiers, or null
    line_block* blocks;
    size_t size;
    std::atomic<uint64_t> filled{0};
    std::atomic<uint64_t> taken{0};
    std::atomic<bool> stopping{false};
    std::atomic<int> workers_asleep{0};
    std::atomic<bool> caller_asleep{false};
    std::mutex mutex;
    std::condition_variable work_ready;  // for workers: a block to derive, or the end
    std::condition_variable block_done;  // for the calling thread
};

line_block* block_at(block_ring* ring, uint64_t number) {
    return &ring->blocks[number % ring->size];
}

// One step of waiting for another thread, a few dozen nanoseconds.
void pause_briefly() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// How long a thread looks for work before it sleeps: about as long as
// deriving a block of lines takes.
constexpr int pauses_before_sleep = 2000;

// The quick route over every line of a block, each copied into a buffer of
// this thread's first (the quick route reads whole vectors beyond a line's
// end, where the reader may be writing meanwhile). Identifiers are derived
// two at a time, the zero identifier alone (there is nothing to hash).
void derive_block(line_block* block, const mint::uuid_key* key) {
    static_assert(line_read_slack >= csv_line_slack, "lines are scanned a vector at a time");
    char line[longest_block_line + 1 + csv_line_slack];
    std::memset(line, 0, sizeof line);
    uuid_hash_data records[2];
    line_result* waiting = nullptr;  // read into records[0], derived with the next one
    for (size_t i = 0; i < block->line_count; ++i) {
        const line_place& place = block->lines[i];
        line_result* result = &block->results[i];
        std::memcpy(line, place.text, place.length);
        line[place.length] = '\0';
        uuid_hash_data* record = &records[waiting != nullptr ? 1 : 0];
        result->derived = read_csv_line_fast(line, place.length, record) == fast_line::derived;
        if (!result->derived) continue;
        if ((record->flags & ANY_SSN) == 0) {
            derive_identifier(record, key);
            std::memcpy(result->uuid, record->uuid, 12);
        } else if (waiting == nullptr) {
            waiting = result;
        } else {
            derive_identifier_pair(&records[0], &records[1], key);
            std::memcpy(waiting->uuid, records[0].uuid, 12);
            std::memcpy(result->uuid, records[1].uuid, 12);
            waiting = nullptr;
        }
    }
    if (waiting != nullptr) {
        derive_identifier(&records[0], key);
        std::memcpy(waiting->uuid, records[0].uuid, 12);
    }
}

// Takes the next block handed out, if there is one, and derives it.
bool derive_next_block(block_ring* ring) {
    uint64_t number = ring->taken.load(std::memory_order_relaxed);
    do {
        if (number >= ring->filled.load(std::memory_order_acquire)) return false;
    } while (!ring->taken.compare_exchange_weak(number, number + 1, std::memory_order_acq_rel));
    line_block* block = block_at(ring, number);
    derive_block(block, ring->key);
    block->done.store(true, std::memory_order_seq_cst);
    // The calling thread announces its sleep before it looks at the block a
    // last time, so either it sees the block done or it is woken here.
    if (ring->caller_asleep.load(std::memory_order_seq_cst)) {
        { const std::lock_guard<std::mutex> lock(ring->mutex); }
        ring->block_done.notify_one();
    }
    return true;
}

bool work_or_end(const block_ring* ring) {
    return ring->stopping.load(std::memory_order_seq_cst) ||
           ring->taken.load(std::memory_order_seq_cst) < ring->filled.load(std::memory_order_seq_cst);
}

void derive_blocks(block_ring* ring) {
    for (;;) {
        if (derive_next_block(ring)) continue;
        int pauses = 0;
        while (!work_or_end(ring) && ++pauses < pauses_before_sleep) pause_briefly();
        if (!work_or_end(ring)) {
            std::unique_lock<std::mutex> lock(ring->mutex);
            ring->workers_asleep.fetch_add(1, std::memory_order_seq_cst);
            ring->work_ready.wait(lock, [ring] { return work_or_end(ring); });
            ring->workers_asleep.fetch_sub(1, std::memory_order_seq_cst);
        }
        if (ring->stopping.load(std::memory_order_seq_cst)) return;
    }
}

// Hands out the block the calling thread has filled.
void hand_out_block(block_ring* ring, line_block* block) {
    block->done.store(false, std::memory_order_relaxed);
    ring->filled.fetch_add(1, std::memory_order_seq_cst);
    // A worker announces its sleep before it looks for work a last time, so
    // either it finds this block or it is woken here.
    if (ring->workers_asleep.load(std::memory_order_seq_cst) > 0) {
        { const std::lock_guard<std::mutex> lock(ring->mutex); }
        ring->work_ready.notify_one();
    }
}

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

// Moves the reader into a free buffer, allocating one while fewer than
// `most` are. False when every buffer holds lines of blocks not written yet.
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

enum class fill_end { block_full, needs_buffer, line_for_caller, long_line, end_of_input, read_error };

// A line longer than longest_block_line, which the calling thread converts
// where the reader holds it (valid until the next read).
struct caller_line {
    char* text;
    size_t length;
};

// Asks for the memory ahead of its use, all at once: the block was last used
// by another thread, and fetching it line by line as it is touched makes
// the calling thread wait for each in turn.
template <typename T>
void fetch_ahead(const T& object, bool for_writing) {
    const char* bytes = reinterpret_cast<const char*>(&object);
    for (size_t offset = 0; offset < sizeof object; offset += 64) {
        if (for_writing) {
            __builtin_prefetch(bytes + offset, 1);
        } else {
            __builtin_prefetch(bytes + offset, 0);
        }
    }
}

fill_end fill_block(line_converter* run, line_block* block, uint64_t number, reader_buffers* buffers,
                    caller_line* for_caller) {
    fetch_ahead(block->lines, true);
    block->line_count = 0;
    const size_t most_lines =
        run->lines_per_block > 0 && run->lines_per_block < block_line_limit ? run->lines_per_block : block_line_limit;
    size_t bytes = 0;
    fill_end end = fill_end::block_full;
    while (block->line_count < most_lines && bytes < block_byte_limit) {
        char* line = nullptr;
        size_t length = 0;
        const line_status status = read_text_line(run->input, &line, &length);
        if (status != line_status::line) {
            end = status == line_status::needs_buffer   ? fill_end::needs_buffer
                  : status == line_status::long_line    ? fill_end::long_line
                  : status == line_status::end_of_input ? fill_end::end_of_input
                                                        : fill_end::read_error;
            break;
        }
        if (length > longest_block_line) {
            *for_caller = {line, length};
            end = fill_end::line_for_caller;
            break;
        }
        block->lines[block->line_count++] = {line, length};
        bytes += length + 1;
        // The line's bytes stay in place until the block is written.
        run->input->pinned = true;
        buffers->in_use_until[buffers->current] = number + 1;
    }
    block->bytes_read = run->input->bytes_read;
    return end;
}

// Waits until the block is derived, deriving blocks not yet taken meanwhile.
void await_block(block_ring* ring, const line_block* block) {
    int pauses = 0;
    while (!block->done.load(std::memory_order_acquire)) {
        if (derive_next_block(ring)) continue;
        if (++pauses < pauses_before_sleep) {
            pause_briefly();
            continue;
        }
        std::unique_lock<std::mutex> lock(ring->mutex);
        ring->caller_asleep.store(true, std::memory_order_seq_cst);
        ring->block_done.wait(lock, [block] { return block->done.load(std::memory_order_seq_cst); });
        ring->caller_asleep.store(false, std::memory_order_relaxed);
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

bool write_block(line_converter* run, const line_block* block) {
    fetch_ahead(block->results, false);
    for (size_t i = 0; i < block->line_count; ++i) {
        count_progress(run->progress, run->processed + run->refused + run->discarded, block->bytes_read);
        const line_place& line = block->lines[i];
        const line_result& result = block->results[i];
        if (result.derived) {
            if (!write_derived_line(run->output, line.text, line.length, result.uuid)) return false;
            ++run->processed;
        } else if (!convert_by_general_path(run, line.text, line.length)) {
            return false;
        }
    }
    return true;
}

// Threads beyond the calling one, started once the input fills every block:
// a small input is not worth starting them.
struct block_workers {
    std::vector<std::thread> threads;
    size_t wanted;
    bool started;
};

void start_workers(block_workers* workers, block_ring* ring) {
    if (workers->started) return;
    workers->started = true;
    workers->threads.reserve(workers->wanted);
    for (size_t i = 0; i < workers->wanted; ++i) {
        // std::thread reports a thread it cannot start only by throwing; the
        // threads started do the work, the calling thread among them.
        try {
            workers->threads.emplace_back(derive_blocks, ring);
        } catch (const std::system_error&) {
            break;
        }
    }
}

void stop_workers(block_workers* workers, block_ring* ring) {
    ring->stopping.store(true, std::memory_order_seq_cst);
    { const std::lock_guard<std::mutex> lock(ring->mutex); }
    ring->work_ready.notify_all();
    for (std::thread& thread : workers->threads) thread.join();
}

run_step convert_in_ring(line_converter* run, block_ring* ring, reader_buffers* buffers, block_workers* workers) {
    uint64_t next_fill = 0;
    uint64_t next_write = 0;
    caller_line for_caller = {nullptr, 0};
    fill_end end = fill_end::block_full;
    for (;;) {
        while (end == fill_end::block_full && next_fill - next_write < ring->size) {
            line_block* block = block_at(ring, next_fill);
            end = fill_block(run, block, next_fill, buffers, &for_caller);
            if (block->line_count == 0) continue;
            hand_out_block(ring, block);
            ++next_fill;
        }
        if (end == fill_end::needs_buffer && lend_buffer(run->input, buffers, next_write)) {
            end = fill_end::block_full;
            continue;
        }
        // Once every block is filled and more input waits, the work is worth
        // the threads.
        if (end == fill_end::block_full || end == fill_end::needs_buffer) start_workers(workers, ring);
        if (next_write == next_fill) {
            // Everything read so far is written, so the reader is free to
            // move what it holds: what stopped the reading comes next.
            run->input->pinned = false;
            switch (end) {
                case fill_end::block_full:
                case fill_end::needs_buffer:
                    end = fill_end::block_full;
                    continue;
                case fill_end::line_for_caller:
                    if (!convert_line_in_place(run, for_caller.text, for_caller.length)) {
                        return run_step::write_failed;
                    }
                    end = fill_end::block_full;
                    continue;
                case fill_end::long_line: {
                    const run_step step = pass_long_line(run, run->output);
                    if (step != run_step::done) return step;
                    end = fill_end::block_full;
                    continue;
                }
                case fill_end::end_of_input:
                    return run_step::done;
                case fill_end::read_error:
                    return run_step::read_failed;
            }
        }
        line_block* oldest = block_at(ring, next_write);
        await_block(ring, oldest);
        if (!write_block(run, oldest)) return run_step::write_failed;
        ++next_write;
        // No block left with lines in the reader's buffer: it may move what
        // it holds again, rather than need another buffer.
        if (buffers->in_use_until[buffers->current] <= next_write) run->input->pinned = false;
    }
}

}  // namespace

run_step convert_lines_in_parallel(line_converter* run) {
    const size_t threads = static_cast<size_t>(run->threads);
    block_ring ring;
    ring.key = run->key;
    // Enough blocks that no thread waits for another to be filled or written.
    ring.size = 8 * threads;
    // Without the memory, the calling thread does the work alone.
    ring.blocks = new (std::nothrow) line_block[ring.size];
    if (ring.blocks == nullptr) return convert_lines_in_turn(run);
    // Enough buffers for the lines of every block, one being read into, and
    // one to spare.
    reader_buffers buffers = {{run->input->data}, {0}, 0, 2 + ring.size * block_byte_limit / input_block_size};
    block_workers workers = {{}, threads - 1, false};
    const run_step step = convert_in_ring(run, &ring, &buffers, &workers);
    stop_workers(&workers, &ring);
    // Whatever is unread goes back to the reader's own buffer (a read error
    // or a failed write may leave some), which outlives the borrowed ones.
    if (run->input->data != run->input->own) move_line_reader(run->input, run->input->own);
    for (size_t i = 1; i < buffers.buffers.size(); ++i) delete[] buffers.buffers[i];
    delete[] ring.blocks;
    return step;
}
