// One CSV data line through mintbatch's parser and derivation, as the batch
// driver runs it: the per-record cost of the batch tool without its I/O.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "csv_fast.h"
#include "csv_record.h"
#include "patient_record.h"
#include "record_generator.h"

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

// The quick route that silent runs take, on the same lines. The line is
// copied into a buffer with the slack the route may read.
void quick_route(benchmark::State& state, const char* text) {
    std::vector<char> line(std::strlen(text) + 1 + csv_line_slack, '\0');
    std::memcpy(line.data(), text, std::strlen(text));
    for (auto _ : state) {
        char uuid[12];
        benchmark::DoNotOptimize(derive_csv_line_fast(line.data(), std::strlen(text), uuid));
        benchmark::DoNotOptimize(uuid);
    }
}

BENCHMARK_CAPTURE(quick_route, patient_key, "100001,Mary Smith,123-45-6789,2,1970,1,31,,,,,,");
BENCHMARK_CAPTURE(quick_route, policy_key, "100002,Liam Smith,,1,2010,5,3,\"Smith, Mark\",987654321,1,1980,7,4");
BENCHMARK_CAPTURE(quick_route, zero_identifier, "100003,Linda Rodriguez,,1,1958,2,14,,,,,,");

// Generated records one after another, as a real file mixes them: the kinds
// of record and the lengths of fields change from line to line, so this is
// the per-record cost the branch predictor cannot learn away.
struct generated_lines {
    std::string text;               // the lines, each followed by its terminator
    std::vector<size_t> starts;     // where each line begins
    std::vector<size_t> lengths;
};

generated_lines make_generated_lines(size_t count) {
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    write_generated_records(out, count, 42);
    std::fclose(out);
    generated_lines lines;
    lines.text.assign(buffer, size);
    std::free(buffer);
    size_t start = lines.text.find('\n') + 1;  // after the header
    while (start < lines.text.size()) {
        const size_t end = lines.text.find('\n', start);
        lines.text[end] = '\0';
        lines.starts.push_back(start);
        lines.lengths.push_back(end - start);
        start = end + 1;
    }
    lines.text.append(csv_line_slack, '\0');
    return lines;
}

void quick_route_on_generated_records(benchmark::State& state) {
    const generated_lines lines = make_generated_lines(4096);
    size_t i = 0;
    for (auto _ : state) {
        char uuid[12];
        benchmark::DoNotOptimize(derive_csv_line_fast(lines.text.data() + lines.starts[i], lines.lengths[i], uuid));
        benchmark::DoNotOptimize(uuid);
        i = (i + 1) % lines.starts.size();
    }
}

BENCHMARK(quick_route_on_generated_records);

// The reading alone, without the derivation: the share of the quick route
// that is parsing.
void quick_read_on_generated_records(benchmark::State& state) {
    const generated_lines lines = make_generated_lines(4096);
    size_t i = 0;
    for (auto _ : state) {
        uuid_hash_data record;
        benchmark::DoNotOptimize(read_csv_line_fast(lines.text.data() + lines.starts[i], lines.lengths[i], &record));
        benchmark::DoNotOptimize(record);
        i = (i + 1) % lines.starts.size();
    }
}

BENCHMARK(quick_read_on_generated_records);

// The same reading on one line over and over: against the generated mix, the
// difference is what the changing lines cost in mispredicted branches.
void quick_read_on_one_line(benchmark::State& state) {
    const generated_lines lines = make_generated_lines(1);
    for (auto _ : state) {
        uuid_hash_data record;
        benchmark::DoNotOptimize(read_csv_line_fast(lines.text.data() + lines.starts[0], lines.lengths[0], &record));
        benchmark::DoNotOptimize(record);
    }
}

BENCHMARK(quick_read_on_one_line);

}  // namespace
