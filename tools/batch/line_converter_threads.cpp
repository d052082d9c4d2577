// The threaded conversion of silent runs.
//
// The calling thread reads the input and copies its lines, in order, into a
// ring of blocks. Any thread, the calling one included, takes the next block
// not yet taken and runs the quick route over its lines, deriving their
// identifiers (in pairs, as the single-threaded conversion does); it prints
// nothing, and marks each line the quick route cannot answer. The calling
// thread then writes the blocks out in input order: the quick lines with
// their identifiers, and the marked lines through the general path, which
// prints. So every message is printed by the one thread, in input order,
// between exactly the writes it comes between with one thread, and a write
// fails at the same line. Only blocks in the ring are ever held: memory does
// not grow with the input.
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

namespace {

// Lines longer than this (few records are) are converted by the calling
// thread in their place in the reader, after the blocks before them are
// written, so that blocks stay small.
constexpr size_t longest_block_line = 4096;
// Room for five hundred lines of a usual length: enough work to make handing
// a block to another thread cheap.
constexpr size_t block_text_size = 32 * 1024;
constexpr size_t block_line_limit = 512;
static_assert(block_text_size >= longest_block_line + 1, "every line for a block fits in an empty one");

struct block_line {
    uint32_t start;   // in the block's text
    uint32_t length;  // without the terminator that follows it
    bool derived;     // by the quick route: `uuid` holds its identifier
    char uuid[12];
};

struct line_block {
    size_t line_count;
    size_t used;          // bytes of text
    int64_t bytes_read;   // input read when the block was filled, for the progress line
    bool done;            // derived; guarded by the ring's mutex
    block_line lines[block_line_limit];
    // Each line followed by its terminator; the quick route may read
    // csv_line_slack bytes beyond a terminator.
    char text[block_text_size + line_read_slack];
};
static_assert(line_read_slack >= csv_line_slack, "lines are scanned a vector at a time");

// Blocks 0, 1, 2, ... of the input go round `size` slots. The calling thread
// fills block n once block n - size is written out.
struct block_ring {
    // Allocated as the input first needs them, so that a small input takes
    // little memory and a large one no more than these.
    std::vector<line_block*> blocks;
    size_t size;  // changed only by the calling thread, with the mutex held
    std::mutex mutex;
    std::condition_variable work_ready;  // a block to derive, or the end
    std::condition_variable block_done;
    uint64_t filled = 0;   // blocks handed out to derive
    uint64_t taken = 0;    // blocks a thread has taken to derive
    bool stopping = false;
};

line_block* block_at(block_ring* ring, uint64_t number) {
    return ring->blocks[number % ring->size];
}

// The quick route over every line of a block. Identifiers are derived two at
// a time, the zero identifier alone (there is nothing to hash).
void derive_block(line_block* block) {
    uuid_hash_data records[2];
    block_line* waiting = nullptr;  // read into records[0], derived with the next one
    for (size_t i = 0; i < block->line_count; ++i) {
        block_line* line = &block->lines[i];
        uuid_hash_data* record = &records[waiting != nullptr ? 1 : 0];
        line->derived = read_csv_line_fast(block->text + line->start, line->length, record) == fast_line::derived;
        if (!line->derived) continue;
        if ((record->flags & ANY_SSN) == 0) {
            derive_identifier(record);
            std::memcpy(line->uuid, record->uuid, 12);
        } else if (waiting == nullptr) {
            waiting = line;
        } else {
            derive_identifier_pair(&records[0], &records[1]);
            std::memcpy(waiting->uuid, records[0].uuid, 12);
            std::memcpy(line->uuid, records[1].uuid, 12);
            waiting = nullptr;
        }
    }
    if (waiting != nullptr) {
        derive_identifier(&records[0]);
        std::memcpy(waiting->uuid, records[0].uuid, 12);
    }
}

// Takes the next block handed out and derives it; with the ring's mutex
// held on entry and on return.
void derive_next_block(block_ring* ring, std::unique_lock<std::mutex>& lock) {
    line_block* block = block_at(ring, ring->taken++);
    lock.unlock();
    derive_block(block);
    lock.lock();
    block->done = true;
    ring->block_done.notify_one();
}

void derive_blocks(block_ring* ring) {
    std::unique_lock<std::mutex> lock(ring->mutex);
    for (;;) {
        ring->work_ready.wait(lock, [ring] { return ring->stopping || ring->taken < ring->filled; });
        if (ring->stopping) return;
        derive_next_block(ring, lock);
    }
}

enum class fill_end { block_full, line_for_caller, long_line, end_of_input, read_error };

// A line read that did not fit into the block being filled, which opens the
// next one, or a line longer than longest_block_line, which the calling
// thread converts. It stays valid in the reader until the next read.
struct carried_line {
    char* text;
    size_t length;
};

fill_end fill_block(line_converter* run, line_block* block, carried_line* carried) {
    block->line_count = 0;
    block->used = 0;
    const size_t most_lines =
        run->lines_per_block > 0 && run->lines_per_block < block_line_limit ? run->lines_per_block : block_line_limit;
    fill_end end = fill_end::block_full;
    while (block->line_count < most_lines) {
        char* line = carried->text;
        size_t length = carried->length;
        carried->text = nullptr;
        if (line == nullptr) {
            const line_status status = read_text_line(run->input, &line, &length);
            if (status != line_status::line) {
                end = status == line_status::long_line      ? fill_end::long_line
                      : status == line_status::end_of_input ? fill_end::end_of_input
                                                            : fill_end::read_error;
                break;
            }
        }
        if (length > longest_block_line) {
            *carried = {line, length};
            end = fill_end::line_for_caller;
            break;
        }
        if (length + 1 > block_text_size - block->used) {
            *carried = {line, length};
            break;
        }
        std::memcpy(block->text + block->used, line, length + 1);
        block->lines[block->line_count++] = {static_cast<uint32_t>(block->used), static_cast<uint32_t>(length),
                                             false, {}};
        block->used += length + 1;
    }
    // The quick route may read beyond the last line: bytes with values.
    std::memset(block->text + block->used, 0, line_read_slack);
    block->bytes_read = run->input->bytes_read;
    return end;
}

// Waits until the block is derived, deriving blocks not yet taken meanwhile.
void await_block(block_ring* ring, const line_block* block) {
    std::unique_lock<std::mutex> lock(ring->mutex);
    while (!block->done) {
        if (ring->taken < ring->filled) {
            derive_next_block(ring, lock);
        } else {
            ring->block_done.wait(lock);
        }
    }
}

// A line too long for a block, where the reader holds it: the quick route
// or the general path, as for a line of a block.
bool convert_line_in_place(line_converter* run, const char* line, size_t length) {
    uuid_hash_data record;
    if (read_csv_line_fast(line, length, &record) != fast_line::derived) {
        return convert_by_general_path(run, line, length);
    }
    derive_identifier(&record);
    if (!write_derived_line(run->output, line, length, record.uuid)) return false;
    ++run->processed;
    return true;
}

bool write_block(line_converter* run, const line_block* block) {
    for (size_t i = 0; i < block->line_count; ++i) {
        count_progress(run->progress, run->processed + run->refused + run->discarded, block->bytes_read);
        const block_line& line = block->lines[i];
        const char* text = block->text + line.start;
        if (line.derived) {
            if (!write_derived_line(run->output, text, line.length, line.uuid)) return false;
            ++run->processed;
        } else if (!convert_by_general_path(run, text, line.length)) {
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
    {
        const std::lock_guard<std::mutex> lock(ring->mutex);
        ring->stopping = true;
    }
    ring->work_ready.notify_all();
    for (std::thread& thread : workers->threads) thread.join();
}

// Block `number`'s slot holds a block, unless the memory is lacking: then the
// ring keeps the blocks it has (while it is first filled, blocks 0 to
// number - 1 are the only ones and keep their slots). False when the ring is
// full now.
bool allocate_block(block_ring* ring, uint64_t number) {
    line_block*& slot = ring->blocks[number % ring->size];
    if (slot != nullptr) return true;
    slot = new (std::nothrow) line_block;
    if (slot != nullptr) return true;
    const std::lock_guard<std::mutex> lock(ring->mutex);
    ring->size = number;
    return false;
}

run_step convert_in_ring(line_converter* run, block_ring* ring, block_workers* workers) {
    uint64_t next_fill = 0;
    uint64_t next_write = 0;
    carried_line carried = {nullptr, 0};
    fill_end end = fill_end::block_full;
    for (;;) {
        while (end == fill_end::block_full && next_fill - next_write < ring->size) {
            if (!allocate_block(ring, next_fill)) break;
            line_block* block = block_at(ring, next_fill);
            end = fill_block(run, block, &carried);
            if (block->line_count == 0) break;
            {
                const std::lock_guard<std::mutex> lock(ring->mutex);
                block->done = false;
                ++ring->filled;
            }
            ring->work_ready.notify_one();
            ++next_fill;
        }
        // Once every block is filled and more input waits, the work is worth
        // the threads.
        if (end == fill_end::block_full) start_workers(workers, ring);
        if (next_write == next_fill) {
            // Everything read so far is written: what stopped the reading
            // comes next.
            switch (end) {
                case fill_end::block_full:
                    continue;
                case fill_end::line_for_caller:
                    if (!convert_line_in_place(run, carried.text, carried.length)) return run_step::write_failed;
                    carried = {nullptr, 0};
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
    }
}

}  // namespace

run_step convert_lines_in_parallel(line_converter* run) {
    const size_t threads = static_cast<size_t>(run->threads);
    block_ring ring;
    // Enough blocks that no thread waits for another to be filled or written.
    ring.size = 2 * threads + 2;
    ring.blocks.assign(ring.size, nullptr);
    // Without memory for one block, the calling thread does the work alone.
    ring.blocks[0] = new (std::nothrow) line_block;
    if (ring.blocks[0] == nullptr) return convert_lines_in_turn(run);
    block_workers workers = {{}, threads - 1, false};
    const run_step step = convert_in_ring(run, &ring, &workers);
    stop_workers(&workers, &ring);
    for (line_block* block : ring.blocks) delete block;
    return step;
}
