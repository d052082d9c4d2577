// mintsolo: prints the patient identifier of one record read from a file of
// keyword/value lines.
#include <cstdio>
#include <cstring>

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

// Returns the exit status. The file is left open: the program ends right after
// and releases it then.
int process_record_file(const char* file_name, int quiet) {
    FILE* input = std::fopen(file_name, "r");
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
    if (!generate_test_uuid(&record, uuid)) {
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

int run(int argc, char** argv) {
    // A program started with an empty argument vector still gets a usage line.
    const char* program_name = argc > 0 && argv[0] != nullptr ? argv[0] : "mintsolo";
    if (argc < 2) {
        usage(program_name);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "-h") == 0) {
        usage(program_name);
        return 0;
    }
    if (std::strcmp(argv[1], "-q") == 0) {
        // "-q" without a file name is a wrong call, not a request for help.
        if (argc < 3) {
            usage(program_name);
            return 1;
        }
        return process_record_file(argv[2], 1);
    }
    return process_record_file(argv[1], 0);
}

}  // namespace

int main(int argc, char** argv) {
    const int status = run(argc, argv);
    // The identifier is the program's whole result: if it could not be written
    // (a full disk, a closed pipe), the run failed. Standard output is what
    // broke, so this one message goes to the error stream.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("Unable to write standard output.\n", stderr);
        return 1;
    }
    return status;
}
