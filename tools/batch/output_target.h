// The sink stage of mintbatch: the file descriptor the output is written to,
// and how it is put in place.
//
// A path that is a regular file, or where nothing exists yet, is written as
// a temporary file in the same directory, flushed to disk and renamed onto
// the path only when everything was written and closed: a run that fails,
// is interrupted or loses power leaves an existing output exactly as it was
// and no temporary file behind. A symbolic link is opened first, so that
// the kernel decides whether it may be followed, and the regular file that
// open reached is replaced the same way, in its own directory.
// Standard output ("-") and the names of open descriptors (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N) are written through that descriptor, at its
// own position, as the shell's redirections are. Every other path (a pipe,
// a FIFO, a device, a link to one, a directory where no temporary file can
// be made) is opened and written directly, and the kernel decides whether
// it may be.
#ifndef MINT_TOOLS_BATCH_OUTPUT_TARGET_H
#define MINT_TOOLS_BATCH_OUTPUT_TARGET_H

#include <limits.h>
#include <sys/stat.h>

struct output_target {
    const char* path;
    int fd;
    // A duplicate of the descriptor the path names ("-", /dev/fd/N and the
    // like), written directly; -1 when it names none or that one is closed.
    int stream;
    bool names_stream;
    bool replaces;                // a temporary file, renamed onto `name` in `directory` when done
    int directory;                // the output's directory while a temporary file is in it; else -1
    const char* name;             // the output's last path component
    char resolved[PATH_MAX];      // where the kernel's open of a linked output landed
    char temporary[NAME_MAX + 1]; // the temporary file's name in `directory`
    int slot;                     // where a signal handler finds it while it is open; else -1
};

enum class target_status { opened, cannot_open, is_input, another_users_file };

// True when `path` names a standard stream.
bool is_standard_stream(const char* path);

// Readies the output at `path`, before anything is printed. When it is
// standard output ("-", /dev/stdout, /dev/fd/1, /proc/self/fd/1), the data
// stream is set aside for it and the process's own standard output is sent
// to standard error, so that every message stays out of the data.
void prepare_output_target(output_target* target, const char* path);

// Whether the output would be the input (`input` is the input's fstat),
// judged before anything is opened.
bool output_is_input(const output_target* target, const struct stat& input);

// Opens the output. A run interrupted by SIGINT, SIGTERM or SIGHUP while a
// temporary file exists removes it, then does what the signal did before
// (the program's own handler, or the end of the process). A new file gets `new_file_mode` (less the umask when
// `apply_umask`). A replaced file of the user's own, outside a sticky
// directory, keeps its permission bits and group; any other replaced file
// becomes the user's own, with the bits both it and a new file would have,
// so that the output is never handed to another user nor made readable by
// more people. another_users_file: the path is another user's file in a
// sticky directory, which the rename at the end could not replace.
target_status open_output_target(output_target* target, const struct stat& input, mode_t new_file_mode,
                                 bool apply_umask);

// Says on standard output why the output (`kind`: "output" or "report")
// could not be opened, as open_output_target answered.
void print_open_failure(target_status status, const char* kind, const char* path);

// Closes the output and, for a temporary file, flushes it to disk, renames it
// into place and flushes the directory. False when flushing, closing or
// renaming failed; the temporary file is gone then.
bool commit_output_target(output_target* target);

// Closes the output and removes a temporary file.
void abandon_output_target(output_target* target);

// Points every open output's descriptor at /dev/null, so that nothing written
// from now on reaches it; safe in a signal handler. For a handler about to
// make what threads still write wrong (wiping the key) before the process
// ends by the signal.
void divert_output_on_signal();

#endif
