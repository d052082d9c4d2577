// Runs a command and writes its wall time in seconds and its peak resident
// set size in KiB to a file, so that a benchmark times the program alone (not
// the shell that starts it). usage: run_timed RESULT_FILE COMMAND [ARGUMENT...];
// exits with the command's status.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double now_seconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RESULT_FILE COMMAND [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const double start = now_seconds();
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return 2;
    const double seconds = now_seconds() - start;
    std::FILE* result = std::fopen(argv[1], "w");
    if (result == nullptr) return 2;
    std::fprintf(result, "%.4f %ld\n", seconds, usage.ru_maxrss);
    std::fclose(result);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
