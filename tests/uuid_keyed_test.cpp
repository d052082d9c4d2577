// Keyed identifiers: the worked examples under the test key, as the Python
// reference derives them, and keyed derivation held to the plain one on
// everything but the identifier's value.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "key_file.h"
#include "mintcore.h"
#include "patient_record.h"
#include "random_records.h"
#include "record_file.h"
#include "test_support.h"
#include "uuid_keyed.h"

using mint_test::data_path;
using mint_test::random_record;
using mint_test::stdout_of;

namespace {

// The secret of tests/data/keys/test.key; its identifiers come from
// tests/reference/mint_reference.py --key-file tests/data/keys/test.key.
const unsigned char test_secret[] = {0x7b, 0x9d, 0x7e, 0x32, 0xdf, 0xd4, 0x3f, 0x36, 0x5b, 0xe5, 0x01,
                                     0xab, 0x42, 0x42, 0x4e, 0x46, 0xca, 0xeb, 0x51, 0x6d, 0x34, 0x67,
                                     0x64, 0x9b, 0x68, 0x6b, 0xb0, 0xb8, 0xdd, 0xa5, 0x0d, 0x7d};

// The test key as the programs read it.
mint::uuid_key test_key() {
    mint::uuid_key key;
    // A checked-out file is usually readable by all, which only warns.
    testing::internal::CaptureStderr();
    const bool read = read_key_file(data_path("keys/test.key").c_str(), &key);
    const std::string warning = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(read) << warning;
    mint::uuid_key from_secret;
    mint::uuid_key_init(&from_secret, test_secret, sizeof test_secret);
    EXPECT_EQ(0, std::memcmp(&key, &from_secret, sizeof key)) << "test_secret must be the secret of test.key";
    return key;
}

uuid_hash_data patient_key_record() {  // examples/patients.csv, record 1001
    char name[] = "Jane Doe";
    char ssn[] = "123-45-6789";
    uuid_hash_data d;
    uuid_initialize(&d);
    uuid_hash_set_patient_name(&d, name);
    uuid_hash_set_patient_ssn(&d, ssn);
    uuid_hash_set_patient_gender(&d, 2);
    uuid_hash_set_patient_birth_year(&d, 1970);
    uuid_hash_set_patient_birth_month(&d, 1);
    uuid_hash_set_patient_birth_day(&d, 31);
    return d;
}

uuid_hash_data policy_key_record() {  // examples/patients.csv, record 1002
    char name[] = "Jane Doe";
    char policy_name[] = "John Doe";
    char policy_ssn[] = "987-65-4321";
    uuid_hash_data d;
    uuid_initialize(&d);
    uuid_hash_set_patient_name(&d, name);
    uuid_hash_set_patient_gender(&d, 2);
    uuid_hash_set_patient_birth_year(&d, 1970);
    uuid_hash_set_patient_birth_month(&d, 1);
    uuid_hash_set_patient_birth_day(&d, 31);
    uuid_hash_set_policy_name(&d, policy_name);
    uuid_hash_set_policy_ssn(&d, policy_ssn);
    uuid_hash_set_policy_gender(&d, 1);
    uuid_hash_set_policy_birth_year(&d, 1968);
    uuid_hash_set_policy_birth_month(&d, 7);
    uuid_hash_set_policy_birth_day(&d, 4);
    return d;
}

std::string keyed_uuid(uuid_hash_data d, const mint::uuid_key* key) {
    EXPECT_EQ(mint::uuid_create_keyed(&d, key), 1);
    return d.uuid;
}

TEST(UuidKeyed, WorkedExamplesUnderTheTestKey) {
    const mint::uuid_key key = test_key();
    EXPECT_EQ(keyed_uuid(patient_key_record(), &key), "mib97ds9ej5d");
    EXPECT_EQ(keyed_uuid(policy_key_record(), &key), "8l00kma9drtk");

    uuid_hash_data first = patient_key_record();
    uuid_hash_data second = policy_key_record();
    EXPECT_EQ(mint::uuid_create_pair_keyed(&first, &second, &key), 3);
    EXPECT_STREQ(first.uuid, "mib97ds9ej5d");
    EXPECT_STREQ(second.uuid, "8l00kma9drtk");
}

TEST(UuidKeyed, ExampleRecordFileUnderTheTestKey) {
    const mint::uuid_key key = test_key();
    FILE* stream = std::fopen(MINT_EXAMPLES_DIR "/patient.rec", "r");
    ASSERT_NE(stream, nullptr);
    patient_record record;
    const int complete = read_patient_record(stream, &record);
    std::fclose(stream);
    ASSERT_EQ(complete, 1);
    char uuid[13];
    ASSERT_EQ(generate_test_uuid_keyed(&record, &key, uuid), 1);
    EXPECT_STREQ(uuid, "8l00kma9drtk");
    ASSERT_EQ(generate_test_uuid_keyed(&record, nullptr, uuid), 1);
    EXPECT_STREQ(uuid, "1q2chvgo0ecq");
}

TEST(UuidKeyed, NullKeyGivesThePlainIdentifier) {
    EXPECT_EQ(keyed_uuid(patient_key_record(), nullptr), "uc1kb3lfu4p3");
    EXPECT_EQ(keyed_uuid(policy_key_record(), nullptr), "1q2chvgo0ecq");
    uuid_hash_data first = patient_key_record();
    uuid_hash_data second = policy_key_record();
    EXPECT_EQ(mint::uuid_create_pair_keyed(&first, &second, nullptr), 3);
    EXPECT_STREQ(first.uuid, "uc1kb3lfu4p3");
    EXPECT_STREQ(second.uuid, "1q2chvgo0ecq");
}

// Secrets that differ from the test key's in one bit, in length, or
// altogether give other identifiers.
TEST(UuidKeyed, AnotherKeyGivesAnotherIdentifier) {
    unsigned char one_bit[sizeof test_secret];
    std::memcpy(one_bit, test_secret, sizeof one_bit);
    one_bit[31] ^= 1;
    const unsigned char other[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    struct Case {
        const char* name;
        const unsigned char* secret;
        size_t length;
    };
    const Case cases[] = {
        {"one bit flipped", one_bit, sizeof one_bit},
        {"one byte shorter", test_secret, sizeof test_secret - 1},
        {"another secret", other, sizeof other},
    };
    for (const Case& c : cases) {
        mint::uuid_key changed;
        mint::uuid_key_init(&changed, c.secret, c.length);
        EXPECT_NE(keyed_uuid(patient_key_record(), &changed), "mib97ds9ej5d") << c.name;
        EXPECT_NE(keyed_uuid(policy_key_record(), &changed), "8l00kma9drtk") << c.name;
    }
}

TEST(UuidKeyed, ZeroIdentifierAndRefusalsAsWithoutKey) {
    const mint::uuid_key key = test_key();
    uuid_hash_data no_ssn = patient_key_record();
    no_ssn.flags &= ~PATIENT_SSN_SET;
    std::memset(no_ssn.uuid, 'x', sizeof no_ssn.uuid);
    std::string printed = stdout_of([&] { EXPECT_EQ(mint::uuid_create_keyed(&no_ssn, &key), 1); });
    EXPECT_STREQ(no_ssn.uuid, "000000000000");
    EXPECT_EQ(printed, "");

    uuid_hash_data no_year = patient_key_record();
    no_year.flags &= ~PATIENT_BIRTH_YEAR_SET;
    printed = stdout_of([&] { EXPECT_EQ(mint::uuid_create_keyed(&no_year, &key), 0); });
    EXPECT_STREQ(no_year.uuid, "000000000000");
    EXPECT_EQ(printed, "Error in uuid_create(), structure not properly filled out.  Flags 002f.\n");

    printed = stdout_of([&] { EXPECT_EQ(mint::uuid_create_keyed(nullptr, &key), 0); });
    EXPECT_EQ(printed, "");
}

enum class outcome { zero, patient_key, policy_key, refused };

outcome outcome_of(int result, const char* uuid) {
    if (result == 0) return outcome::refused;
    if (std::strcmp(uuid, "000000000000") == 0) return outcome::zero;
    return uuid[0] >= 'g' ? outcome::patient_key : outcome::policy_key;
}

// Over random records: the keyed derivation accepts and refuses exactly what
// the plain one does, with the same messages; its identifiers keep the
// first-character ranges and differ from the plain ones; two at once are two
// single calls.
TEST(UuidKeyed, DecidesAsThePlainDerivationOnRandomRecords) {
    const mint::uuid_key key = test_key();
    std::mt19937_64 random(4231);
    int counts[4] = {};
    for (int round = 0; round < 4000; ++round) {
        const uuid_hash_data record[2] = {random_record(random), random_record(random)};
        uuid_hash_data plain[2] = {record[0], record[1]};
        uuid_hash_data keyed[2] = {record[0], record[1]};
        int plain_results[2] = {};
        int keyed_results[2] = {};
        const std::string plain_output = stdout_of([&] {
            for (int i = 0; i < 2; ++i) plain_results[i] = uuid_create(&plain[i]);
        });
        const std::string keyed_output = stdout_of([&] {
            for (int i = 0; i < 2; ++i) keyed_results[i] = mint::uuid_create_keyed(&keyed[i], &key);
        });
        ASSERT_EQ(keyed_output, plain_output) << "round " << round;
        for (int i = 0; i < 2; ++i) {
            const outcome plain_outcome = outcome_of(plain_results[i], plain[i].uuid);
            const outcome keyed_outcome = outcome_of(keyed_results[i], keyed[i].uuid);
            ASSERT_EQ(keyed_outcome, plain_outcome) << "round " << round << ", record " << i << ": "
                                                    << plain[i].uuid << " / " << keyed[i].uuid;
            if (plain_outcome == outcome::patient_key || plain_outcome == outcome::policy_key) {
                ASSERT_STRNE(keyed[i].uuid, plain[i].uuid) << "round " << round;
            }
            ++counts[static_cast<int>(plain_outcome)];
        }

        uuid_hash_data pair[2] = {record[0], record[1]};
        std::memset(pair[0].uuid, 'x', sizeof pair[0].uuid);
        std::memset(pair[1].uuid, 'y', sizeof pair[1].uuid);
        int pair_result = 0;
        const std::string pair_output =
            stdout_of([&] { pair_result = mint::uuid_create_pair_keyed(&pair[0], &pair[1], &key); });
        ASSERT_EQ(pair_result, keyed_results[0] | keyed_results[1] << 1) << "round " << round;
        ASSERT_EQ(pair_output, keyed_output) << "round " << round;
        ASSERT_EQ(0, std::memcmp(pair, keyed, sizeof pair)) << "round " << round;
    }
    for (int count : counts) EXPECT_GT(count, 500);
}

// Four records at once give what four calls one by one give, keyed and
// not, messages and results included, whichever of them can be derived.
TEST(UuidCreateQuadKeyed, GivesWhatFourSingleCallsGive) {
    std::mt19937_64 random(4444);
    mint::uuid_key key;
    const unsigned char secret[] = "a key for four lanes at once";
    mint::uuid_key_init(&key, secret, sizeof secret - 1);
    int all_derived = 0;
    for (int round = 0; round < 3000; ++round) {
        const mint::uuid_key* const round_key = round % 2 == 0 ? &key : nullptr;
        uuid_hash_data alone[4];
        uuid_hash_data four[4];
        for (int i = 0; i < 4; ++i) {
            alone[i] = mint_test::random_record(random);
            four[i] = alone[i];
            // The identifier fields start out different, so stale bytes show.
            std::memset(four[i].uuid, 'w' + i, sizeof four[i].uuid);
        }
        int alone_results = 0;
        const std::string alone_output = stdout_of([&] {
            for (int i = 0; i < 4; ++i) alone_results |= mint::uuid_create_keyed(&alone[i], round_key) << i;
        });
        uuid_hash_data* const records[4] = {&four[0], &four[1], &four[2], &four[3]};
        int four_results = 0;
        const std::string four_output =
            stdout_of([&] { four_results = mint::uuid_create_quad_keyed(records, round_key); });
        ASSERT_EQ(four_results, alone_results) << "round " << round;
        ASSERT_EQ(four_output, alone_output) << "round " << round;
        ASSERT_EQ(0, std::memcmp(four, alone, sizeof four)) << "round " << round;
        bool derived = true;
        for (const uuid_hash_data& record : four) derived &= std::strcmp(record.uuid, "000000000000") != 0;
        all_derived += derived ? 1 : 0;
    }
    // The four-lane computation itself must have been exercised.
    EXPECT_GT(all_derived, 100);
}

}  // namespace
