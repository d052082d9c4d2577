// Block-buffered line input and output for mintbatch.
//
// Input is read in large blocks and cut into lines in place. A line ends at a
// line feed, at a carriage return followed by a line feed, or at a lone
// carriage return; the last line of a file may have no end. A line of up to
// max_parsed_line bytes is handed out whole; a longer one is handed out in
// pieces, so no line, however long, is ever held whole in memory.
#ifndef MINT_TOOLS_BATCH_LINE_STREAM_H
#define MINT_TOOLS_BATCH_LINE_STREAM_H

#include <cstddef>
#include <cstdint>

// The longest line (without its end) that is handed out whole.
constexpr size_t max_parsed_line = 64 * 1024;

// Bytes of input held at once. The first read of a regular file reads exactly
// this much (less when the file is shorter).
constexpr size_t input_block_size = 4 * max_parsed_line;

constexpr size_t output_buffer_size = 128 * 1024;

// Bytes after a handed-out line's terminator that may be read, so that a
// scanner can take whole vectors; their values mean nothing.
constexpr size_t line_read_slack = 128;

// Bytes after reserved output room that may be written (and are then
// overwritten or never written out), so that a copy can store whole vectors.
constexpr size_t output_write_slack = 32;

// Where input bytes come from: a file descriptor, or bytes in memory (for
// tests and fuzzing) handed out as a pipe or a failing device would: at most
// `most_per_read` bytes a read (0: as many as fit), and a read error once
// `fails_after` bytes have been read.
struct byte_source {
    int fd;  // -1: the bytes in memory
    const char* bytes;
    size_t size;
    size_t taken;
    size_t most_per_read;
    size_t fails_after;
};

byte_source file_source(int fd);
byte_source memory_source(const char* bytes, size_t size);

// Where output bytes go: a file descriptor, or a buffer in memory (for tests
// and fuzzing) that fails a write as a full disk does once it is full.
struct byte_sink {
    int fd;  // -1: the buffer
    char* bytes;
    size_t capacity;
    size_t size;
};

byte_sink file_sink(int fd);
byte_sink memory_sink(char* bytes, size_t capacity);

// A reader's buffer: a block, one more byte for the terminator of a last
// line, then the read slack.
constexpr size_t reader_buffer_size = input_block_size + 1 + line_read_slack;

struct line_reader {
    byte_source* source;
    bool at_end;  // a read has returned end of input
    int64_t bytes_read;
    // data[start, end) is read but not yet handed out.
    size_t start;
    size_t end;
    // No CR or LF lies in data[start, scan): each byte is searched for a
    // line end only once, however often a line waits for more input.
    size_t scan;
    // The buffer: `own`, or one lent by move_line_reader.
    char* data;
    // Lines handed out from `data` are still in use elsewhere, so what is
    // unread must not be moved within it: reading goes on in the room behind
    // the data, and once there is none needs another buffer
    // (line_status::needs_buffer).
    bool pinned;
    // Bytes a read asks for at most (0: as many as fit), so that a thread
    // reads what it goes on to work on, while the data is in its cache.
    size_t most_per_read;
    // data[end, zero_until) holds zeros.
    size_t zero_until;
    char own[reader_buffer_size];
};

enum class line_status { line, long_line, end_of_input, read_error, needs_buffer };

void open_line_reader(line_reader* reader, byte_source* source);

// Reads more input behind what is unread, moving that to the front first.
// Returns false on a read error.
bool fill_line_reader(line_reader* reader);

// The next line. line_status::line: *line points to its `length` bytes, which
// stay valid until the next call; the line end is replaced by a terminator.
// line_status::long_line: the line is longer than max_parsed_line and nothing
// of it has been taken yet; read it with read_long_line_piece.
// line_status::needs_buffer (only when pinned): the line goes on beyond the
// buffer's end, and reading on needs move_line_reader first.
//
// A pinned reader never writes to the bytes of lines it has handed out (nor
// to their terminators), so other threads may read those while it reads on.
line_status read_text_line(line_reader* reader, char** line, size_t* length);

// Goes on in `buffer` (reader_buffer_size bytes), which takes what is unread;
// the reader is no longer pinned.
void move_line_reader(line_reader* reader, char* buffer);

enum class chunk_status { chunk, long_line, end_of_input, read_error, needs_buffer };

// The next run of whole lines, as they are (their line ends not replaced),
// for a caller that cuts them itself (split_chunk_line): within about
// `most_bytes` bytes, or the first line alone when it is longer, and at most
// `most_lines` lines (0: any number). Cut into lines, a chunk gives exactly
// the lines read_text_line hands out. line_status's other answers mean what
// they mean there; a line too long to parse is taken with
// read_long_line_piece. The chunk's bytes stay where they are until the
// reader is moved or reads on without being pinned; the reader writes
// nothing into them.
chunk_status read_line_chunk(line_reader* reader, size_t most_bytes, size_t most_lines, char** chunk,
                             size_t* length);

// The first line of a chunk's rest [*from, to): *line and *length, with its
// line end replaced by a terminator (the last line of the input, which may
// have no line end, is followed by one already). *from moves past it.
// Reads nothing at or beyond `to`.
void split_chunk_line(char** from, char* to, char** line, size_t* length);

enum class piece_status { more, last, read_error };

// The next piece of a long line (possibly empty): piece_status::more while the
// line goes on, piece_status::last when this piece ends it (its line end, if
// any, has been taken).
piece_status read_long_line_piece(line_reader* reader, const char** piece, size_t* length);

struct output_writer {
    byte_sink* sink;
    bool failed;  // a write has failed; nothing more is written
    size_t used;
    char data[output_buffer_size + output_write_slack];
};

void open_output_writer(output_writer* writer, byte_sink* sink);

// Appends bytes, writing the buffer out when it is full. Returns false once
// any write has failed.
bool write_output(output_writer* writer, const char* bytes, size_t length);

// Room for `length` bytes (at most output_buffer_size) at the end of the
// buffered output, for the caller to fill before the next write or flush,
// followed by output_write_slack bytes it may scribble on: what is buffered
// before it is written out first if there is too little room. Null once any
// write has failed.
char* reserve_output(output_writer* writer, size_t length);

// Writes out everything buffered. Returns false once any write has failed.
bool flush_output(output_writer* writer);

// Room left in the buffer, and bytes appended to it that fit there: what
// reserve_output and write_output do for pieces that fit, for a caller that
// appends several at once.
inline size_t output_room(const output_writer* writer) {
    return output_buffer_size - writer->used;
}
void append_output(output_writer* writer, const char* bytes, size_t length);

#endif
