// Writes N made-up patient records as mintbatch input, deterministically from a
// seed (see record_generator.h).
//
// usage: generate_records [--export] N [SEED]
//   --export: the same records as an export to read with --by-name.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "record_generator.h"

int main(int argc, char** argv) {
    const bool as_export = argc > 1 && std::strcmp(argv[1], "--export") == 0;
    if (as_export) {
        --argc;
        ++argv;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s [--export] N [SEED]\n", argv[0]);
        return 1;
    }
    const uint64_t count = std::strtoull(argv[1], nullptr, 10);
    const uint64_t seed = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 1;
    if (as_export) {
        write_generated_export(stdout, count, seed);
    } else {
        write_generated_records(stdout, count, seed);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
