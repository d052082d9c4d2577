// Made-up patient records as mintbatch input, the same for the same seed on
// every platform: mostly patients with their own SSN, some covered only
// through a policy holder, some with no SSN at all (zero identifier).
#ifndef MINT_BENCH_RECORD_GENERATOR_H
#define MINT_BENCH_RECORD_GENERATOR_H

#include <cstdint>
#include <cstdio>

// Writes the header line and `count` records.
void write_generated_records(std::FILE* out, uint64_t count, uint64_t seed);

// The same records (for the same seed) as a hospital export read by name:
// the columns shuffled, a date column (%Y-%m-%d) for each birth and two
// further columns. Each record gets the identifier it gets positionally.
void write_generated_export(std::FILE* out, uint64_t count, uint64_t seed);

#endif
