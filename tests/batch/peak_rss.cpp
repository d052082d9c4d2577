// Runs a command and writes its peak resident set size in KiB to a file.
// usage: peak_rss RESULT_FILE COMMAND [ARGUMENT...]; exits with the command's status.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RESULT_FILE COMMAND [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return 2;
    std::FILE* result = std::fopen(argv[1], "w");
    if (result == nullptr) return 2;
    std::fprintf(result, "%ld\n", usage.ru_maxrss);
    std::fclose(result);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
