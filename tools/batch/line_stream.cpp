#include "line_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

byte_source file_source(int fd) {
    return {fd, nullptr, 0, 0, 0, SIZE_MAX};
}

byte_source memory_source(const char* bytes, size_t size) {
    return {-1, bytes, size, 0, 0, SIZE_MAX};
}

byte_sink file_sink(int fd) {
    return {fd, nullptr, 0, 0};
}

byte_sink memory_sink(char* bytes, size_t capacity) {
    return {-1, bytes, capacity, 0};
}

namespace {

ssize_t read_source(byte_source* source, char* destination, size_t capacity) {
    if (source->fd >= 0) return read(source->fd, destination, capacity);
    if (source->taken >= source->fails_after) {
        errno = EIO;
        return -1;
    }
    size_t count = std::min(capacity, source->size - source->taken);
    if (source->most_per_read > 0) count = std::min(count, source->most_per_read);
    count = std::min(count, source->fails_after - source->taken);
    std::memcpy(destination, source->bytes + source->taken, count);
    source->taken += count;
    return static_cast<ssize_t>(count);
}

ssize_t write_sink(byte_sink* sink, const char* bytes, size_t length) {
    if (sink->fd >= 0) return write(sink->fd, bytes, length);
    const size_t count = std::min(length, sink->capacity - sink->size);
    if (count == 0) {
        errno = ENOSPC;
        return -1;
    }
    std::memcpy(sink->bytes + sink->size, bytes, count);
    sink->size += count;
    return static_cast<ssize_t>(count);
}

}  // namespace

void open_line_reader(line_reader* reader, byte_source* source) {
    reader->source = source;
    reader->at_end = false;
    reader->bytes_read = 0;
    reader->start = 0;
    reader->end = 0;
    reader->scan = 0;
    reader->data = reader->own;
    reader->pinned = false;
    reader->most_per_read = 0;
    reader->zero_until = 0;
}

namespace {

// Scans read whole vectors, also past the data read so far (a last line's
// terminator and the read slack behind it): those bytes decide nothing, but
// they have defined values. Only what is not zero yet is cleared, so that
// reads of a few bytes cost a few bytes.
bool clear_behind_data(line_reader* reader) {
    const size_t wanted = reader->end + 1 + line_read_slack;
    const size_t from = reader->zero_until > reader->end ? reader->zero_until : reader->end;
    if (wanted > from) std::memset(reader->data + from, 0, wanted - from);
    reader->zero_until = wanted;
    return true;
}

}  // namespace

bool fill_line_reader(line_reader* reader) {
    // A pinned reader reads on behind its data, in the room left.
    if (reader->start > 0 && !reader->pinned) {
        const size_t kept = reader->end - reader->start;
        std::memmove(reader->data, reader->data + reader->start, kept);
        reader->scan = reader->scan > reader->start ? reader->scan - reader->start : 0;
        reader->start = 0;
        reader->end = kept;
        reader->zero_until = kept;  // what was behind the data moved
    }
    for (;;) {
        size_t room = input_block_size - reader->end;
        if (reader->most_per_read > 0 && reader->most_per_read < room) room = reader->most_per_read;
        const ssize_t count = read_source(reader->source, reader->data + reader->end, room);
        if (count > 0) {
            reader->end += static_cast<size_t>(count);
            reader->bytes_read += count;
            return clear_behind_data(reader);
        }
        if (count == 0) {
            reader->at_end = true;
            return clear_behind_data(reader);
        }
        if (errno != EINTR) return false;
    }
}

namespace {

// Position of the first CR or LF in the unread data, or reader->end.
size_t find_line_end(line_reader* reader) {
    size_t position = reader->scan < reader->start ? reader->start : reader->scan;
    const char* data = reader->data;
#if defined(__SSE2__)
    // Thirty-two bytes a step, so that most lines take one or two. A step may
    // read up to 31 bytes beyond the data read, into the buffer's slack; a
    // line end found there is cut back to reader->end below.
    static_assert(line_read_slack >= 31);
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const auto line_ends = [&](const char* at) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf))));
    };
    for (; position < reader->end; position += 32) {
        const uint32_t hits = line_ends(data + position) | (line_ends(data + position + 16) << 16);
        if (hits != 0) {
            position += static_cast<size_t>(__builtin_ctz(hits));
            break;
        }
    }
#else
    while (position < reader->end && data[position] != '\r' && data[position] != '\n') ++position;
#endif
    if (position > reader->end) position = reader->end;
    reader->scan = position;
    return position;
}

#if defined(__SSE2__)
// The CRs and LFs among the 16 bytes at `at`, a bit each.
uint32_t line_end_bits(const char* at) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    return static_cast<uint32_t>(_mm_movemask_epi8(
        _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')))));
}
#endif

// The first CR or LF in [from, to), or `to`; nothing outside is read.
const char* first_line_end_between(const char* from, const char* to) {
#if defined(__SSE2__)
    // Thirty-two bytes a step while they last, so that most lines take one
    // or two.
    for (; to - from >= 32; from += 32) {
        const uint32_t bits = line_end_bits(from) | (line_end_bits(from + 16) << 16);
        if (bits != 0) return from + __builtin_ctz(bits);
    }
    for (; to - from >= 16; from += 16) {
        const uint32_t bits = line_end_bits(from);
        if (bits != 0) return from + __builtin_ctz(bits);
    }
#endif
    while (from < to && *from != '\r' && *from != '\n') ++from;
    return from;
}

// The last CR or LF in [from, to), or null; nothing outside is read.
const char* last_line_end_between(const char* from, const char* to) {
#if defined(__SSE2__)
    for (; to - from >= 16; to -= 16) {
        const uint32_t bits = line_end_bits(to - 16);
        if (bits != 0) return to - 16 + (31 - __builtin_clz(bits));
    }
#endif
    while (to > from) {
        --to;
        if (*to == '\r' || *to == '\n') return to;
    }
    return nullptr;
}

// A CR as the last byte read may be the first half of a CR LF; only more
// input tells.
bool cr_awaits_next_block(const line_reader* reader, size_t line_end) {
    return reader->data[line_end] == '\r' && line_end + 1 == reader->end && !reader->at_end;
}

// A pinned reader with no room left behind its data.
bool buffer_full(const line_reader* reader) {
    return reader->pinned && reader->end == input_block_size;
}

// Moves the read position past the line end at `line_end`.
void take_line_end(line_reader* reader, size_t line_end) {
    size_t next = line_end + 1;
    if (reader->data[line_end] == '\r' && next < reader->end && reader->data[next] == '\n') ++next;
    reader->start = next;
}

}  // namespace

void move_line_reader(line_reader* reader, char* buffer) {
    const size_t kept = reader->end - reader->start;
    std::memcpy(buffer, reader->data + reader->start, kept);
    reader->scan = reader->scan > reader->start ? reader->scan - reader->start : 0;
    reader->start = 0;
    reader->end = kept;
    reader->data = buffer;
    reader->pinned = false;
    reader->zero_until = kept;
    clear_behind_data(reader);
}

line_status read_text_line(line_reader* reader, char** line, size_t* length) {
    for (;;) {
        const size_t line_end = find_line_end(reader);
        const size_t size = line_end - reader->start;
        if (size > max_parsed_line) return line_status::long_line;
        if (line_end < reader->end) {
            if (cr_awaits_next_block(reader, line_end)) {
                if (buffer_full(reader)) return line_status::needs_buffer;
                if (!fill_line_reader(reader)) return line_status::read_error;
                continue;
            }
            *line = reader->data + reader->start;
            *length = size;
            take_line_end(reader, line_end);
            reader->data[line_end] = '\0';
            return line_status::line;
        }
        if (reader->at_end) {
            if (size == 0) return line_status::end_of_input;
            // The last line has no line end.
            *line = reader->data + reader->start;
            *length = size;
            reader->data[reader->end] = '\0';
            reader->start = reader->end;
            return line_status::line;
        }
        // A line of at most max_parsed_line bytes that is not complete yet:
        // after moving it to the front there is room for a large read.
        if (buffer_full(reader)) return line_status::needs_buffer;
        if (!fill_line_reader(reader)) return line_status::read_error;
    }
}

chunk_status read_line_chunk(line_reader* reader, size_t most_bytes, size_t most_lines, char** chunk,
                             size_t* length) {
    for (;;) {
        if (reader->start == reader->end && reader->at_end) return chunk_status::end_of_input;
        char* const data = reader->data;
        const size_t start = reader->start;
        const size_t end = reader->end;
        // Past the last line end within the window whose line is known to
        // end there: a CR as the last byte read may yet be part of a CR LF.
        size_t cut = 0;
        const char* window_end = data + (end - start < most_bytes ? end : start + most_bytes);
        // A line already searched past the window (one read in many pieces)
        // is not searched again from its start for every piece.
        const bool window_searched = reader->scan > start && data + reader->scan >= window_end;
        if (most_lines > 0 && !window_searched) {
            // A few lines: looked for from the front. They make the chunk
            // when the last one's end is known (not a CR as the last byte
            // read, which may yet be part of a CR LF).
            size_t next = start;
            size_t lines = 0;
            for (; lines < most_lines && next < static_cast<size_t>(window_end - data); ++lines) {
                const size_t line_end = static_cast<size_t>(first_line_end_between(data + next, window_end) - data);
                if (line_end == static_cast<size_t>(window_end - data)) break;
                next = line_end + 1;
                if (data[line_end] == '\r') {
                    if (next < end && data[next] == '\n') {
                        ++next;
                    } else if (next == end && !reader->at_end) {
                        break;
                    }
                }
            }
            if (lines == most_lines) {
                *chunk = data + start;
                *length = next - start;
                reader->start = next;
                if (reader->scan < next) reader->scan = next;
                return chunk_status::chunk;
            }
        }
        for (const char* at = window_searched ? nullptr : last_line_end_between(data + start, window_end); at != nullptr;
             at = last_line_end_between(data + start, at)) {
            const size_t position = static_cast<size_t>(at - data);
            if (*at == '\n' || position + 1 < end || reader->at_end) {
                cut = position + 1;
                if (*at == '\r' && cut < end && data[cut] == '\n') ++cut;
                break;
            }
        }
        if (cut == 0) {
            // The first line goes on beyond the window, or is not complete.
            const size_t line_end = find_line_end(reader);
            if (line_end - start > max_parsed_line) return chunk_status::long_line;
            if (line_end < end) {
                if (!cr_awaits_next_block(reader, line_end)) {
                    cut = line_end + 1;
                    if (data[line_end] == '\r' && cut < end && data[cut] == '\n') ++cut;
                }
            } else if (reader->at_end) {
                cut = end;  // the last line, without a line end
            }
        }
        if (cut == 0) {
            if (buffer_full(reader)) return chunk_status::needs_buffer;
            if (!fill_line_reader(reader)) return chunk_status::read_error;
            continue;
        }
        if (most_lines > 0) {
            size_t next = start;
            for (size_t lines = 0; lines < most_lines && next < cut; ++lines) {
                const size_t line_end = static_cast<size_t>(first_line_end_between(data + next, data + cut) - data);
                next = line_end + 1;
                if (line_end < cut && data[line_end] == '\r' && next < cut && data[next] == '\n') ++next;
            }
            if (next < cut) cut = next;
        }
        *chunk = data + start;
        *length = cut - start;
        reader->start = cut;
        if (reader->scan < cut) reader->scan = cut;
        return chunk_status::chunk;
    }
}

void split_chunk_line(char** from, char* to, char** line, size_t* length) {
    char* const start = *from;
    char* const line_end = const_cast<char*>(first_line_end_between(start, to));
    *line = start;
    *length = static_cast<size_t>(line_end - start);
    if (line_end == to) {
        *from = to;
        return;
    }
    char* next = line_end + 1;
    if (*line_end == '\r' && next < to && *next == '\n') ++next;
    *line_end = '\0';
    *from = next;
}

piece_status read_long_line_piece(line_reader* reader, const char** piece, size_t* length) {
    for (;;) {
        if (reader->start == reader->end) {
            if (reader->at_end) {
                *piece = reader->data + reader->start;
                *length = 0;
                return piece_status::last;
            }
            if (!fill_line_reader(reader)) return piece_status::read_error;
            continue;
        }
        const size_t line_end = find_line_end(reader);
        *piece = reader->data + reader->start;
        *length = line_end - reader->start;
        if (line_end == reader->end) {
            reader->start = reader->end;
            return piece_status::more;
        }
        if (cr_awaits_next_block(reader, line_end)) {
            // Hand out what precedes the CR, then keep only the CR while
            // reading on.
            reader->start = line_end;
            if (*length > 0) return piece_status::more;
            if (!fill_line_reader(reader)) return piece_status::read_error;
            continue;
        }
        take_line_end(reader, line_end);
        return piece_status::last;
    }
}

void open_output_writer(output_writer* writer, byte_sink* sink) {
    writer->sink = sink;
    writer->failed = false;
    writer->used = 0;
}

namespace {

bool write_all(output_writer* writer, const char* bytes, size_t length) {
    while (length > 0 && !writer->failed) {
        const ssize_t count = write_sink(writer->sink, bytes, length);
        if (count > 0) {
            bytes += count;
            length -= static_cast<size_t>(count);
        } else if (count == 0 || errno != EINTR) {
            writer->failed = true;
        }
    }
    return !writer->failed;
}

}  // namespace

bool flush_output(output_writer* writer) {
    if (writer->used > 0) {
        write_all(writer, writer->data, writer->used);
        writer->used = 0;
    }
    return !writer->failed;
}

bool write_output(output_writer* writer, const char* bytes, size_t length) {
    if (writer->failed) return false;
    if (length > output_buffer_size - writer->used) {
        if (!flush_output(writer)) return false;
        // Pieces as large as the buffer itself go straight out.
        if (length >= output_buffer_size) return write_all(writer, bytes, length);
    }
    std::memcpy(writer->data + writer->used, bytes, length);
    writer->used += length;
    return true;
}

void append_output(output_writer* writer, const char* bytes, size_t length) {
    std::memcpy(writer->data + writer->used, bytes, length);
    writer->used += length;
}

char* reserve_output(output_writer* writer, size_t length) {
    if (writer->failed || length > output_buffer_size) return nullptr;
    if (length > output_buffer_size - writer->used && !flush_output(writer)) return nullptr;
    char* room = writer->data + writer->used;
    writer->used += length;
    return room;
}
