#include "output_target.h"

#include <fcntl.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// The outputs open at once (a run's output and its report), each in a slot
// that a signal handler reads: its descriptor, and its temporary file, which
// an interruption must remove, while one exists.
struct open_slot {
    bool used;
    volatile sig_atomic_t fd;
    volatile sig_atomic_t temporary_exists;
    int directory;
    char temporary[NAME_MAX + 1];
};
constexpr int most_open_outputs = 4;
open_slot slots[most_open_outputs];

constexpr int cleanup_signals[] = {SIGINT, SIGTERM, SIGHUP};

// What each signal did before it was watched: a signal the process was
// started to ignore (nohup, a background job) stays ignored.
void (*earlier_handlers[std::size(cleanup_signals)])(int);
int watching = 0;  // temporary files being watched for

extern "C" void remove_temporary_and_die(int signal_number) {
    for (open_slot& slot : slots) {
        if (slot.temporary_exists) unlinkat(slot.directory, slot.temporary, 0);
    }
    // Then whatever the signal did before (a handler of the program's own,
    // or the default: the end of the process), raised again once this
    // handler returns.
    void (*earlier)(int) = SIG_DFL;
    for (size_t i = 0; i < std::size(cleanup_signals); ++i) {
        if (cleanup_signals[i] == signal_number) earlier = earlier_handlers[i];
    }
    std::signal(signal_number, earlier);
    raise(signal_number);
}

void watch_signals() {
    if (watching++ > 0) return;
    for (size_t i = 0; i < std::size(cleanup_signals); ++i) {
        earlier_handlers[i] = std::signal(cleanup_signals[i], remove_temporary_and_die);
        if (earlier_handlers[i] == SIG_IGN) std::signal(cleanup_signals[i], SIG_IGN);
    }
}

void unwatch_signals(open_slot* slot) {
    slot->temporary_exists = 0;
    if (--watching > 0) return;
    for (size_t i = 0; i < std::size(cleanup_signals); ++i) std::signal(cleanup_signals[i], earlier_handlers[i]);
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

mode_t apply_process_umask(mode_t mode) {
    const mode_t mask = umask(0);
    umask(mask);
    return mode & ~mask;
}

// The descriptor a path names, as the shell's redirections read these names:
// "-" and /dev/stdout for 1, /dev/stderr for 2, /dev/fd/N, /proc/self/fd/N.
// -1 for any other path. Opening such a path would make a new open file of
// what the descriptor leads to, at its start, and lose what was written to
// it before and where it appends.
int named_descriptor(const char* path) {
    if (std::strcmp(path, "-") == 0 || std::strcmp(path, "/dev/stdout") == 0) return STDOUT_FILENO;
    if (std::strcmp(path, "/dev/stderr") == 0) return STDERR_FILENO;
    for (const char* directory : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
        const size_t length = std::strlen(directory);
        if (std::strncmp(path, directory, length) != 0) continue;
        const char* digits = path + length;
        // As the kernel reads them: decimal, no sign, no leading zero.
        if (*digits == '\0' || (digits[0] == '0' && digits[1] != '\0')) return -1;
        long value = 0;
        for (const char* digit = digits; *digit != '\0'; ++digit) {
            if (*digit < '0' || *digit > '9') return -1;
            value = value * 10 + (*digit - '0');
            if (value > INT_MAX) return -1;
        }
        return static_cast<int>(value);
    }
    return -1;
}

// Creates the file `temporary` in `directory`, with the signals that remove
// it held back meanwhile, so that one arriving finds it either not made or
// made and known (and never removes a file of that name that was there).
int create_file_watched(open_slot* slot, int directory, const char* temporary) {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal_number : cleanup_signals) sigaddset(&held, signal_number);
    sigset_t earlier;
    sigprocmask(SIG_BLOCK, &held, &earlier);
    std::memcpy(slot->temporary, temporary, std::strlen(temporary) + 1);
    slot->directory = directory;
    const int fd = openat(directory, temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int open_error = errno;
    if (fd >= 0) slot->temporary_exists = 1;
    sigprocmask(SIG_SETMASK, &earlier, nullptr);
    errno = open_error;
    return fd;
}

// Makes a new file named after `name`, hidden and with six random letters,
// in `directory`; the name always fits in NAME_MAX bytes, however long
// `name` is. Signals are watched before the file exists, so that none slips
// between.
int create_temporary(open_slot* slot, int directory, const char* name, char (&temporary)[NAME_MAX + 1]) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr int random_letters = 6;
    constexpr int longest_part = NAME_MAX - 2 - random_letters;  // two dots
    const int written = std::snprintf(temporary, sizeof temporary, ".%.*s.", longest_part, name);
    if (written < 0 || written + random_letters >= static_cast<int>(sizeof temporary)) return -1;
    char* const random_part = temporary + written;
    watch_signals();
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char random[random_letters];
        if (getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
            // Early in boot: the clock and the attempt still vary the name,
            // and O_EXCL keeps it from being anyone else's file.
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            uint64_t mixed = static_cast<uint64_t>(now.tv_nsec) ^ static_cast<uint64_t>(getpid()) << 32 ^
                             static_cast<uint64_t>(attempt) * 2654435761u;
            for (unsigned char& byte : random) {
                byte = static_cast<unsigned char>(mixed);
                mixed = mixed >> 8 | mixed << 56;
            }
        }
        for (int i = 0; i < random_letters; ++i) random_part[i] = letters[random[i] % (sizeof letters - 1)];
        random_part[random_letters] = '\0';
        const int fd = create_file_watched(slot, directory, temporary);
        if (fd >= 0) return fd;
        if (errno != EEXIST) break;
    }
    unwatch_signals(slot);
    return -1;
}

// Opens the directory that `path`'s last component is in, and points
// `target->name` at that component. The kernel follows any links on the
// way, as it vets them. -1 when the path ends in a slash, is too long, or
// its directory cannot be opened. The directory is read-only when it may
// be, so that it can be flushed to disk after the rename.
int open_output_directory(output_target* target, const char* path) {
    const char* slash = std::strrchr(path, '/');
    target->name = slash != nullptr ? slash + 1 : path;
    if (*target->name == '\0') return -1;
    char directory_path[PATH_MAX];
    if (slash == nullptr) {
        std::strcpy(directory_path, ".");
    } else {
        const size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
        if (length >= sizeof directory_path) return -1;
        std::memcpy(directory_path, path, length);
        directory_path[length] = '\0';
    }
    const int directory = open(directory_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory >= 0) return directory;
    return open(directory_path, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// For an output name that is a symbolic link: the path of the regular file
// the kernel's own open of the name reaches (following the link only where
// the kernel lets this user, fs.protected_symlinks), in `target->resolved`,
// and that file's identity in `reached`. False when the open fails, reaches
// something else, or the kernel cannot say where it landed; the name is then
// written directly, as the shell's ">" would.
bool reach_linked_file(output_target* target, struct stat* reached) {
    const int fd = open(target->path, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool found = fstat(fd, reached) == 0 && S_ISREG(reached->st_mode);
    if (found) {
        char descriptor_path[64];
        std::snprintf(descriptor_path, sizeof descriptor_path, "/proc/self/fd/%d", fd);
        const ssize_t length = readlink(descriptor_path, target->resolved, sizeof target->resolved - 1);
        found = length > 0 && target->resolved[0] == '/' && static_cast<size_t>(length) < sizeof target->resolved - 1;
        if (found) target->resolved[length] = '\0';
    }
    close(fd);
    return found;
}

// Whether renaming onto another user's file is bound to fail: in a sticky
// directory only the file's owner, the directory's owner and root may
// replace it (the rename would fail after the whole run).
bool rename_refused(const struct stat& directory, const struct stat& existing) {
    const uid_t user = geteuid();
    return (directory.st_mode & S_ISVTX) != 0 && existing.st_uid != user && directory.st_uid != user && user != 0;
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

void close_directory(output_target* target) {
    if (target->directory >= 0) close(target->directory);
    target->directory = -1;
}

}  // namespace

bool is_standard_stream(const char* path) {
    return std::strcmp(path, "-") == 0;
}

void prepare_output_target(output_target* target, const char* path) {
    target->path = path;
    target->fd = -1;
    target->stream = -1;
    target->replaces = false;
    target->directory = -1;
    target->name = path;
    target->temporary[0] = '\0';
    target->slot = -1;
    const int named = named_descriptor(path);
    target->names_stream = named >= 0;
    if (named < 0) return;
    if (named != STDOUT_FILENO) {
        target->stream = fcntl(named, F_DUPFD_CLOEXEC, 3);
        return;
    }
    std::fflush(stdout);
    const int data = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (data >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) >= 0) target->stream = data;
}

bool output_is_input(const output_target* target, const struct stat& input) {
    struct stat output;
    if (target->names_stream) {
        return target->stream >= 0 && fstat(target->stream, &output) == 0 && S_ISREG(output.st_mode) &&
               same_file(input, output);
    }
    return stat(target->path, &output) == 0 && same_file(input, output);
}

namespace {

target_status open_output_file(output_target* target, const struct stat& input, mode_t new_file_mode,
                               bool apply_umask) {
    if (target->names_stream) {
        if (target->stream < 0) return target_status::cannot_open;
        target->fd = target->stream;
        return target_status::opened;
    }
    const mode_t mode = apply_umask ? apply_process_umask(new_file_mode) : new_file_mode;
    target->directory = open_output_directory(target, target->path);
    struct stat directory;
    struct stat existing;
    bool exists = false;
    bool replaceable = false;
    // What the name itself is, its last link not followed: only a regular
    // file, or nothing, is replaced, so that the very file found here is
    // the one the rename replaces. A link is replaced through the file the
    // kernel's open of it reaches, when that is a regular file still found
    // under the name the kernel gives for it: the link stays a link.
    if (target->directory >= 0 && fstat(target->directory, &directory) == 0) {
        if (fstatat(target->directory, target->name, &existing, AT_SYMLINK_NOFOLLOW) == 0) {
            exists = true;
            replaceable = S_ISREG(existing.st_mode);
            struct stat reached;
            if (S_ISLNK(existing.st_mode) && reach_linked_file(target, &reached)) {
                close_directory(target);
                target->directory = open_output_directory(target, target->resolved);
                replaceable = target->directory >= 0 && fstat(target->directory, &directory) == 0 &&
                              fstatat(target->directory, target->name, &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
                              same_file(existing, reached);
            }
        } else {
            replaceable = errno == ENOENT;
        }
    }
    if (replaceable && exists && rename_refused(directory, existing)) {
        close_directory(target);
        return target_status::another_users_file;
    }
    const int fd = replaceable ? create_temporary(&slots[target->slot], target->directory, target->name, target->temporary)
                               : -1;
    if (fd < 0) {
        close_directory(target);
        return open_directly(target, target->path, input, mode);
    }
    target->fd = fd;
    target->replaces = true;
    // The user's own file outside a sticky directory keeps its group and
    // bits. Any other becomes the user's, with no bit that a new file or the
    // old one lacks. A failure leaves the temporary file's own group and
    // 0600, the safe side.
    const bool own = exists && existing.st_uid == geteuid() && (directory.st_mode & S_ISVTX) == 0;
    if (own) {
        if (existing.st_gid != getegid()) {
            // (Fortified builds warn on a result cast to void.)
            [[maybe_unused]] const int chown_status = fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
        }
        (void)fchmod(fd, existing.st_mode & 07777);
    } else {
        (void)fchmod(fd, exists ? mode & existing.st_mode & 0777 : mode);
    }
    return target_status::opened;
}

}  // namespace

target_status open_output_target(output_target* target, const struct stat& input, mode_t new_file_mode,
                                 bool apply_umask) {
    target->slot = -1;
    for (int i = 0; i < most_open_outputs && target->slot < 0; ++i) {
        if (!slots[i].used) target->slot = i;
    }
    if (target->slot < 0) return target_status::cannot_open;  // more outputs than a run opens
    open_slot& slot = slots[target->slot];
    slot.used = true;
    const target_status status = open_output_file(target, input, new_file_mode, apply_umask);
    if (status == target_status::opened) {
        slot.fd = target->fd;
    } else {
        slot.used = false;
        target->slot = -1;
    }
    return status;
}

void divert_output_on_signal() {
    for (const open_slot& slot : slots) {
        const int output = slot.fd;
        if (!slot.used || output < 0) continue;
        const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (null < 0) return;
        dup2(null, output);
        close(null);
    }
}

namespace {

// The slot of an output that is being closed.
void release_slot(output_target* target) {
    if (target->slot < 0) return;
    slots[target->slot].fd = -1;
    slots[target->slot].used = false;
    target->slot = -1;
}

}  // namespace

void print_open_failure(target_status status, const char* kind, const char* path) {
    if (status == target_status::is_input) {
        std::printf("Unable to write %s file '%s': it is the input file.\n", kind, path);
    } else if (status == target_status::another_users_file) {
        std::printf("Unable to write %s file '%s': it is another user's file in a sticky directory.\n", kind, path);
    } else {
        std::printf("Unable to open %s file '%s'.\n", kind, path);
    }
}

bool commit_output_target(output_target* target) {
    // The data reaches the disk before the name does, so that a power cut
    // leaves the old file or the whole new one, never an empty one.
    bool done = !target->replaces || fsync(target->fd) == 0;
    open_slot* const slot = target->slot >= 0 ? &slots[target->slot] : nullptr;
    if (slot != nullptr) slot->fd = -1;
    done = close(target->fd) == 0 && done;
    target->fd = -1;
    if (!target->replaces) {
        release_slot(target);
        return done;
    }
    if (done && renameat(target->directory, target->temporary, target->directory, target->name) != 0) done = false;
    if (done) {
        // The rename made lasting. A failure here (a directory that could
        // not be opened for reading, a file system that cannot) risks only
        // the old file coming back whole after a crash.
        (void)fsync(target->directory);
    } else {
        unlinkat(target->directory, target->temporary, 0);
    }
    unwatch_signals(slot);
    release_slot(target);
    close_directory(target);
    target->replaces = false;
    return done;
}

void abandon_output_target(output_target* target) {
    if (target->slot >= 0) slots[target->slot].fd = -1;
    if (target->fd >= 0) close(target->fd);
    target->fd = -1;
    if (target->replaces) {
        unlinkat(target->directory, target->temporary, 0);
        unwatch_signals(&slots[target->slot]);
        target->replaces = false;
    }
    release_slot(target);
    close_directory(target);
}
