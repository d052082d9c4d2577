#include "line_stream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

void open_line_reader(line_reader* reader, int fd) {
    reader->fd = fd;
    reader->at_end = false;
    reader->start = 0;
    reader->end = 0;
    reader->cr_scan = 0;
    reader->lf_scan = 0;
    // Defined values, though nothing depends on them.
    std::memset(reader->data + input_block_size + 1, 0, line_read_slack);
}

bool fill_line_reader(line_reader* reader) {
    if (reader->start > 0) {
        const size_t kept = reader->end - reader->start;
        std::memmove(reader->data, reader->data + reader->start, kept);
        reader->cr_scan = reader->cr_scan > reader->start ? reader->cr_scan - reader->start : 0;
        reader->lf_scan = reader->lf_scan > reader->start ? reader->lf_scan - reader->start : 0;
        reader->start = 0;
        reader->end = kept;
    }
    for (;;) {
        const ssize_t count = read(reader->fd, reader->data + reader->end, input_block_size - reader->end);
        if (count > 0) {
            reader->end += static_cast<size_t>(count);
            return true;
        }
        if (count == 0) {
            reader->at_end = true;
            return true;
        }
        if (errno != EINTR) return false;
    }
}

namespace {

// Position of the first `byte` in the unread data, or reader->end.
size_t find_unread(const line_reader* reader, size_t* scan, char byte) {
    size_t position = *scan < reader->start ? reader->start : *scan;
    if (position < reader->end && reader->data[position] != byte) {
        const void* hit = std::memchr(reader->data + position, byte, reader->end - position);
        position = hit != nullptr ? static_cast<size_t>(static_cast<const char*>(hit) - reader->data) : reader->end;
    }
    *scan = position;
    return position;
}

size_t find_line_end(line_reader* reader) {
    const size_t cr = find_unread(reader, &reader->cr_scan, '\r');
    const size_t lf = find_unread(reader, &reader->lf_scan, '\n');
    return cr < lf ? cr : lf;
}

// A CR as the last byte read may be the first half of a CR LF; only more
// input tells.
bool cr_awaits_next_block(const line_reader* reader, size_t line_end) {
    return reader->data[line_end] == '\r' && line_end + 1 == reader->end && !reader->at_end;
}

// Moves the read position past the line end at `line_end`.
void take_line_end(line_reader* reader, size_t line_end) {
    size_t next = line_end + 1;
    if (reader->data[line_end] == '\r' && next < reader->end && reader->data[next] == '\n') ++next;
    reader->start = next;
}

}  // namespace

line_status read_text_line(line_reader* reader, char** line, size_t* length) {
    for (;;) {
        const size_t line_end = find_line_end(reader);
        const size_t size = line_end - reader->start;
        if (size > max_parsed_line) return line_status::long_line;
        if (line_end < reader->end) {
            if (cr_awaits_next_block(reader, line_end)) {
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
        if (!fill_line_reader(reader)) return line_status::read_error;
    }
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

void open_output_writer(output_writer* writer, int fd) {
    writer->fd = fd;
    writer->failed = false;
    writer->used = 0;
}

namespace {

bool write_all(output_writer* writer, const char* bytes, size_t length) {
    while (length > 0 && !writer->failed) {
        const ssize_t count = write(writer->fd, bytes, length);
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

char* reserve_output(output_writer* writer, size_t length) {
    if (writer->failed || length > output_buffer_size) return nullptr;
    if (length > output_buffer_size - writer->used && !flush_output(writer)) return nullptr;
    char* room = writer->data + writer->used;
    writer->used += length;
    return room;
}
