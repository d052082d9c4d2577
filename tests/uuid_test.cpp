// Identifier derivation: worked examples, mode selection and its messages.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "mintcore.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

constexpr bool strict_rule = MINT_TEST_STRICT_SSN != 0;

void set_patient(uuid_hash_data* d, const char* name, const char* ssn, int gender, int year, int month, int day) {
    char name_copy[100];
    char ssn_copy[100];
    std::strcpy(name_copy, name);
    std::strcpy(ssn_copy, ssn);
    if (*name) {
        EXPECT_EQ(uuid_hash_set_patient_name(d, name_copy), 1);
    }
    if (*ssn) uuid_hash_set_patient_ssn(d, ssn_copy);
    if (gender) {
        EXPECT_EQ(uuid_hash_set_patient_gender(d, gender), 1);
    }
    if (year) {
        EXPECT_EQ(uuid_hash_set_patient_birth_year(d, year), 1);
    }
    if (month) {
        EXPECT_EQ(uuid_hash_set_patient_birth_month(d, month), 1);
    }
    if (day) {
        EXPECT_EQ(uuid_hash_set_patient_birth_day(d, day), 1);
    }
}

void set_policy(uuid_hash_data* d, const char* name, const char* ssn, int gender, int year, int month, int day) {
    char name_copy[100];
    char ssn_copy[100];
    std::strcpy(name_copy, name);
    std::strcpy(ssn_copy, ssn);
    EXPECT_EQ(uuid_hash_set_policy_name(d, name_copy), 1);
    EXPECT_EQ(uuid_hash_set_policy_ssn(d, ssn_copy), 1);
    EXPECT_EQ(uuid_hash_set_policy_gender(d, gender), 1);
    EXPECT_EQ(uuid_hash_set_policy_birth_year(d, year), 1);
    EXPECT_EQ(uuid_hash_set_policy_birth_month(d, month), 1);
    EXPECT_EQ(uuid_hash_set_policy_birth_day(d, day), 1);
}

struct Outcome {
    int result;
    std::string uuid;
    std::string printed;
};

Outcome create(uuid_hash_data* d) {
    Outcome outcome;
    outcome.printed = stdout_of([&] { outcome.result = uuid_create(d); });
    outcome.uuid = d->uuid;
    return outcome;
}

TEST(Uuid, PatientKeyMode) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_patient(&d, "Jane Doe", "123-45-6789", 2, 1970, 1, 31);
    EXPECT_EQ(d.flags, 0x003Fu);
    const Outcome o = create(&d);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.uuid, "uc1kb3lfu4p3");
    EXPECT_EQ(o.printed, "");
}

TEST(Uuid, NormalisedVariantsGiveTheSameIdentifier) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_patient(&d, "JANE-DOE", "123456789", 2, 1970, 1, 31);
    EXPECT_EQ(create(&d).uuid, "uc1kb3lfu4p3");
}

TEST(Uuid, PatientKeyWinsWhenBothPersonsAreComplete) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_patient(&d, "Jane Doe", "123-45-6789", 2, 1970, 1, 31);
    set_policy(&d, "John Doe", "987-65-4321", 1, 1968, 7, 4);
    EXPECT_EQ(d.flags, 0x3F3Fu);
    EXPECT_EQ(create(&d).uuid, "uc1kb3lfu4p3");
}

TEST(Uuid, PolicyKeyMode) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_policy(&d, "John Doe", "987-65-4321", 1, 1968, 7, 4);
    set_patient(&d, "Jane Doe", "", 2, 1970, 1, 31);
    EXPECT_EQ(d.flags, 0x3F3Eu);
    const Outcome o = create(&d);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.uuid, "1q2chvgo0ecq");
    EXPECT_EQ(o.printed, "");
}

TEST(Uuid, NoSsnAnywhereGivesTheZeroIdentifier) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_patient(&d, "Jane Doe", "", 2, 1970, 1, 31);
    EXPECT_EQ(d.flags, 0x003Eu);
    const Outcome o = create(&d);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.uuid, "000000000000");
    EXPECT_EQ(o.printed, "");
}

TEST(Uuid, OnlyInitialisedRecordGivesTheZeroIdentifier) {
    uuid_hash_data d;
    uuid_initialize(&d);
    const Outcome o = create(&d);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.uuid, "000000000000");
    EXPECT_EQ(o.printed, "");
}

TEST(Uuid, IncompleteRecordIsAnErrorAndClearsAnEarlierIdentifier) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_patient(&d, "Jane Doe", "123-45-6789", 2, 1970, 1, 31);
    ASSERT_EQ(create(&d).uuid, "uc1kb3lfu4p3");
    d.flags &= ~PATIENT_BIRTH_YEAR_SET;
    EXPECT_EQ(d.flags, 0x002Fu);
    const Outcome o = create(&d);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.uuid, "000000000000");
    EXPECT_EQ(o.printed, "Error in uuid_create(), structure not properly filled out.  Flags 002f.\n");
}

// A second name replaces the first entirely: "Al" alone, not "Al" over "Jane Doe".
TEST(Uuid, ReplacedNameCountsAsTheNewNameAlone) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_patient(&d, "Jane Doe", "123-45-6789", 2, 1970, 1, 31);
    char al[] = "Al";
    ASSERT_EQ(uuid_hash_set_patient_name(&d, al), 1);
    EXPECT_EQ(create(&d).uuid, "si27t2la0ltp");

    uuid_hash_data fresh;
    uuid_initialize(&fresh);
    set_patient(&fresh, "Al", "123-45-6789", 2, 1970, 1, 31);
    EXPECT_EQ(create(&fresh).uuid, "si27t2la0ltp");
}

TEST(Uuid, EightDigitSsnFollowsTheBuildsRule) {
    uuid_hash_data d;
    uuid_initialize(&d);
    std::string printed = stdout_of([&] { set_patient(&d, "Jane Doe", "12345678", 2, 1970, 1, 31); });
    const Outcome o = create(&d);
    EXPECT_EQ(o.result, 1);
    if (strict_rule) {
        EXPECT_EQ(printed, "Error in uuid_hash_set_patient_ssn(), invalid ssn passed in.\n");
        EXPECT_EQ(d.flags, 0x003Eu);
        EXPECT_EQ(o.uuid, "000000000000");
    } else {
        EXPECT_EQ(printed, "");
        EXPECT_EQ(d.flags, 0x003Fu);
        EXPECT_EQ(o.uuid, "pd6l21movp5l");
    }
}

TEST(Uuid, NullRecordFailsSilently) {
    int result = -1;
    EXPECT_EQ(stdout_of([&] { result = uuid_create(nullptr); }), "");
    EXPECT_EQ(result, 0);
}

// The mode depends on the set-marks alone.
TEST(Uuid, OutcomeForFlagValues) {
    struct Case {
        uint32_t flags;
        int result;
        const char* uuid;  // nullptr: a patient-key identifier; "policy": a policy-key one
        const char* printed;
    };
    const Case cases[] = {
        {0x003F, 1, nullptr, ""},
        {0x013F, 1, nullptr, ""},
        {0x3F3F, 1, nullptr, ""},
        {0x3F3E, 1, "policy", ""},
        {0x0000, 1, "000000000000", ""},
        {0x003E, 1, "000000000000", ""},
        {0x3E3E, 1, "000000000000", ""},
        {0x002F, 0, "000000000000", "Error in uuid_create(), structure not properly filled out.  Flags 002f.\n"},
        {0x3F3C, 0, "000000000000", "Error in uuid_create(), structure not properly filled out.  Flags 3f3c.\n"},
        {0x3D3E, 0, "000000000000", "Error in uuid_create(), structure not properly filled out.  Flags 3d3e.\n"},
        {0x0100, 0, "000000000000", "Error in uuid_create(), structure not properly filled out.  Flags 0100.\n"},
    };
    uuid_hash_data full;
    uuid_initialize(&full);
    set_patient(&full, "Jane Doe", "123-45-6789", 2, 1970, 1, 31);
    set_policy(&full, "John Doe", "987-65-4321", 1, 1968, 7, 4);
    for (const auto& c : cases) {
        uuid_hash_data d = full;
        d.flags = c.flags;
        const Outcome o = create(&d);
        EXPECT_EQ(o.result, c.result) << std::hex << c.flags;
        EXPECT_EQ(o.printed, c.printed) << std::hex << c.flags;
        if (c.uuid == nullptr) {
            EXPECT_EQ(o.uuid, "uc1kb3lfu4p3") << std::hex << c.flags;
        } else if (std::string(c.uuid) == "policy") {
            EXPECT_EQ(o.uuid, "1q2chvgo0ecq") << std::hex << c.flags;
        } else {
            EXPECT_EQ(o.uuid, c.uuid) << std::hex << c.flags;
        }
    }
}

TEST(Uuid, CreateChangesNothingButTheIdentifier) {
    uuid_hash_data d;
    uuid_initialize(&d);
    set_policy(&d, "John Doe", "987-65-4321", 1, 1968, 7, 4);
    set_patient(&d, "Jane Doe", "", 2, 1970, 1, 31);
    const uuid_hash_data before = d;
    create(&d);
    EXPECT_EQ(std::memcmp(&before, &d, offsetof(uuid_hash_data, uuid)), 0);
    const std::string first = d.uuid;
    create(&d);
    EXPECT_EQ(first, d.uuid);
}

// The first character tells the mode: 'g'..'v' for a patient key, '0'..'f' for
// a policy key; the rest comes from the 32-character alphabet.
TEST(Uuid, FirstCharacterMarksTheMode) {
    std::mt19937 random(2026);
    auto in = [](char c, char lo, char hi) { return c >= lo && c <= hi; };
    for (int i = 0; i < 500; ++i) {
        char name[12];
        char ssn[10];
        for (int k = 0; k < 11; ++k) name[k] = static_cast<char>('a' + random() % 26);
        name[11] = '\0';
        for (int k = 0; k < 9; ++k) ssn[k] = static_cast<char>('0' + random() % 10);
        ssn[9] = '\0';
        const int gender = 1 + static_cast<int>(random() % 2);
        const int year = 1851 + static_cast<int>(random() % 249);
        const int month = 1 + static_cast<int>(random() % 12);
        const int day = 1 + static_cast<int>(random() % 31);

        uuid_hash_data patient;
        uuid_initialize(&patient);
        set_patient(&patient, name, ssn, gender, year, month, day);
        ASSERT_EQ(create(&patient).result, 1);

        uuid_hash_data policy;
        uuid_initialize(&policy);
        set_policy(&policy, name, ssn, gender, year, month, day);
        set_patient(&policy, "Kim", "", gender, year, month, day);
        ASSERT_EQ(create(&policy).result, 1);

        EXPECT_TRUE(in(patient.uuid[0], 'g', 'v')) << patient.uuid;
        EXPECT_TRUE(in(policy.uuid[0], '0', '9') || in(policy.uuid[0], 'a', 'f')) << policy.uuid;
        for (const char* uuid : {patient.uuid, policy.uuid}) {
            ASSERT_EQ(std::strlen(uuid), 12u);
            for (int k = 1; k < 12; ++k) {
                EXPECT_TRUE(in(uuid[k], '0', '9') || in(uuid[k], 'a', 'v')) << uuid;
            }
        }
    }
}

}  // namespace
