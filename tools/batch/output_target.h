// The sink stage of mintbatch: the file descriptor the output is written to,
// and how it is put in place.
//
// A regular file, or a path where nothing exists yet, is written as a
// temporary file in the same directory and renamed onto the path only when
// everything was written and closed: a run that fails or is interrupted
// leaves an existing output exactly as it was and no temporary file behind.
// Standard output ("-"), pipes, FIFOs, devices, and directories where no
// temporary file can be made are written directly.
#ifndef MINT_TOOLS_BATCH_OUTPUT_TARGET_H
#define MINT_TOOLS_BATCH_OUTPUT_TARGET_H

#include <limits.h>
#include <sys/stat.h>

struct output_target {
    const char* path;
    int fd;
    int standard_output;            // the data stream, when the output is standard output; else -1
    bool replaces;                  // a temporary file, renamed onto `destination` when done
    char destination[PATH_MAX];     // where the temporary file goes
    char temporary[PATH_MAX];
};

enum class target_status { opened, cannot_open, is_input };

// True when `path` names a standard stream.
bool is_standard_stream(const char* path);

// Readies the output at `path`, before anything is printed. When it is
// standard output ("-"), the data stream is set aside for it and the
// process's own standard output is sent to standard error, so that every
// message stays out of the data.
void prepare_output_target(output_target* target, const char* path);

// Whether the output would be the input (`input` is the input's fstat),
// judged before anything is opened.
bool output_is_input(const output_target* target, const struct stat& input);

// Opens the output. A new file gets `new_file_mode` (less the umask when
// `apply_umask`); a replaced file keeps its permission bits (and its owner,
// where the process may give it away).
target_status open_output_target(output_target* target, const struct stat& input, mode_t new_file_mode,
                                 bool apply_umask);

// Closes the output and, for a temporary file, renames it into place.
// False when closing or renaming failed; the temporary file is gone then.
bool commit_output_target(output_target* target);

// Closes the output and removes a temporary file.
void abandon_output_target(output_target* target);

#endif
