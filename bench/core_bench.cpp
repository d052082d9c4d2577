// Costs of the library's building blocks, side by side: one compression per
// backend, a short message, and uuid_create in both modes, plain and keyed.
#include <benchmark/benchmark.h>

#include <cstring>

#include "mintcore.h"
#include "sha256_internal.h"
#include "uuid_keyed.h"
#include "uuid_pair.h"

using namespace mint::sha256_detail;

namespace {

void compress_one_block(benchmark::State& state, const backend* b) {
    if (!b->supported()) {
        state.SkipWithError("not supported by this CPU");
        return;
    }
    uint32_t words[8];
    std::memcpy(words, initial_hash.data(), sizeof words);
    unsigned char block[64] = {1, 2, 3};
    for (auto _ : state) {
        b->compress(words, block, 1);
        benchmark::DoNotOptimize(words);
    }
}

// The floor for an identifier: two compressions, the second depending on the
// first as in both derivations (stage 2 hashes stage 1's digest; a policy-key
// message chains its second block), and nothing else.
void two_compressions(benchmark::State& state) {
    const compress_fn compress = selected_compress();
    uint32_t words[8];
    unsigned char block[64] = {1, 2, 3};
    for (auto _ : state) {
        std::memcpy(words, initial_hash.data(), sizeof words);
        compress(words, block, 1);
        compress(words, block, 1);
        benchmark::DoNotOptimize(words);
    }
}
BENCHMARK(two_compressions);

// The floor for a keyed identifier: three chained compressions.
void three_compressions(benchmark::State& state) {
    const compress_fn compress = selected_compress();
    uint32_t words[8];
    unsigned char block[64] = {1, 2, 3};
    for (auto _ : state) {
        std::memcpy(words, initial_hash.data(), sizeof words);
        compress(words, block, 1);
        compress(words, block, 1);
        compress(words, block, 1);
        benchmark::DoNotOptimize(words);
    }
}
BENCHMARK(three_compressions);

void sha256_of_30_bytes(benchmark::State& state) {
    unsigned char message[30] = {10, 1, 14, 5, 4, 15, 5};
    unsigned char digest[32];
    for (auto _ : state) {
        SHA256state s;
        sha256init(&s);
        sha256(&s, message, sizeof message);
        sha256finish(&s, digest);
        benchmark::DoNotOptimize(digest);
    }
}
BENCHMARK(sha256_of_30_bytes);

uuid_hash_data patient_key_record() {
    uuid_hash_data d;
    char name[] = "Jane Doe";
    char ssn[] = "123-45-6789";
    uuid_initialize(&d);
    uuid_hash_set_patient_name(&d, name);
    uuid_hash_set_patient_ssn(&d, ssn);
    uuid_hash_set_patient_gender(&d, 2);
    uuid_hash_set_patient_birth_year(&d, 1970);
    uuid_hash_set_patient_birth_month(&d, 1);
    uuid_hash_set_patient_birth_day(&d, 31);
    return d;
}

uuid_hash_data policy_key_record() {
    uuid_hash_data d = patient_key_record();
    char name[] = "John Doe";
    char ssn[] = "987-65-4321";
    d.flags &= ~PATIENT_SSN_SET;
    uuid_hash_set_policy_name(&d, name);
    uuid_hash_set_policy_ssn(&d, ssn);
    uuid_hash_set_policy_gender(&d, 1);
    uuid_hash_set_policy_birth_year(&d, 1968);
    uuid_hash_set_policy_birth_month(&d, 7);
    uuid_hash_set_policy_birth_day(&d, 4);
    return d;
}

void uuid_create_on(benchmark::State& state, uuid_hash_data (*make_record)()) {
    uuid_hash_data d = make_record();
    for (auto _ : state) {
        benchmark::DoNotOptimize(uuid_create(&d));
        benchmark::DoNotOptimize(d.uuid);
    }
}
BENCHMARK_CAPTURE(uuid_create_on, patient_key, patient_key_record);
BENCHMARK_CAPTURE(uuid_create_on, policy_key, policy_key_record);

// Two identifiers at once, as mintbatch derives them: the time is for both.
void uuid_create_pair_on(benchmark::State& state, uuid_hash_data (*make_first)(),
                         uuid_hash_data (*make_second)()) {
    uuid_hash_data first = make_first();
    uuid_hash_data second = make_second();
    for (auto _ : state) {
        benchmark::DoNotOptimize(mint::uuid_create_pair(&first, &second));
        benchmark::DoNotOptimize(first.uuid);
        benchmark::DoNotOptimize(second.uuid);
    }
}
BENCHMARK_CAPTURE(uuid_create_pair_on, patient_and_policy_key, patient_key_record, policy_key_record);

mint::uuid_key bench_key() {
    const unsigned char secret[32] = {0x6d, 0x69, 0x6e, 0x74};
    mint::uuid_key key;
    mint::uuid_key_init(&key, secret, sizeof secret);
    return key;
}

// Keyed: the last hash is HMAC-SHA-256, one compression more.
void uuid_create_keyed_on(benchmark::State& state, uuid_hash_data (*make_record)()) {
    const mint::uuid_key key = bench_key();
    uuid_hash_data d = make_record();
    for (auto _ : state) {
        benchmark::DoNotOptimize(mint::uuid_create_keyed(&d, &key));
        benchmark::DoNotOptimize(d.uuid);
    }
}
BENCHMARK_CAPTURE(uuid_create_keyed_on, patient_key, patient_key_record);
BENCHMARK_CAPTURE(uuid_create_keyed_on, policy_key, policy_key_record);

void uuid_create_pair_keyed_on(benchmark::State& state, uuid_hash_data (*make_first)(),
                               uuid_hash_data (*make_second)()) {
    const mint::uuid_key key = bench_key();
    uuid_hash_data first = make_first();
    uuid_hash_data second = make_second();
    for (auto _ : state) {
        benchmark::DoNotOptimize(mint::uuid_create_pair_keyed(&first, &second, &key));
        benchmark::DoNotOptimize(first.uuid);
        benchmark::DoNotOptimize(second.uuid);
    }
}
BENCHMARK_CAPTURE(uuid_create_pair_keyed_on, patient_and_policy_key, patient_key_record, policy_key_record);

// Filling the record as a program does, then deriving.
void set_fields_and_create(benchmark::State& state) {
    for (auto _ : state) {
        uuid_hash_data d = patient_key_record();
        benchmark::DoNotOptimize(uuid_create(&d));
        benchmark::DoNotOptimize(d.uuid);
    }
}
BENCHMARK(set_fields_and_create);

// Two independent blocks at once: the time is for both.
void compress_two_blocks(benchmark::State& state, const backend* b) {
    if (!b->supported()) {
        state.SkipWithError("not supported by this CPU");
        return;
    }
    uint32_t hash_a[8];
    uint32_t hash_b[8];
    std::memcpy(hash_a, initial_hash.data(), sizeof hash_a);
    std::memcpy(hash_b, initial_hash.data(), sizeof hash_b);
    const uint32_t words[16] = {1, 2, 3};
    for (auto _ : state) {
        b->compress_word_pair(hash_a, words, hash_b, words);
        benchmark::DoNotOptimize(hash_a);
        benchmark::DoNotOptimize(hash_b);
    }
}

[[maybe_unused]] const bool registered = [] {
    for (const backend& b : backends()) {
        benchmark::RegisterBenchmark((std::string("compress_one_block/") + b.name).c_str(), compress_one_block, &b);
        benchmark::RegisterBenchmark((std::string("compress_two_blocks/") + b.name).c_str(), compress_two_blocks,
                                     &b);
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
