// Costs of the C interface (libmint, called as a binding calls it): one
// record per call in each mode, a keyed one with its key prepared per call
// and once, and generated records one call each against
// all of them in one column call, per record.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "csv_record.h"
#include "mint.h"
#include "record_generator.h"

namespace {

const mint_person jane = {"Jane Doe", "123-45-6789", 2, 1970, 1, 31};
const mint_person jane_without_ssn = {"Jane Doe", nullptr, 2, 1970, 1, 31};
const mint_person john = {"John Doe", "987-65-4321", 1, 1968, 7, 4};
const mint_person jane_eight_digits = {"Jane Doe", "12345678", 2, 1970, 1, 31};

void derive_one(benchmark::State& state, const mint_person* patient, const mint_person* policy) {
    char identifier[MINT_ID_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(mint_derive(patient, policy, nullptr, identifier, nullptr));
        benchmark::DoNotOptimize(identifier);
    }
}
BENCHMARK_CAPTURE(derive_one, patient_key, &jane, nullptr);
BENCHMARK_CAPTURE(derive_one, policy_key, &jane_without_ssn, &john);
BENCHMARK_CAPTURE(derive_one, refused_ssn, &jane_eight_digits, nullptr);

// A keyed patient key: the secret prepared by every call (mint_derive with
// the key in its options) against a key prepared once (mint_derive_prepared),
// as a server that keeps one key for all its rows calls it.
const unsigned char bench_secret[32] = {0x7b, 0x9d, 0x7e, 0x32, 0xdf, 0xd4, 0x3f, 0x36};

void keyed_prepared_per_call(benchmark::State& state) {
    const mint_options options{MINT_SSN_STRICT, bench_secret, sizeof bench_secret};
    char identifier[MINT_ID_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(mint_derive(&jane, nullptr, &options, identifier, nullptr));
        benchmark::DoNotOptimize(identifier);
    }
}
BENCHMARK(keyed_prepared_per_call);

void keyed_prepared_once(benchmark::State& state) {
    mint_key key;
    mint_key_prepare(bench_secret, sizeof bench_secret, &key);
    char identifier[MINT_ID_SIZE];
    for (auto _ : state) {
        benchmark::DoNotOptimize(mint_derive_prepared(&jane, nullptr, MINT_SSN_STRICT, &key, identifier, nullptr));
        benchmark::DoNotOptimize(identifier);
    }
}
BENCHMARK(keyed_prepared_once);

// Generated records (mostly patient keys, some policy keys, some without an
// SSN) as columns, their fields read as mintbatch reads them.
struct generated_columns {
    std::vector<std::string> texts;  // four per row, kept for the pointers below
    std::vector<const char*> text[4];
    std::vector<int32_t> number[8];
    size_t rows = 0;

    explicit generated_columns(uint64_t count) {
        std::FILE* file = std::tmpfile();
        write_generated_records(file, count, 42);
        std::rewind(file);
        char line[1000];
        if (std::fgets(line, sizeof line, file) == nullptr) return;  // the header
        texts.reserve(4 * count);
        while (std::fgets(line, sizeof line, file) != nullptr) {
            const char* p = line;
            char key[100];
            int empty = 1;
            p = read_csv_text_field(p, &empty, key, sizeof key);
            for (int person = 0; person < 2; ++person) {
                for (int kind = 0; kind < 2; ++kind) {
                    char field[1000];
                    empty = 1;
                    p = read_csv_text_field(p, &empty, field, sizeof field);
                    texts.emplace_back(empty ? "" : field);
                }
                for (int i = 0; i < 4; ++i) {
                    int32_t value = 0;
                    empty = 1;
                    p = read_csv_int_field(p, &empty, &value);
                    number[person * 4 + i].push_back(empty ? MINT_NOT_GIVEN : value);
                }
            }
            ++rows;
        }
        std::fclose(file);
        for (size_t row = 0; row < rows; ++row) {
            for (int k = 0; k < 4; ++k) text[k].push_back(texts[row * 4 + k].c_str());
        }
    }

    mint_person person(int which, size_t row) const {
        return {text[which * 2][row], text[which * 2 + 1][row], number[which * 4][row], number[which * 4 + 1][row],
                number[which * 4 + 2][row], number[which * 4 + 3][row]};
    }

    mint_columns columns() const {
        return {text[0].data(),   text[1].data(),   number[0].data(), number[1].data(),
                number[2].data(), number[3].data(), text[2].data(),   text[3].data(),
                number[4].data(), number[5].data(), number[6].data(), number[7].data()};
    }
};

const generated_columns& generated() {
    static const generated_columns columns(4096);
    return columns;
}

void generated_records_one_call_each(benchmark::State& state) {
    const generated_columns& g = generated();
    std::vector<char> identifiers(g.rows * MINT_ID_SIZE);
    for (auto _ : state) {
        for (size_t row = 0; row < g.rows; ++row) {
            const mint_person patient = g.person(0, row);
            const mint_person policy = g.person(1, row);
            mint_derive(&patient, &policy, nullptr, &identifiers[row * MINT_ID_SIZE], nullptr);
        }
        benchmark::DoNotOptimize(identifiers.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * g.rows));
}
BENCHMARK(generated_records_one_call_each);

void generated_records_in_one_column_call(benchmark::State& state) {
    const generated_columns& g = generated();
    const mint_columns columns = g.columns();
    std::vector<char> identifiers(g.rows * MINT_ID_SIZE);
    std::vector<mint_result> results(g.rows);
    for (auto _ : state) {
        mint_derive_columns(&columns, g.rows, nullptr, identifiers.data(), results.data());
        benchmark::DoNotOptimize(identifiers.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * g.rows));
}
BENCHMARK(generated_records_in_one_column_call);

}  // namespace

BENCHMARK_MAIN();
