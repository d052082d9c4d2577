// Writes N made-up patient records as mintbatch input, deterministically from a
// seed (see record_generator.h).
//
// usage: generate_records N [SEED]
#include <cstdio>
#include <cstdlib>

#include "record_generator.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s N [SEED]\n", argv[0]);
        return 1;
    }
    const uint64_t count = std::strtoull(argv[1], nullptr, 10);
    const uint64_t seed = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 1;
    write_generated_records(stdout, count, seed);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
