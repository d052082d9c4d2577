// One CSV data line through mintbatch's parser and derivation, as the batch
// driver runs it: the per-record cost of the batch tool without its I/O.
#include <benchmark/benchmark.h>

#include "csv_record.h"
#include "patient_record.h"

namespace {

void parse_and_derive(benchmark::State& state, const char* line) {
    for (auto _ : state) {
        patient_record record;
        clear_patient_record(&record);
        char key[1000];
        int empty = 1;
        const char* position = read_csv_text_field(line, &empty, key, sizeof key);
        benchmark::DoNotOptimize(process_csv_record(position, &record, 0));
        benchmark::DoNotOptimize(record.patient_uuid);
    }
}

BENCHMARK_CAPTURE(parse_and_derive, patient_key, "100001,Mary Smith,123-45-6789,2,1970,1,31,,,,,,");
BENCHMARK_CAPTURE(parse_and_derive, policy_key,
                  "100002,Liam Smith,,1,2010,5,3,\"Smith, Mark\",987654321,1,1980,7,4");
BENCHMARK_CAPTURE(parse_and_derive, policy_key_bare,
                  "100002,Liam Smith,,1,2010,5,3,Mark Smith,987654321,1,1980,7,4");
BENCHMARK_CAPTURE(parse_and_derive, zero_identifier, "100003,Linda Rodriguez,,1,1958,2,14,,,,,,");

}  // namespace
