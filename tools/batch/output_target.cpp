#include "output_target.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// The temporary file an interruption must remove. Set while one exists.
char pending_temporary[PATH_MAX];
volatile sig_atomic_t temporary_exists = 0;

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_temporary_and_die(int signal_number) {
    if (temporary_exists) unlink(pending_temporary);
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// What each signal did before it was watched: a signal the process was
// started to ignore (nohup, a background job) stays ignored.
void (*earlier_handlers[std::size(cleanup_signals)])(int);

void watch_signals(const char* temporary) {
    std::memcpy(pending_temporary, temporary, std::strlen(temporary) + 1);
    temporary_exists = 1;
    for (size_t i = 0; i < std::size(cleanup_signals); ++i) {
        earlier_handlers[i] = std::signal(cleanup_signals[i], remove_temporary_and_die);
        if (earlier_handlers[i] == SIG_IGN) std::signal(cleanup_signals[i], SIG_IGN);
    }
}

void unwatch_signals() {
    for (size_t i = 0; i < std::size(cleanup_signals); ++i) std::signal(cleanup_signals[i], earlier_handlers[i]);
    temporary_exists = 0;
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

mode_t apply_process_umask(mode_t mode) {
    const mode_t mask = umask(0);
    umask(mask);
    return mode & ~mask;
}

// Where the output should be created: the path itself, or the file a
// symbolic link at the path leads to, so that the link stays a link. False
// when the output cannot be replaced by renaming (not a regular file, a
// dangling link, a path too long).
bool replaceable_destination(const char* path, char (&destination)[PATH_MAX], bool* exists, struct stat* existing) {
    struct stat link_stat;
    if (lstat(path, &link_stat) != 0) {
        *exists = false;
        if (std::strlen(path) >= sizeof destination) return false;
        std::strcpy(destination, path);
        return true;
    }
    *exists = true;
    if (S_ISLNK(link_stat.st_mode)) {
        if (realpath(path, destination) == nullptr) return false;
    } else {
        if (std::strlen(path) >= sizeof destination) return false;
        std::strcpy(destination, path);
    }
    return stat(destination, existing) == 0 && S_ISREG(existing->st_mode);
}

// Creates the temporary file beside `destination`, named after it and hidden.
int create_temporary(output_target* target) {
    const char* slash = std::strrchr(target->destination, '/');
    const int directory_length = slash != nullptr ? static_cast<int>(slash - target->destination + 1) : 0;
    const char* base = target->destination + directory_length;
    const int written = std::snprintf(target->temporary, sizeof target->temporary, "%.*s.%s.XXXXXX",
                                      directory_length, target->destination, base);
    if (written < 0 || static_cast<size_t>(written) >= sizeof target->temporary) return -1;
    // Signals are watched before the file exists, so that none slips between.
    watch_signals(target->temporary);
    const int fd = mkostemp(target->temporary, O_CLOEXEC);
    if (fd < 0) {
        unwatch_signals();
        return -1;
    }
    std::memcpy(pending_temporary, target->temporary, sizeof pending_temporary);
    return fd;
}

// Writes straight into the path. The open does not truncate: only once the
// descriptor is known not to be the input (whatever the path leads to by
// now) is a regular file emptied.
target_status open_directly(output_target* target, const char* path, const struct stat& input, mode_t mode) {
    target->fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, mode);
    if (target->fd < 0) return target_status::cannot_open;
    struct stat output;
    if (fstat(target->fd, &output) != 0) return target_status::cannot_open;
    if (same_file(input, output)) {
        close(target->fd);
        target->fd = -1;
        return target_status::is_input;
    }
    if (S_ISREG(output.st_mode) && ftruncate(target->fd, 0) != 0) return target_status::cannot_open;
    return target_status::opened;
}

}  // namespace

bool is_standard_stream(const char* path) {
    return std::strcmp(path, "-") == 0;
}

void prepare_output_target(output_target* target, const char* path) {
    target->path = path;
    target->fd = -1;
    target->standard_output = -1;
    target->replaces = false;
    target->temporary[0] = '\0';
    if (!is_standard_stream(path)) return;
    std::fflush(stdout);
    const int data = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (data >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) target->standard_output = data;
}

bool output_is_input(const output_target* target, const struct stat& input) {
    struct stat output;
    if (is_standard_stream(target->path)) {
        return target->standard_output >= 0 && fstat(target->standard_output, &output) == 0 &&
               S_ISREG(output.st_mode) && same_file(input, output);
    }
    return stat(target->path, &output) == 0 && same_file(input, output);
}

target_status open_output_target(output_target* target, const struct stat& input, mode_t new_file_mode,
                                 bool apply_umask) {
    if (is_standard_stream(target->path)) {
        if (target->standard_output < 0) return target_status::cannot_open;
        target->fd = target->standard_output;
        return target_status::opened;
    }
    const char* path = target->path;
    const mode_t mode = apply_umask ? apply_process_umask(new_file_mode) : new_file_mode;
    bool exists = false;
    struct stat existing;
    if (replaceable_destination(path, target->destination, &exists, &existing)) {
        const int fd = create_temporary(target);
        if (fd >= 0) {
            target->fd = fd;
            target->replaces = true;
            // A replaced file keeps its owner where the process may give it
            // away, and its permission bits. A failure leaves the temporary
            // file's own owner and 0600, the safe side.
            if (exists && (existing.st_uid != geteuid() || existing.st_gid != getegid())) {
                // (Fortified builds warn on a result cast to void.)
                [[maybe_unused]] const int chown_status = fchown(fd, existing.st_uid, existing.st_gid);
            }
            (void)fchmod(fd, exists ? existing.st_mode & 07777 : mode);
            return target_status::opened;
        }
    }
    return open_directly(target, path, input, mode);
}

bool commit_output_target(output_target* target) {
    bool done = close(target->fd) == 0;
    target->fd = -1;
    if (!target->replaces) return done;
    if (done && rename(target->temporary, target->destination) != 0) done = false;
    if (!done) unlink(target->temporary);
    unwatch_signals();
    target->replaces = false;
    return done;
}

void abandon_output_target(output_target* target) {
    if (target->fd >= 0) close(target->fd);
    target->fd = -1;
    if (target->replaces) {
        unlink(target->temporary);
        unwatch_signals();
        target->replaces = false;
    }
}
