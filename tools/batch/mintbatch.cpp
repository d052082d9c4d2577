// mintbatch: appends the patient identifier to every record of a CSV file.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "csv_batch.h"

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

bool is_verbosity_option(const char* argument) {
    return std::strcmp(argument, "-v") == 0 || std::strcmp(argument, "-vv") == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* program = argc > 0 && argv[0] != nullptr ? argv[0] : "mintbatch";
    const int arguments = argc > 0 ? argc - 1 : 0;

    // Help that was asked for succeeds; a command line that does not fit fails.
    if (arguments == 0 || (arguments == 1 && std::strcmp(argv[1], "-h") == 0)) {
        usage(program);
        return 0;
    }
    int verbosity = 0;
    const char* input_path = nullptr;
    const char* output_path = nullptr;
    if (arguments == 2 && !is_verbosity_option(argv[1])) {
        input_path = argv[1];
        output_path = argv[2];
    } else if (arguments == 3 && is_verbosity_option(argv[1])) {
        verbosity = std::strcmp(argv[1], "-v") == 0 ? 1 : 2;
        input_path = argv[2];
        output_path = argv[3];
    } else {
        usage(program);
        return 1;
    }
    // A reader that goes away (a closed pipe) must show as a write error.
    std::signal(SIGPIPE, SIG_IGN);
    return process_csv_file(input_path, output_path, verbosity);
}
