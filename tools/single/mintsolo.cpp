// mintsolo: prints the patient identifier of one record read from a file of
// keyword/value lines.
#include <cstdio>
#include <cstring>

#include "key_file.h"
#include "patient_record.h"
#include "record_file.h"

namespace {

void usage(const char* program_name) {
    std::printf("Usage:\n");
    std::printf("%s <-q> [input data filename]\n", program_name);
    std::printf("\n");
    std::printf("This program loads a single patient record from a file and generates the\n");
    std::printf("UUID for that record.  The file format is the same as that in the generated\n");
    std::printf("test vector file, plus the addition of a 'data_end' tag to mark the end\n");
    std::printf("of the record.\n");
    std::printf("\n");
    std::printf("The '-q' option runs the program in 'quiet' mode.\n");
    std::printf("This program exits 1 on failure, 0 on success.\n");
}

void further_options() {
    std::printf("\n");
    std::printf("Options (before the file name; '--' ends them):\n");
    std::printf("  -q, --quiet       print only the UUID line\n");
    std::printf("  --key-file FILE   a keyed identifier, with the secret in FILE (hex digits)\n");
    std::printf("  -h, --help        show this help\n");
    std::printf("  --version         show the program's version\n");
    std::printf("\n");
    std::printf("A file name '-' means standard input.\n");
}

// Returns the exit status. The file is left open: the program ends right after
// and releases it then.
int process_record_file(const char* file_name, int quiet, const mint::uuid_key* key) {
    FILE* input = std::strcmp(file_name, "-") == 0 ? stdin : std::fopen(file_name, "r");
    if (input == nullptr) {
        std::printf("Unable to open input file '%s'.\n", file_name);
        return 1;
    }
    if (!quiet) std::printf("Reading patient record from input file '%s'.\n", file_name);

    patient_record record;
    if (!read_patient_record(input, &record)) {
        std::printf("Unable to read patient data record from input file '%s'.\n", file_name);
        return 1;
    }
    // The record's own patient_uuid stays empty, so the dump shows no value there.
    char uuid[16];
    if (!generate_test_uuid_keyed(&record, key, uuid)) {
        std::printf("Unable to generate UUID - probably bad input data.\n");
        return 1;
    }
    if (!quiet) {
        std::printf("\n");
        std::printf("Read record data:\n");
        print_patient_record(&record);
    }
    std::printf("UUID: %s\n", uuid);
    return 0;
}

// Options come before the file name; anything after it is ignored, as it
// always was. "-h" is help only alone; anywhere else it is a file name.
int run(int argc, char** argv, held_key* key) {
    // A program started with an empty argument vector still gets a usage line.
    const char* program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "mintsolo";
    if (argc < 2 || (argc == 2 && std::strcmp(argv[1], "-h") == 0)) {
        usage(program_name);
        return 0;
    }
    int quiet = 0;
    const char* key_file = nullptr;
    int next = 1;
    for (; next < argc; ++next) {
        const char* argument = argv[next];
        if (argument[0] != '-' || argument[1] == '\0' || std::strcmp(argument, "-h") == 0) break;
        if (std::strcmp(argument, "--") == 0) {
            ++next;
            break;
        }
        if (std::strncmp(argument, "--key-file=", 11) == 0) {
            key_file = argument + 11;
        } else if (std::strcmp(argument, "--key-file") == 0) {
            if (next + 1 >= argc) {
                std::fprintf(stderr, "%s: option '%s' needs a file name\n", program_name, argument);
                usage(program_name);
                return 1;
            }
            key_file = argv[++next];
        } else if (std::strcmp(argument, "-q") == 0 || std::strcmp(argument, "--quiet") == 0) {
            quiet = 1;
        } else if (std::strcmp(argument, "--help") == 0) {
            usage(program_name);
            further_options();
            return 0;
        } else if (std::strcmp(argument, "--version") == 0) {
            std::printf("mintsolo (mint) %s\n", MINT_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "%s: unknown option '%s'\n", program_name, argument);
            usage(program_name);
            return 1;
        }
    }
    // Options without a file name are a wrong call, not a request for help.
    if (next >= argc) {
        usage(program_name);
        return 1;
    }
    // The key is read before the record file is opened. The signals that
    // end a run waiting for a record from a pipe or a terminal wipe it too.
    if (key_file == nullptr) return process_record_file(argv[next], quiet, nullptr);
    wipe_key_on_signals(key);
    if (!read_key_file(key_file, &key->key)) return 1;
    return process_record_file(argv[next], quiet, &key->key);
}

}  // namespace

int main(int argc, char** argv) {
    held_key key;  // wiped on every return
    const int status = run(argc, argv, &key);
    // The identifier is the program's whole result: if it could not be written
    // (a full disk, a closed pipe), the run failed. Standard output is what
    // broke, so this one message goes to the error stream.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("Unable to write standard output.\n", stderr);
        return 1;
    }
    return status;
}
