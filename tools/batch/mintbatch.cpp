// mintbatch: appends the patient identifier to every record of a CSV file.
#include <sched.h>

#include <csignal>
#include <cstdio>
#include <cstring>

#include "csv_batch.h"
#include "key_file.h"
#include "output_target.h"

namespace {

void usage(const char* program) {
    std::printf("Usage:\n");
    std::printf("%s <-v> <-vv> [input data filename] [output data filename]\n", program);
    std::printf("\n");
    std::printf("This program loads patient records from a file in CSV format, generates the\n");
    std::printf("UUID for each record, then writes the records including the UUID field to an\n");
    std::printf("output file.\n");
    std::printf("\n");
    std::printf("The '-v' and '-vv' options run the program in 'verbose' modes.\n");
    std::printf("This program exits 1 on failure, 0 on success.\n");
}

// More threads than this gain nothing by default: reading and writing the
// files, which one thread does, then take most of the time.
constexpr int default_threads_limit = 16;
// A count beyond any machine this is meant for is a typing error (and each
// thread keeps blocks of input in memory).
constexpr int most_threads = 64;

// The CPUs this process may run on, at most default_threads_limit.
int default_threads() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    const int count = CPU_COUNT(&cpus);
    return count < 1 ? 1 : count > default_threads_limit ? default_threads_limit : count;
}

// A thread count: decimal digits giving 1 to most_threads. Anything else is
// named on standard error, as an unknown option is.
bool take_threads(const char* program, const char* text, batch_options* options) {
    int value = *text == '\0' ? -1 : 0;
    for (const char* digit = text; *digit != '\0' && value >= 0; ++digit) {
        value = *digit >= '0' && *digit <= '9' ? value * 10 + (*digit - '0') : -1;
        if (value > most_threads) value = -1;
    }
    if (value < 1) {
        std::fprintf(stderr, "%s: invalid thread count '%s' (1 to %d)\n", program, text, most_threads);
        return false;
    }
    options->threads = value;
    return true;
}

void further_options() {
    std::printf("\n");
    std::printf("Options (before the file names; '--' ends them):\n");
    std::printf("  -v, --verbose     file names, one line per record and a summary; twice (or -vv):\n");
    std::printf("                    also each record's fields and why a record was refused\n");
    std::printf("  --key-only        write only 'data_record,uuid': each input line's record key\n");
    std::printf("                    as written and its identifier, one line per input line\n");
    std::printf("  --progress        show a progress line on standard error (default: when it is\n");
    std::printf("                    a terminal and the run lasts over a second)\n");
    std::printf("  --no-progress     never show it\n");
    std::printf("  --key-file FILE   keyed identifiers, with the secret in FILE (hex digits)\n");
    std::printf("  -j, --threads N   derive identifiers on N threads (default: the CPUs this\n");
    std::printf("                    process may run on, at most %d); the output is the same\n", default_threads_limit);
    std::printf("  -h, --help        show this help\n");
    std::printf("  --version         show the program's version\n");
    std::printf("\n");
    std::printf("A file name '-' means standard input or standard output; with standard output,\n");
    std::printf("every message goes to standard error. A file output is written in full to a\n");
    std::printf("temporary file beside it and renamed into place only when the run succeeds.\n");
}

enum class parsed { run, help, full_help, version, wrong };

// The value of an option that takes one: "--name=VALUE", or "--name VALUE"
// with the value in the next argument. Null when `argument` is not the option;
// sets *missing when it is but has no value.
const char* option_value(const char* argument, const char* name, int* next, int arguments, char** argv,
                         bool* missing) {
    const size_t length = std::strlen(name);
    if (std::strncmp(argument, name, length) != 0) return nullptr;
    if (argument[length] == '=') return argument + length + 1;
    if (argument[length] != '\0') return nullptr;
    if (*next == arguments) {
        *missing = true;
        return nullptr;
    }
    return argv[++*next];
}

// GNU-style options before the two file names. "-h" is help only alone, as it
// always was; anywhere else it is a file name.
parsed parse_arguments(int arguments, char** argv, batch_options* options, const char** key_file) {
    if (arguments == 0 || (arguments == 1 && std::strcmp(argv[1], "-h") == 0)) return parsed::help;
    int verbosity = 0;
    int next = 1;
    bool options_ended = false;
    for (; next <= arguments; ++next) {
        const char* argument = argv[next];
        if (argument[0] != '-' || argument[1] == '\0' || std::strcmp(argument, "-h") == 0) break;
        if (std::strcmp(argument, "--") == 0) {
            ++next;
            options_ended = true;
            break;
        }
        bool missing = false;
        if (const char* value = option_value(argument, "--key-file", &next, arguments, argv, &missing)) {
            *key_file = value;
        } else if (missing) {
            std::fprintf(stderr, "%s: option '%s' needs a file name\n", argv[0], argument);
            return parsed::wrong;
        } else if (std::strcmp(argument, "-v") == 0 || std::strcmp(argument, "--verbose") == 0) {
            verbosity += 1;
        } else if (std::strcmp(argument, "-vv") == 0) {
            verbosity += 2;
        } else if (std::strcmp(argument, "--key-only") == 0) {
            options->format = output_format::key_only;
        } else if (std::strcmp(argument, "--progress") == 0) {
            options->progress = progress_mode::on;
        } else if (std::strcmp(argument, "--no-progress") == 0) {
            options->progress = progress_mode::off;
        } else if (std::strcmp(argument, "-j") == 0 || std::strcmp(argument, "--threads") == 0) {
            if (next == arguments) {
                std::fprintf(stderr, "%s: option '%s' needs a thread count\n", argv[0], argument);
                return parsed::wrong;
            }
            if (!take_threads(argv[0], argv[++next], options)) return parsed::wrong;
        } else if (std::strncmp(argument, "-j", 2) == 0) {
            if (!take_threads(argv[0], argument + 2, options)) return parsed::wrong;
        } else if (std::strncmp(argument, "--threads=", 10) == 0) {
            if (!take_threads(argv[0], argument + 10, options)) return parsed::wrong;
        } else if (std::strcmp(argument, "--help") == 0) {
            return parsed::full_help;
        } else if (std::strcmp(argument, "--version") == 0) {
            return parsed::version;
        } else {
            std::fprintf(stderr, "%s: unknown option '%s'\n", argv[0], argument);
            return parsed::wrong;
        }
    }
    if (arguments - next + 1 != 2) {
        // An option after a file name is a common slip: name it. (Two file
        // names, the second one looking like an option, still run, as they
        // always did; after "--" every argument is a file name.)
        for (int later = next + 1; later <= arguments && !options_ended; ++later) {
            const char* argument = argv[later];
            if (argument[0] == '-' && argument[1] != '\0' && std::strcmp(argument, "--") != 0) {
                std::fprintf(stderr, "%s: options go before the file names: '%s'\n", argv[0], argument);
                break;
            }
        }
        return parsed::wrong;
    }
    options->verbosity = verbosity < 2 ? verbosity : 2;
    options->input_path = argv[next];
    options->output_path = argv[next + 1];
    return parsed::run;
}

}  // namespace

int main(int argc, char** argv) {
    char fallback_name[] = "mintbatch";
    char* fallback_argv[] = {fallback_name, nullptr};
    if (argc < 1 || argv[0] == nullptr) {
        argc = 1;
        argv = fallback_argv;
    }
    batch_options options = {nullptr, nullptr, 0, output_format::full, progress_mode::automatic, default_threads()};
    const char* key_file = nullptr;
    const parsed outcome = parse_arguments(argc - 1, argv, &options, &key_file);
    int status = 0;
    switch (outcome) {
        case parsed::help:
            usage(argv[0]);
            break;
        case parsed::full_help:
            usage(argv[0]);
            further_options();
            break;
        case parsed::version:
            std::printf("mintbatch (mint) %s\n", MINT_VERSION);
            break;
        case parsed::wrong:
            usage(argv[0]);
            status = 1;
            break;
        case parsed::run: {
            // The key is read before anything else is opened or written.
            held_key key;  // wiped on every return
            if (key_file != nullptr) {
                if (!read_key_file(key_file, &key.key)) return 1;
                options.key = &key.key;
                // A signal that ends the run wipes the key too; threads may
                // still be deriving with it, so the output is set aside first.
                wipe_key_on_signals(&key, divert_output_on_signal);
            }
            // A reader that goes away (a closed pipe) must show as a write
            // error, and a file size limit as a failed write, not a kill.
            std::signal(SIGPIPE, SIG_IGN);
            std::signal(SIGXFSZ, SIG_IGN);
            return process_csv_file(options);
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("Unable to write standard output.\n", stderr);
        return 1;
    }
    return status;
}
