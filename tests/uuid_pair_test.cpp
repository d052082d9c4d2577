// Two identifiers derived at once must be exactly the two derived one by one.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "mintcore.h"
#include "random_records.h"
#include "test_support.h"
#include "uuid_pair.h"

using mint_test::random_record;
using mint_test::stdout_of;

namespace {

TEST(UuidCreatePair, GivesWhatTwoSingleCallsGive) {
    std::mt19937_64 random(2024);
    int both_derived = 0;
    for (int round = 0; round < 4000; ++round) {
        uuid_hash_data first = random_record(random);
        uuid_hash_data second = random_record(random);
        uuid_hash_data first_alone = first;
        uuid_hash_data second_alone = second;
        // The identifier fields start out different, so stale bytes show.
        std::memset(first.uuid, 'x', sizeof first.uuid);
        std::memset(second.uuid, 'y', sizeof second.uuid);

        int single_results = 0;
        const std::string single_output = stdout_of([&] {
            single_results = uuid_create(&first_alone) | (uuid_create(&second_alone) << 1);
        });
        int pair_results = 0;
        const std::string pair_output = stdout_of([&] { pair_results = mint::uuid_create_pair(&first, &second); });

        ASSERT_EQ(pair_results, single_results) << "round " << round;
        ASSERT_EQ(pair_output, single_output) << "round " << round;
        ASSERT_EQ(0, std::memcmp(&first, &first_alone, sizeof first)) << "round " << round;
        ASSERT_EQ(0, std::memcmp(&second, &second_alone, sizeof second)) << "round " << round;
        const bool keyed = std::strcmp(first.uuid, "000000000000") != 0 && std::strcmp(second.uuid, "000000000000") != 0;
        both_derived += keyed ? 1 : 0;
    }
    // The side-by-side computation itself must have been exercised.
    EXPECT_GT(both_derived, 1000);
}

// A pair with a known answer for each lane: the examples' identifiers.
TEST(UuidCreatePair, KnownIdentifiersInBothLanes) {
    char name[] = "Jane Doe";
    char ssn[] = "123-45-6789";
    uuid_hash_data patient;
    uuid_initialize(&patient);
    uuid_hash_set_patient_name(&patient, name);
    uuid_hash_set_patient_ssn(&patient, ssn);
    uuid_hash_set_patient_gender(&patient, 2);
    uuid_hash_set_patient_birth_year(&patient, 1970);
    uuid_hash_set_patient_birth_month(&patient, 1);
    uuid_hash_set_patient_birth_day(&patient, 31);
    uuid_hash_data alone = patient;
    ASSERT_EQ(uuid_create(&alone), 1);
    uuid_hash_data copy = patient;
    ASSERT_EQ(mint::uuid_create_pair(&patient, &copy), 3);
    EXPECT_STREQ(patient.uuid, alone.uuid);
    EXPECT_STREQ(copy.uuid, alone.uuid);
}

}  // namespace
