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

// Room for the longest parsed line and its terminator, and for many lines
// of a usual length.
constexpr size_t block_text_size = 2 * max_parsed_line;
constexpr size_t block_line_limit = 2048;
static_assert(block_text_size >= max_parsed_line + 1, "every parsed line fits in an empty block");

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
    line_block* blocks;
    size_t size;
    std::mutex mutex;
    std::condition_variable work_ready;  // a block to derive, or the end
    std::condition_variable block_done;
    uint64_t filled = 0;   // blocks handed out to derive
    uint64_t taken = 0;    // blocks a thread has taken to derive
    bool stopping = false;
};

line_block* block_at(block_ring* ring, uint64_t number) {
    return &ring->blocks[number % ring->size];
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

enum class fill_end { block_full, long_line, end_of_input, read_error };

// A line read that did not fit into the block being filled: it opens the
// next one. It stays valid in the reader until the next read.
struct carried_line {
    char* text;
    size_t length;
};

fill_end fill_block(line_converter* run, line_block* block, carried_line* carried) {
    block->line_count = 0;
    block->used = 0;
    fill_end end = fill_end::block_full;
    while (block->line_count < block_line_limit) {
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
        if (length + 1 > block_text_size - block->used) {
            *carried = {line, length};
            break;
        }
        std::memcpy(block->text + block->used, line, length + 1);
        block->lines[block->line_count++] = {static_cast<uint32_t>(block->used), static_cast<uint32_t>(length),
                                             false, {}};
        block->used += length + 1;
    }
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

run_step convert_in_ring(line_converter* run, block_ring* ring) {
    uint64_t next_fill = 0;
    uint64_t next_write = 0;
    carried_line carried = {nullptr, 0};
    fill_end end = fill_end::block_full;
    for (;;) {
        while (end == fill_end::block_full && next_fill - next_write < ring->size) {
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
        if (next_write == next_fill) {
            // Everything read so far is written: what stopped the reading
            // comes next.
            switch (end) {
                case fill_end::block_full:
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
    // Enough blocks that no thread waits for another to be filled or written.
    const size_t ring_size = 2 * threads + 2;
    // Allocated and cleared whole at the start, so that memory use does not
    // depend on the input. Without the memory, one thread does the work.
    auto* blocks = new (std::nothrow) line_block[ring_size]();
    if (blocks == nullptr) return convert_lines_in_turn(run);
    block_ring ring;
    ring.blocks = blocks;
    ring.size = ring_size;
    std::vector<std::thread> workers;
    workers.reserve(threads - 1);
    for (size_t i = 1; i < threads; ++i) {
        // std::thread reports a thread it cannot start only by throwing; the
        // threads started do the work, the calling thread among them.
        try {
            workers.emplace_back(derive_blocks, &ring);
        } catch (const std::system_error&) {
            break;
        }
    }
    const run_step step = convert_in_ring(run, &ring);
    {
        const std::lock_guard<std::mutex> lock(ring.mutex);
        ring.stopping = true;
    }
    ring.work_ready.notify_all();
    for (std::thread& worker : workers) worker.join();
    delete[] blocks;
    return step;
}
