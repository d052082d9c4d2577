// The C interface (libmint): worked examples, what "not given" means, every
// kind of result with its code and text, the column call against the single
// call, and that nothing is ever printed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "mint.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

mint_person person(const char* name, const char* ssn, int32_t gender, int32_t year, int32_t month, int32_t day) {
    return {name, ssn, gender, year, month, day};
}

const mint_person jane = person("Jane Doe", "123-45-6789", 2, 1970, 1, 31);
const mint_person jane_without_ssn = person("Jane Doe", nullptr, 2, 1970, 1, 31);
const mint_person john = person("John Doe", "987-65-4321", 1, 1968, 7, 4);
const mint_person nobody = MINT_PERSON_INIT;

constexpr mint_options lenient{MINT_SSN_LENIENT, nullptr, 0};

struct outcome {
    int32_t returned;
    mint_result result;
    std::string identifier;
};

outcome derive(const mint_person* patient, const mint_person* policy, const mint_options* options = nullptr) {
    char identifier[MINT_ID_SIZE];
    std::memset(identifier, 'x', sizeof identifier);
    outcome o{};
    o.returned = mint_derive(patient, policy, options, identifier, &o.result);
    EXPECT_EQ(identifier[MINT_ID_SIZE - 1], '\0') << "the identifier text is always terminated";
    o.identifier.assign(identifier, MINT_ID_SIZE - 1);
    o.identifier.resize(std::strlen(o.identifier.c_str()));
    return o;
}

TEST(MintDerive, WorkedExamples) {
    outcome o = derive(&jane, nullptr);
    EXPECT_EQ(o.returned, MINT_IDENTIFIER);
    EXPECT_EQ(o.result.status, MINT_IDENTIFIER);
    EXPECT_EQ(o.result.field, MINT_FIELD_NONE);
    EXPECT_EQ(o.result.flags, 0x003Fu);
    EXPECT_EQ(o.identifier, "uc1kb3lfu4p3");

    o = derive(&jane_without_ssn, &john);
    EXPECT_EQ(o.returned, MINT_IDENTIFIER);
    EXPECT_EQ(o.result.flags, 0x3F3Eu);
    EXPECT_EQ(o.identifier, "1q2chvgo0ecq");

    // Both persons complete: the patient's own key.
    o = derive(&jane, &john);
    EXPECT_EQ(o.result.flags, 0x3F3Fu);
    EXPECT_EQ(o.identifier, "uc1kb3lfu4p3");

    // Names by their letters, SSNs by their digits.
    const mint_person jane_written_otherwise = person("JANE-DOE", "123456789", 2, 1970, 1, 31);
    EXPECT_EQ(derive(&jane_written_otherwise, nullptr).identifier, "uc1kb3lfu4p3");
}

TEST(MintDerive, NoSsnAnywhereGivesTheZeroIdentifier) {
    for (const mint_person* patient : {&jane_without_ssn, &nobody, static_cast<const mint_person*>(nullptr)}) {
        const outcome o = derive(patient, nullptr);
        EXPECT_EQ(o.returned, MINT_ZERO);
        EXPECT_EQ(o.result.field, MINT_FIELD_NONE);
        EXPECT_EQ(o.identifier, "000000000000");
    }
    EXPECT_EQ(derive(&jane_without_ssn, nullptr).result.flags, 0x003Eu);
    EXPECT_EQ(derive(nullptr, nullptr).result.flags, 0u);
}

TEST(MintDerive, EmptyTextsAndTheMarkerAreNotGiven) {
    mint_person empty_ssn = jane;
    empty_ssn.ssn = "";
    const outcome o = derive(&empty_ssn, nullptr);
    EXPECT_EQ(o.returned, MINT_ZERO) << "an empty SSN is no SSN, as an empty CSV field";
    EXPECT_EQ(o.result.flags, 0x003Eu);

    mint_person empty_name = jane;
    empty_name.name = "";
    EXPECT_EQ(derive(&empty_name, nullptr).result.status, MINT_INCOMPLETE);
    EXPECT_EQ(derive(&empty_name, nullptr).result.flags, 0x003Du);

    mint_person no_year = jane;
    no_year.birth_year = MINT_NOT_GIVEN;
    EXPECT_EQ(derive(&no_year, nullptr).result.status, MINT_INCOMPLETE);
    EXPECT_EQ(derive(&no_year, nullptr).result.flags, 0x002Fu);

    // 0 is a value, out of every range: never "not given".
    mint_person zero_gender = jane;
    zero_gender.gender = 0;
    EXPECT_EQ(derive(&zero_gender, nullptr).result.status, MINT_REFUSED);
    EXPECT_EQ(derive(&zero_gender, nullptr).result.field, MINT_PATIENT_GENDER);
}

TEST(MintDerive, SsnRules) {
    struct ssn_case {
        const char* ssn;
        int32_t strict;
        int32_t lenient;
        const char* lenient_identifier;
    };
    const ssn_case cases[] = {
        {"123-45-6789", MINT_IDENTIFIER, MINT_IDENTIFIER, "uc1kb3lfu4p3"},
        {"123 45 6789 ", MINT_IDENTIFIER, MINT_IDENTIFIER, "uc1kb3lfu4p3"},
        // Lenient: the first nine digits, or fewer, zero-filled.
        {"1234567890", MINT_REFUSED, MINT_IDENTIFIER, "uc1kb3lfu4p3"},
        {"SSN 123 45 6789 ext 12", MINT_REFUSED, MINT_IDENTIFIER, "uc1kb3lfu4p3"},
        {"12345678", MINT_REFUSED, MINT_IDENTIFIER, "pd6l21movp5l"},
        {"n/a", MINT_REFUSED, MINT_REFUSED, ""},
        {" ", MINT_REFUSED, MINT_REFUSED, ""},
    };
    for (const ssn_case& c : cases) {
        mint_person p = jane;
        p.ssn = c.ssn;
        const outcome strict = derive(&p, nullptr);
        EXPECT_EQ(strict.returned, c.strict) << c.ssn;
        const outcome loose = derive(&p, nullptr, &lenient);
        EXPECT_EQ(loose.returned, c.lenient) << c.ssn;
        EXPECT_EQ(loose.identifier, c.lenient_identifier) << c.ssn;
        if (c.strict == MINT_REFUSED) {
            EXPECT_EQ(strict.result.field, MINT_PATIENT_SSN) << c.ssn;
            EXPECT_EQ(strict.identifier, "") << c.ssn;
        }
    }
    // The options' default, all zero, is the strict rule.
    const mint_options zeroed{};
    mint_person eight = jane;
    eight.ssn = "12345678";
    EXPECT_EQ(derive(&eight, nullptr, &zeroed).returned, MINT_REFUSED);
}

// Every refusal and incomplete record, with its code, field, marks and text.
TEST(MintDerive, RefusalTable) {
    struct refusal_case {
        const char* what;
        mint_person patient;
        mint_person policy;
        int32_t status;
        int32_t field;
        uint32_t flags;
        const char* text;
    };
    const mint_person p = jane;
    const mint_person q = jane_without_ssn;
    const mint_person h = john;
    const refusal_case cases[] = {
        {"patient SSN", person("Jane Doe", "123", 2, 1970, 1, 31), nobody, MINT_REFUSED, MINT_PATIENT_SSN, 0x003E,
         "patient_ssn: invalid ssn"},
        {"patient gender 3", person(p.name, p.ssn, 3, 1970, 1, 31), nobody, MINT_REFUSED, MINT_PATIENT_GENDER, 0x0037,
         "patient_gender: not 1 or 2"},
        {"patient gender -1", person(p.name, p.ssn, -1, 1970, 1, 31), nobody, MINT_REFUSED, MINT_PATIENT_GENDER,
         0x0037, "patient_gender: not 1 or 2"},
        {"patient year 1850", person(p.name, p.ssn, 2, 1850, 1, 31), nobody, MINT_REFUSED, MINT_PATIENT_BIRTH_YEAR,
         0x002F, "patient_birth_year: not from 1851 to 2099"},
        {"patient year 2100", person(p.name, p.ssn, 2, 2100, 1, 31), nobody, MINT_REFUSED, MINT_PATIENT_BIRTH_YEAR,
         0x002F, "patient_birth_year: not from 1851 to 2099"},
        {"patient month 13", person(p.name, p.ssn, 2, 1970, 13, 31), nobody, MINT_REFUSED, MINT_PATIENT_BIRTH_MONTH,
         0x001F, "patient_birth_month: not from 1 to 12"},
        {"patient day 0", person(p.name, p.ssn, 2, 1970, 1, 0), nobody, MINT_REFUSED, MINT_PATIENT_BIRTH_DAY, 0x003B,
         "patient_birth_day: not from 1 to 31"},
        {"policy SSN", q, person(h.name, "98765432", 1, 1968, 7, 4), MINT_REFUSED, MINT_POLICY_SSN, 0x3E3E,
         "policy_ssn: invalid ssn"},
        {"policy gender", q, person(h.name, h.ssn, 0, 1968, 7, 4), MINT_REFUSED, MINT_POLICY_GENDER, 0x373E,
         "policy_gender: not 1 or 2"},
        {"policy year", q, person(h.name, h.ssn, 1, INT32_MIN + 1, 7, 4), MINT_REFUSED, MINT_POLICY_BIRTH_YEAR,
         0x2F3E, "policy_birth_year: not from 1851 to 2099"},
        {"policy month", q, person(h.name, h.ssn, 1, 1968, -7, 4), MINT_REFUSED, MINT_POLICY_BIRTH_MONTH, 0x1F3E,
         "policy_birth_month: not from 1 to 12"},
        {"policy day", q, person(h.name, h.ssn, 1, 1968, 7, 32), MINT_REFUSED, MINT_POLICY_BIRTH_DAY, 0x3B3E,
         "policy_birth_day: not from 1 to 31"},
        // A refused policy field refuses the record even when the patient's
        // own key is complete, as in mintbatch.
        {"policy day beside a patient key", p, person(h.name, h.ssn, 1, 1968, 7, 32), MINT_REFUSED,
         MINT_POLICY_BIRTH_DAY, 0x3B3F, "policy_birth_day: not from 1 to 31"},
        // The first refusal in column order is the one named.
        {"patient year before policy SSN", person(p.name, p.ssn, 2, 1492, 1, 31), person(h.name, "1", 1, 1968, 7, 4),
         MINT_REFUSED, MINT_PATIENT_BIRTH_YEAR, 0x3E2F, "patient_birth_year: not from 1851 to 2099"},
        // A name without letters counts only when the record is unusable.
        {"patient name without letters", person("12-34", p.ssn, 2, 1970, 1, 31), nobody, MINT_REFUSED,
         MINT_PATIENT_NAME, 0x003D, "patient_name: no letters"},
        {"policy name without letters", q, person("...", h.ssn, 1, 1968, 7, 4), MINT_REFUSED, MINT_POLICY_NAME,
         0x3D3E, "policy_name: no letters"},
        {"bad name and a bad SSN", person("%", "12", 2, 1970, 1, 31), nobody, MINT_REFUSED, MINT_PATIENT_SSN, 0x003C,
         "patient_ssn: invalid ssn"},
        // An SSN given but neither key complete: the marks uuid_create prints.
        {"patient without year", person(p.name, p.ssn, 2, MINT_NOT_GIVEN, 1, 31), nobody, MINT_INCOMPLETE,
         MINT_FIELD_NONE, 0x002F, "incomplete record: an ssn is given but neither key has all its fields"},
        {"patient without name and SSN", person(nullptr, nullptr, 2, 1970, 1, 31), h, MINT_INCOMPLETE,
         MINT_FIELD_NONE, 0x3F3C, "incomplete record: an ssn is given but neither key has all its fields"},
        {"policy holder without day", q, person(h.name, h.ssn, 1, 1968, 7, MINT_NOT_GIVEN), MINT_INCOMPLETE,
         MINT_FIELD_NONE, 0x3B3E, "incomplete record: an ssn is given but neither key has all its fields"},
        {"policy SSN alone", nobody, person(nullptr, h.ssn, MINT_NOT_GIVEN, MINT_NOT_GIVEN, MINT_NOT_GIVEN, MINT_NOT_GIVEN),
         MINT_INCOMPLETE, MINT_FIELD_NONE, 0x0100, "incomplete record: an ssn is given but neither key has all its fields"},
    };
    for (const refusal_case& c : cases) {
        const outcome o = derive(&c.patient, &c.policy);
        EXPECT_EQ(o.returned, c.status) << c.what;
        EXPECT_EQ(o.result.status, c.status) << c.what;
        EXPECT_EQ(o.result.field, c.field) << c.what;
        EXPECT_EQ(o.result.flags, c.flags) << c.what;
        EXPECT_STREQ(mint_result_text(&o.result), c.text) << c.what;
        EXPECT_EQ(o.identifier, "") << c.what;
    }
}

TEST(MintDerive, RefusedNamesThatDoNotMatter) {
    // No SSN anywhere: the zero identifier, as mintbatch gives it.
    const mint_person digits_only = person("4711", nullptr, 2, 1970, 1, 31);
    outcome o = derive(&digits_only, nullptr);
    EXPECT_EQ(o.returned, MINT_ZERO);
    EXPECT_EQ(o.result.flags, 0x003Cu);
    // A complete patient key does not need the policy holder's name.
    const mint_person no_letters = person("--", john.ssn, 1, 1968, 7, 4);
    o = derive(&jane, &no_letters);
    EXPECT_EQ(o.returned, MINT_IDENTIFIER);
    EXPECT_EQ(o.identifier, "uc1kb3lfu4p3");
}

TEST(MintDerive, BadArguments) {
    mint_result result{};
    EXPECT_EQ(mint_derive(&jane, nullptr, nullptr, nullptr, &result), MINT_BAD_ARGUMENT);
    EXPECT_EQ(result.status, MINT_BAD_ARGUMENT);
    EXPECT_STREQ(mint_result_text(&result),
                 "bad argument: no output buffer, an unknown ssn rule or a key without its bytes");

    char identifier[MINT_ID_SIZE] = "xxxxxxxxxxxx";
    const mint_options unknown_rule{2, nullptr, 0};
    EXPECT_EQ(mint_derive(&jane, nullptr, &unknown_rule, identifier, nullptr), MINT_BAD_ARGUMENT);
    EXPECT_STREQ(identifier, "");
    // A length without its bytes is a caller's mistake, never an unkeyed identifier.
    const mint_options key_without_bytes{MINT_SSN_STRICT, nullptr, 16};
    EXPECT_EQ(mint_derive(&jane, nullptr, &key_without_bytes, identifier, nullptr), MINT_BAD_ARGUMENT);
}

// A key pointer with no bytes (an empty secret read from somewhere) is
// refused under either rule, never taken for no key: the unkeyed identifier
// would be one anyone can compute.
TEST(MintDerive, EmptyKeyIsRefused) {
    const unsigned char secret[] = {1, 2, 3};
    for (const int32_t rule : {MINT_SSN_STRICT, MINT_SSN_LENIENT}) {
        const mint_options empty_key{rule, secret, 0};
        char identifier[MINT_ID_SIZE] = "xxxxxxxxxxxx";
        mint_result result{-1, -1, 0};
        EXPECT_EQ(mint_derive(&jane, nullptr, &empty_key, identifier, &result), MINT_EMPTY_KEY);
        EXPECT_EQ(result.status, MINT_EMPTY_KEY);
        EXPECT_EQ(result.field, MINT_FIELD_NONE);
        EXPECT_STREQ(identifier, "");
        EXPECT_STREQ(mint_result_text(&result),
                     "empty key: a key needs at least one byte (no key at all is a NULL key)");
    }
    // The codes before it keep their numbers.
    EXPECT_EQ(MINT_BAD_ARGUMENT, 4);
    EXPECT_EQ(MINT_EMPTY_KEY, 5);
}

// The secret of tests/data/keys/test.key, whose worked examples the Python
// reference derives independently.
const unsigned char test_secret[] = {0x7b, 0x9d, 0x7e, 0x32, 0xdf, 0xd4, 0x3f, 0x36, 0x5b, 0xe5, 0x01,
                                     0xab, 0x42, 0x42, 0x4e, 0x46, 0xca, 0xeb, 0x51, 0x6d, 0x34, 0x67,
                                     0x64, 0x9b, 0x68, 0x6b, 0xb0, 0xb8, 0xdd, 0xa5, 0x0d, 0x7d};
constexpr mint_options keyed{MINT_SSN_STRICT, test_secret, sizeof test_secret};

TEST(MintDerive, KeyedWorkedExamples) {
    EXPECT_EQ(derive(&jane, nullptr, &keyed).identifier, "mib97ds9ej5d");
    EXPECT_EQ(derive(&jane_without_ssn, &john, &keyed).identifier, "8l00kma9drtk");
    // Nothing but the identifier's value changes: no SSN is still nobody,
    // and a refusal is still a refusal.
    const outcome zero = derive(&jane_without_ssn, nullptr, &keyed);
    EXPECT_EQ(zero.returned, MINT_ZERO);
    EXPECT_EQ(zero.identifier, "000000000000");
    const mint_person eight_digits = person("Jane Doe", "12345678", 2, 1970, 1, 31);
    EXPECT_EQ(derive(&eight_digits, nullptr, &keyed).returned, MINT_REFUSED);
    const mint_options keyed_lenient{MINT_SSN_LENIENT, test_secret, sizeof test_secret};
    const outcome lenient_keyed = derive(&eight_digits, nullptr, &keyed_lenient);
    EXPECT_EQ(lenient_keyed.returned, MINT_IDENTIFIER);
    EXPECT_NE(lenient_keyed.identifier, "pd6l21movp5l");
    // Every byte of the secret counts.
    unsigned char other_secret[sizeof test_secret];
    std::memcpy(other_secret, test_secret, sizeof other_secret);
    other_secret[sizeof other_secret - 1] ^= 1;
    const mint_options other{MINT_SSN_STRICT, other_secret, sizeof other_secret};
    const outcome under_other = derive(&jane, nullptr, &other);
    EXPECT_EQ(under_other.returned, MINT_IDENTIFIER);
    EXPECT_NE(under_other.identifier, "mib97ds9ej5d");
    EXPECT_NE(under_other.identifier, "uc1kb3lfu4p3");
}

// A key prepared once derives what the same secret gives in the options,
// for every kind of result and both SSN rules; no key derives unkeyed.
TEST(MintDerivePrepared, MatchesMintDeriveWithTheSameSecret) {
    mint_key key;
    ASSERT_EQ(mint_key_prepare(test_secret, sizeof test_secret, &key), 0);
    const mint_person eight_digits = person("Jane Doe", "12345678", 2, 1970, 1, 31);
    const mint_person bad_year = person("Jane Doe", "123-45-6789", 2, 2100, 1, 31);
    const struct {
        const mint_person* patient;
        const mint_person* policy;
    } records[] = {{&jane, nullptr}, {&jane_without_ssn, &john}, {&jane_without_ssn, nullptr},
                   {&eight_digits, nullptr}, {&bad_year, nullptr}, {&nobody, &john}};
    for (const int32_t rule : {MINT_SSN_STRICT, MINT_SSN_LENIENT}) {
        const mint_options with_secret{rule, test_secret, sizeof test_secret};
        const mint_options without_key{rule, nullptr, 0};
        for (const auto& r : records) {
            for (const bool keyed_call : {true, false}) {
                const outcome want = derive(r.patient, r.policy, keyed_call ? &with_secret : &without_key);
                char identifier[MINT_ID_SIZE];
                mint_result result{};
                const int32_t returned =
                    mint_derive_prepared(r.patient, r.policy, rule, keyed_call ? &key : nullptr, identifier, &result);
                EXPECT_EQ(returned, want.returned);
                EXPECT_EQ(result.status, want.result.status);
                EXPECT_EQ(result.field, want.result.field);
                EXPECT_EQ(result.flags, want.result.flags);
                EXPECT_EQ(std::string(identifier), want.identifier) << "rule " << rule << " keyed " << keyed_call;
            }
        }
    }
    char identifier[MINT_ID_SIZE];
    ASSERT_EQ(mint_derive_prepared(&jane, nullptr, MINT_SSN_STRICT, &key, identifier, nullptr), MINT_IDENTIFIER);
    EXPECT_STREQ(identifier, "mib97ds9ej5d");
}

TEST(MintDerivePrepared, BadArguments) {
    mint_key key;
    const unsigned char secret[] = {1, 2, 3};
    EXPECT_EQ(mint_key_prepare(nullptr, 3, &key), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_key_prepare(secret, 0, &key), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_key_prepare(secret, sizeof secret, nullptr), MINT_BAD_ARGUMENT);
    char identifier[MINT_ID_SIZE] = "xxxxxxxxxxxx";
    mint_result result{};
    // A key never prepared is a caller's mistake, never an unkeyed identifier.
    mint_key unprepared;
    std::memset(&unprepared, 0, sizeof unprepared);
    EXPECT_EQ(mint_derive_prepared(&jane, nullptr, MINT_SSN_STRICT, &unprepared, identifier, &result),
              MINT_BAD_ARGUMENT);
    EXPECT_EQ(result.status, MINT_BAD_ARGUMENT);
    EXPECT_STREQ(identifier, "");
    ASSERT_EQ(mint_key_prepare(secret, sizeof secret, &key), 0);
    EXPECT_EQ(mint_derive_prepared(&jane, nullptr, 2, &key, identifier, nullptr), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_derive_prepared(&jane, nullptr, MINT_SSN_STRICT, &key, nullptr, nullptr), MINT_BAD_ARGUMENT);
    char key_id[MINT_KEY_ID_SIZE];
    EXPECT_EQ(mint_key_id(&unprepared, key_id), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_key_id(nullptr, key_id), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_key_id(&key, nullptr), MINT_BAD_ARGUMENT);
}

// Fingerprints computed with Python's hmac module: the first 8 bytes of
// HMAC-SHA-256(secret, "mint key id"), for a short key, the test key and a
// key longer than a block (hashed first).
TEST(MintKeyId, IsTheMacOfAFixedLabel) {
    const unsigned char short_secret[] = {0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10,
                                          0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    unsigned char long_secret[100];
    for (size_t i = 0; i < sizeof long_secret; ++i) long_secret[i] = static_cast<unsigned char>(i);
    const struct {
        const unsigned char* secret;
        size_t length;
        const char* key_id;
    } cases[] = {{short_secret, sizeof short_secret, "92bd20ab721d9188"},
                 {test_secret, sizeof test_secret, "b913d80e9c15b16f"},
                 {long_secret, sizeof long_secret, "179cf32761054e87"}};
    for (const auto& c : cases) {
        mint_key key;
        ASSERT_EQ(mint_key_prepare(c.secret, c.length, &key), 0);
        char key_id[MINT_KEY_ID_SIZE];
        std::memset(key_id, 'x', sizeof key_id);
        ASSERT_EQ(mint_key_id(&key, key_id), 0);
        EXPECT_STREQ(key_id, c.key_id);
    }
}

TEST(MintTexts, FieldNamesAndResultTexts) {
    const char* const names[] = {"patient_name", "patient_ssn",  "patient_gender", "patient_birth_year",
                                 "patient_birth_month", "patient_birth_day", "policy_name", "policy_ssn",
                                 "policy_gender", "policy_birth_year", "policy_birth_month", "policy_birth_day"};
    for (int32_t field = MINT_PATIENT_NAME; field <= MINT_POLICY_BIRTH_DAY; ++field) {
        EXPECT_STREQ(mint_field_name(field), names[field - 1]);
        // Every refusal's text starts with its field's name.
        const mint_result refused{MINT_REFUSED, field, 0};
        EXPECT_EQ(std::string(mint_result_text(&refused)).rfind(std::string(names[field - 1]) + ": ", 0), 0u)
            << mint_result_text(&refused);
    }
    for (int32_t other : {MINT_FIELD_NONE, -1, 13, INT32_MIN}) {
        EXPECT_STREQ(mint_field_name(other), "");
        const mint_result refused{MINT_REFUSED, other, 0};
        EXPECT_STREQ(mint_result_text(&refused), "refused field");
    }
    const mint_result derived{MINT_IDENTIFIER, MINT_FIELD_NONE, 0x3F};
    EXPECT_STREQ(mint_result_text(&derived), "identifier derived");
    const mint_result zero{MINT_ZERO, MINT_FIELD_NONE, 0};
    EXPECT_STREQ(mint_result_text(&zero), "no ssn given: the zero identifier");
    const mint_result unknown{99, MINT_FIELD_NONE, 0};
    EXPECT_STREQ(mint_result_text(&unknown), "unknown result");
    EXPECT_STREQ(mint_result_text(nullptr), "unknown result");
}

TEST(MintVersion, IsTheProjectVersion) {
    EXPECT_STREQ(mint_version(), MINT_TEST_PROJECT_VERSION);
}

// Columns of records of every kind, with the single call's answers.
struct column_rows {
    std::vector<mint_person> patients;
    std::vector<mint_person> policies;
    std::vector<const char*> patient_name, patient_ssn, policy_name, policy_ssn;
    std::vector<int32_t> patient_gender, patient_birth_year, patient_birth_month, patient_birth_day;
    std::vector<int32_t> policy_gender, policy_birth_year, policy_birth_month, policy_birth_day;

    void add(const mint_person& patient, const mint_person& policy) {
        patients.push_back(patient);
        policies.push_back(policy);
        patient_name.push_back(patient.name);
        patient_ssn.push_back(patient.ssn);
        patient_gender.push_back(patient.gender);
        patient_birth_year.push_back(patient.birth_year);
        patient_birth_month.push_back(patient.birth_month);
        patient_birth_day.push_back(patient.birth_day);
        policy_name.push_back(policy.name);
        policy_ssn.push_back(policy.ssn);
        policy_gender.push_back(policy.gender);
        policy_birth_year.push_back(policy.birth_year);
        policy_birth_month.push_back(policy.birth_month);
        policy_birth_day.push_back(policy.birth_day);
    }

    mint_columns columns() const {
        return {patient_name.data(),       patient_ssn.data(),       patient_gender.data(),
                patient_birth_year.data(), patient_birth_month.data(), patient_birth_day.data(),
                policy_name.data(),        policy_ssn.data(),        policy_gender.data(),
                policy_birth_year.data(),  policy_birth_month.data(), policy_birth_day.data()};
    }
};

// Patient keys, policy keys, zero identifiers and refusals in an order that
// leaves a derivable record waiting for a partner across the others, and
// one waiting at the end.
column_rows mixed_rows() {
    static const char* const names[] = {"Ann Lee", "Bo Chen", "Carla Rossi", "Dmitri O'Neil", "Eve"};
    static const char* const ssns[] = {"111-22-3333", "444556666", "777-88-9999", "12345678", "000-00-0000"};
    column_rows rows;
    for (int i = 0; i < 41; ++i) {
        const char* name = names[i % 5];
        const mint_person own = person(name, ssns[i % 5], 1 + i % 2, 1930 + i, 1 + i % 12, 1 + i % 28);
        const mint_person dependant = person(name, nullptr, 1 + i % 2, 2000 + i % 20, 1 + i % 12, 1 + i % 28);
        const mint_person holder = person(names[(i + 2) % 5], ssns[(i + 1) % 5], 2, 1960 + i, 12, 2);
        switch (i % 7) {
            case 0:
            case 3:
            case 4:
                rows.add(own, nobody);
                break;
            case 1:
            case 5:
                rows.add(dependant, holder);
                break;
            case 2:
                rows.add(dependant, nobody);
                break;
            default:
                rows.add(person(name, ssns[i % 5], 7, 1970, 1, 1), holder);
                break;
        }
    }
    return rows;
}

void expect_columns_match_single_calls(const column_rows& rows, const mint_columns& columns,
                                       const mint_options* options) {
    const size_t n = rows.patients.size();
    std::vector<char> identifiers(n * MINT_ID_SIZE, 'x');
    std::vector<mint_result> results(n, mint_result{-1, -1, 0xFFFFFFFF});
    ASSERT_EQ(mint_derive_columns(&columns, n, options, identifiers.data(), results.data()), 0);
    for (size_t row = 0; row < n; ++row) {
        const outcome single = derive(&rows.patients[row], &rows.policies[row], options);
        EXPECT_EQ(std::string(&identifiers[row * MINT_ID_SIZE]), single.identifier) << "row " << row;
        EXPECT_EQ(identifiers[row * MINT_ID_SIZE + MINT_ID_SIZE - 1], '\0') << "row " << row;
        EXPECT_EQ(results[row].status, single.result.status) << "row " << row;
        EXPECT_EQ(results[row].field, single.result.field) << "row " << row;
        EXPECT_EQ(results[row].flags, single.result.flags) << "row " << row;
    }
}

TEST(MintDeriveColumns, MatchesTheSingleCallRowByRow) {
    const column_rows rows = mixed_rows();
    const mint_columns columns = rows.columns();
    expect_columns_match_single_calls(rows, columns, nullptr);
    expect_columns_match_single_calls(rows, columns, &lenient);
    expect_columns_match_single_calls(rows, columns, &keyed);
    // Every kind of result is among the rows, so each path is compared.
    std::vector<int> kinds(5);
    for (size_t row = 0; row < rows.patients.size(); ++row) {
        ++kinds[static_cast<size_t>(derive(&rows.patients[row], &rows.policies[row]).returned)];
    }
    EXPECT_GT(kinds[MINT_IDENTIFIER], 10);
    EXPECT_GT(kinds[MINT_ZERO], 0);
    EXPECT_GT(kinds[MINT_REFUSED], 0);
}

TEST(MintDeriveColumns, EveryLengthPairsItsRecordsRight) {
    const column_rows all = mixed_rows();
    for (size_t n = 1; n <= 6; ++n) {
        column_rows rows;
        for (size_t row = 0; row < n; ++row) rows.add(all.patients[row], all.policies[row]);
        expect_columns_match_single_calls(rows, rows.columns(), nullptr);
        expect_columns_match_single_calls(rows, rows.columns(), &keyed);
    }
}

TEST(MintDeriveColumns, AMissingColumnIsNotGivenInAnyRow) {
    column_rows rows;
    rows.add(jane, john);
    rows.add(jane_without_ssn, john);
    rows.add(person("Al", "", 1, 1999, 9, 9), john);
    mint_columns columns = rows.columns();
    columns.patient_ssn = nullptr;
    columns.policy_birth_day = nullptr;
    column_rows expected;
    for (size_t row = 0; row < 3; ++row) {
        mint_person patient = rows.patients[row];
        mint_person policy = rows.policies[row];
        patient.ssn = nullptr;
        policy.birth_day = MINT_NOT_GIVEN;
        expected.add(patient, policy);
    }
    expect_columns_match_single_calls(expected, columns, nullptr);

    // No columns at all: every row is nobody's.
    const mint_columns none{};
    char identifiers[2 * MINT_ID_SIZE];
    mint_result results[2];
    ASSERT_EQ(mint_derive_columns(&none, 2, nullptr, identifiers, results), 0);
    EXPECT_STREQ(identifiers + MINT_ID_SIZE, "000000000000");
    EXPECT_EQ(results[1].status, MINT_ZERO);
}

TEST(MintDeriveColumns, ResultsAreOptionalAndArgumentsChecked) {
    column_rows rows;
    rows.add(jane, nobody);
    const mint_columns columns = rows.columns();
    char identifier[MINT_ID_SIZE] = "xxxxxxxxxxxx";
    EXPECT_EQ(mint_derive_columns(&columns, 1, nullptr, identifier, nullptr), 0);
    EXPECT_STREQ(identifier, "uc1kb3lfu4p3");

    char untouched[MINT_ID_SIZE] = "xxxxxxxxxxxx";
    mint_result result{-1, -1, 0};
    EXPECT_EQ(mint_derive_columns(nullptr, 1, nullptr, untouched, &result), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_derive_columns(&columns, 1, nullptr, nullptr, &result), MINT_BAD_ARGUMENT);
    const mint_options unknown_rule{-1, nullptr, 0};
    EXPECT_EQ(mint_derive_columns(&columns, 1, &unknown_rule, untouched, &result), MINT_BAD_ARGUMENT);
    const unsigned char secret[] = {1, 2, 3};
    const mint_options empty_key{MINT_SSN_STRICT, secret, 0};
    EXPECT_EQ(mint_derive_columns(&columns, 1, &empty_key, untouched, &result), MINT_EMPTY_KEY);
    EXPECT_STREQ(untouched, "xxxxxxxxxxxx");
    EXPECT_EQ(result.status, -1) << "a refused call writes nothing";
    // No rows: nothing to do, and nothing needed, but the options are still judged.
    EXPECT_EQ(mint_derive_columns(nullptr, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(mint_derive_columns(nullptr, 0, &empty_key, nullptr, nullptr), MINT_EMPTY_KEY);
}


// ---- Fields as CSV exports hold them ----

struct read_case {
    const char* text;
    int32_t status;
    int32_t value;
};

TEST(MintReadNumber, JudgesTheTextAsMintbatchDoes) {
    const read_case cases[] = {
        {"1970", MINT_TEXT_VALUE, 1970},
        {"-3", MINT_TEXT_VALUE, -3},
        {"007", MINT_TEXT_VALUE, 7},
        {"", MINT_TEXT_ABSENT, MINT_NOT_GIVEN},
        {"-", MINT_TEXT_ABSENT, MINT_NOT_GIVEN},
        {" 1970", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
        {"1970 ", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
        {"+1970", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
        {"19x0", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
        {"1970.0", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
        {"--1", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
        {"99999999999", MINT_TEXT_VALUE, INT32_MAX},
        // Saturated to INT32_MIN, which would read as not given: refused instead.
        {"-2147483648", MINT_TEXT_VALUE, MINT_TEXT_REFUSED_VALUE},
        {"-99999999999", MINT_TEXT_VALUE, MINT_TEXT_REFUSED_VALUE},
        {"-2147483647", MINT_TEXT_VALUE, INT32_MIN + 1},
    };
    for (const read_case& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(mint_read_number(c.text, &value), c.status) << "'" << c.text << "'";
        EXPECT_EQ(value, c.value) << "'" << c.text << "'";
    }
    int32_t value = 0;
    EXPECT_EQ(mint_read_number(nullptr, &value), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_read_number("1", nullptr), MINT_BAD_ARGUMENT);
}

TEST(MintReadNumber, ValuesPassedOnGiveMintDerivesOutcome) {
    // Jane Doe's record as text fields, and with each kind of refused text.
    const auto derive_texts = [](const char* gender, const char* year) {
        mint_person p = jane;
        mint_read_number(gender, &p.gender);
        mint_read_number(year, &p.birth_year);
        return derive(&p, nullptr);
    };
    EXPECT_EQ(derive_texts("2", "1970").identifier, "uc1kb3lfu4p3");
    for (const char* year : {" 1970", "-2147483648", "1970.0"}) {
        const outcome o = derive_texts("2", year);
        EXPECT_EQ(o.returned, MINT_REFUSED) << year;
        EXPECT_EQ(o.result.field, MINT_PATIENT_BIRTH_YEAR) << year;
    }
    const outcome no_year = derive_texts("2", "");
    EXPECT_EQ(no_year.returned, MINT_INCOMPLETE);
}

TEST(MintReadDate, EachFormatAndItsRefusals) {
    struct date_case {
        const char* format;
        const char* text;
        int32_t status;
        int32_t year, month, day;
    };
    constexpr int32_t g = MINT_NOT_GIVEN;
    constexpr int32_t r = MINT_TEXT_REFUSED_VALUE;
    const date_case cases[] = {
        {"%Y-%m-%d", "1970-01-31", MINT_TEXT_VALUE, 1970, 1, 31},
        {"%Y-%m-%d", "1970-1-3", MINT_TEXT_VALUE, 1970, 1, 3},
        {"%Y-%m-%d", "", MINT_TEXT_ABSENT, g, g, g},
        {"%Y-%m-%d", "70-01-31", MINT_TEXT_REFUSED, r, g, g},
        {"%Y-%m-%d", "1970-01-31 ", MINT_TEXT_REFUSED, r, g, g},
        {"%Y-%m-%d", "31/01/1970", MINT_TEXT_REFUSED, r, g, g},
        {"%d/%m/%Y", "31/01/1970", MINT_TEXT_VALUE, 1970, 1, 31},
        {"%m/%d/%Y", "01/31/1970", MINT_TEXT_VALUE, 1970, 1, 31},
        {"%d.%m.%Y", "31.1.1970", MINT_TEXT_VALUE, 1970, 1, 31},
        {"%Y%m%d", "19700131", MINT_TEXT_VALUE, 1970, 1, 31},
        {"%Y%m%d", "1970131", MINT_TEXT_REFUSED, r, g, g},
        // Out of range parts are values here; mint_derive refuses them.
        {"%Y-%m-%d", "1970-13-31", MINT_TEXT_VALUE, 1970, 13, 31},
    };
    for (const date_case& c : cases) {
        const int32_t format = mint_date_format(c.format);
        ASSERT_GE(format, 0) << c.format;
        int32_t y = 0, m = 0, d = 0;
        EXPECT_EQ(mint_read_date(c.text, format, &y, &m, &d), c.status) << c.format << " " << c.text;
        EXPECT_EQ(std::vector<int32_t>({y, m, d}), std::vector<int32_t>({c.year, c.month, c.day}))
            << c.format << " " << c.text;
    }
    EXPECT_EQ(mint_date_format("%Y/%m/%d"), -1);
    EXPECT_EQ(mint_date_format(nullptr), -1);
    int32_t y = 0, m = 0, d = 0;
    EXPECT_EQ(mint_read_date("1970-01-31", 5, &y, &m, &d), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_read_date("1970-01-31", -1, &y, &m, &d), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_read_date("1970-01-31", MINT_DATE_Y_M_D, &y, nullptr, &d), MINT_BAD_ARGUMENT);
}

TEST(MintReadGender, CodesAnyCaseThenNumbers) {
    mint_gender_codes codes;
    ASSERT_EQ(mint_gender_codes_parse("M=1,F=2,divers=3", &codes), 0);
    EXPECT_EQ(codes.count, 3u);
    const read_case cases[] = {
        {"M", MINT_TEXT_VALUE, 1}, {"f", MINT_TEXT_VALUE, 2},   {"DIVERS", MINT_TEXT_VALUE, 3},
        {"2", MINT_TEXT_VALUE, 2}, {"", MINT_TEXT_ABSENT, MINT_NOT_GIVEN}, {" M", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
        {"X", MINT_TEXT_REFUSED, MINT_TEXT_REFUSED_VALUE},
    };
    for (const read_case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(mint_read_gender(c.text, &codes, &value), c.status) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    int32_t value = 0;
    EXPECT_EQ(mint_read_gender("M", nullptr, &value), MINT_TEXT_REFUSED);
    EXPECT_EQ(mint_read_gender("1", nullptr, &value), MINT_TEXT_VALUE);
    // A caller's struct with a count beyond the codes and a code without its zero is read safely.
    std::memset(&codes, 'M', sizeof codes);
    codes.count = 1000;
    EXPECT_EQ(mint_read_gender("x", &codes, &value), MINT_TEXT_REFUSED);
    for (const char* bad : {"", "M", "M=", "=1", "M=1,", "M=x", "M=1;F=2",
                            "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa=1",
                            "a=1,b=1,c=1,d=1,e=1,f=1,g=1,h=1,i=1,j=1,k=1,l=1,m=1,n=1,o=1,p=1,q=1"}) {
        EXPECT_EQ(mint_gender_codes_parse(bad, &codes), MINT_BAD_ARGUMENT) << bad;
    }
    EXPECT_EQ(mint_gender_codes_parse(nullptr, &codes), MINT_BAD_ARGUMENT);
}

TEST(MintMapColumns, NamesAsMintbatchMapsTheHeader) {
    EXPECT_STREQ(mint_column_field_name(MINT_COLUMN_DATA_RECORD), "data_record");
    EXPECT_STREQ(mint_column_field_name(MINT_PATIENT_SSN), "patient_ssn");
    EXPECT_STREQ(mint_column_field_name(MINT_COLUMN_POLICY_BIRTH_DATE), "policy_birth_date");
    EXPECT_STREQ(mint_column_field_name(MINT_COLUMN_FIELDS), "");
    EXPECT_EQ(mint_column_field(" Patient_SSN "), MINT_PATIENT_SSN);
    EXPECT_EQ(mint_column_field("ssn"), -1);

    struct map_case {
        const char* what;
        std::vector<const char*> names;
        std::vector<std::pair<int32_t, const char*>> mapped;
        int32_t problem;
        int32_t field;
        std::vector<std::pair<int32_t, int32_t>> columns;  // field, column
    };
    const map_case cases[] = {
        {"any case and order, other columns anywhere",
         {"Visit", " PATIENT_GENDER", "patient_name", "patient_birth_date", nullptr, "", "Patient_SSN"},
         {}, MINT_MAP_OK, 0,
         {{MINT_PATIENT_GENDER, 1}, {MINT_PATIENT_NAME, 2}, {MINT_COLUMN_PATIENT_BIRTH_DATE, 3},
          {MINT_PATIENT_SSN, 6}, {MINT_POLICY_SSN, -1}, {MINT_PATIENT_BIRTH_YEAR, -1}}},
        {"mapped columns, and a quote and comma in a name",
         {"Sex", "Name", "DOB", "SSN \"x\", y", "ID"},
         {{MINT_PATIENT_GENDER, "sex"}, {MINT_PATIENT_NAME, "Name"}, {MINT_COLUMN_PATIENT_BIRTH_DATE, "DOB"},
          {MINT_PATIENT_SSN, "SSN \"x\", y"}, {MINT_COLUMN_DATA_RECORD, "ID"}},
         MINT_MAP_OK, 0,
         {{MINT_PATIENT_GENDER, 0}, {MINT_PATIENT_NAME, 1}, {MINT_COLUMN_PATIENT_BIRTH_DATE, 2}, {MINT_PATIENT_SSN, 3},
          {MINT_COLUMN_DATA_RECORD, 4}}},
        {"a missing required column leaves the others mapped",
         {"patient_name", "patient_ssn", "patient_birth_date"}, {}, MINT_MAP_MISSING_COLUMN, MINT_PATIENT_GENDER,
         {{MINT_PATIENT_NAME, 0}, {MINT_PATIENT_SSN, 1}, {MINT_COLUMN_PATIENT_BIRTH_DATE, 2}}},
        {"no birth at all", {"patient_name", "patient_gender"}, {}, MINT_MAP_MISSING_COLUMN,
         MINT_COLUMN_PATIENT_BIRTH_DATE, {}},
        {"a mapped column not there", {"patient_name", "patient_gender", "patient_birth_date"},
         {{MINT_PATIENT_SSN, "SSN"}}, MINT_MAP_MISSING_MAPPED, MINT_PATIENT_SSN, {}},
        {"a column claimed twice", {"Name", "patient_gender", "patient_birth_date"},
         {{MINT_PATIENT_NAME, "Name"}, {MINT_POLICY_NAME, "name"}}, MINT_MAP_CLAIMED_TWICE, MINT_PATIENT_NAME, {}},
        {"two columns of one name", {"patient_name", "x", "patient_gender", "X ", "patient_birth_date"}, {},
         MINT_MAP_DUPLICATE_COLUMN, 0, {}},
        {"a date and its numbers", {"patient_name", "patient_gender", "patient_birth_date", "patient_birth_day"}, {},
         MINT_MAP_DATE_AND_NUMBERS, MINT_COLUMN_PATIENT_BIRTH_DATE, {}},
    };
    for (const map_case& c : cases) {
        const char* mapped[MINT_COLUMN_FIELDS] = {};
        for (const auto& m : c.mapped) mapped[m.first] = m.second;
        mint_column_map map;
        EXPECT_EQ(mint_map_columns(c.names.data(), c.names.size(), mapped, &map), c.problem) << c.what;
        EXPECT_EQ(map.problem, c.problem) << c.what;
        if (c.problem != MINT_MAP_OK) {
            EXPECT_EQ(map.field, c.field) << c.what;
        }
        for (const auto& f : c.columns) EXPECT_EQ(map.column[f.first], f.second) << c.what << " field " << f.first;
    }
    mint_column_map map;
    const char* twice[] = {"a", "b", "A"};
    EXPECT_EQ(mint_map_columns(twice, 3, nullptr, &map), MINT_MAP_DUPLICATE_COLUMN);
    EXPECT_EQ(map.duplicate, 2);
    EXPECT_EQ(mint_map_columns(nullptr, 1, nullptr, &map), MINT_BAD_ARGUMENT);
    EXPECT_EQ(mint_map_columns(twice, 3, nullptr, nullptr), MINT_BAD_ARGUMENT);
    // More columns, or more bytes of names, than a header may have.
    std::vector<const char*> many(MINT_MOST_COLUMNS + 1, "");
    EXPECT_EQ(mint_map_columns(many.data(), many.size(), nullptr, &map), MINT_MAP_TOO_MANY_COLUMNS);
    const std::string long_name(70 * 1024, 'a');
    const char* long_names[] = {"patient_name", long_name.c_str()};
    EXPECT_EQ(mint_map_columns(long_names, 2, nullptr, &map), MINT_MAP_TOO_MANY_COLUMNS);
}

TEST(MintInterface, PrintsNothing) {
    // The library's own setters and uuid_create would print a line for each.
    const std::string printed = stdout_of([] {
        const mint_person bad_ssn = person("Jane Doe", "12", 2, 1970, 1, 31);
        const mint_person bad_name = person("!", "123456789", 2, 1970, 1, 31);
        const mint_person bad_numbers = person("Jane Doe", "123456789", 3, 1800, 13, 32);
        const mint_person no_year = person("Jane Doe", "123456789", 2, MINT_NOT_GIVEN, 1, 31);
        for (const mint_person* p : {&bad_ssn, &bad_name, &bad_numbers, &no_year}) {
            derive(p, p);
            derive(p, nullptr, &lenient);
        }
        column_rows rows;
        for (const mint_person* p : {&bad_ssn, &bad_name, &bad_numbers, &no_year}) rows.add(*p, *p);
        const mint_columns columns = rows.columns();
        char identifiers[4 * MINT_ID_SIZE];
        mint_derive_columns(&columns, 4, nullptr, identifiers, nullptr);
    });
    EXPECT_EQ(printed, "");
}

}  // namespace
