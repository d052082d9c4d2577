// Identity record setters: normalisation, both SSN rules, ranges, messages.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "mintcore.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

constexpr bool strict_rule = MINT_TEST_STRICT_SSN != 0;

using TextSetter = int (*)(uuid_hash_data*, char*);
using IntSetter = int (*)(uuid_hash_data*, int);

// Runs a text setter on a copy of `text` (the setters take non-const text).
int call(TextSetter setter, uuid_hash_data* data, const std::string& text) {
    std::vector<char> copy(text.begin(), text.end());
    copy.push_back('\0');
    return setter(data, copy.data());
}

std::vector<int> bytes_of(const unsigned char* field, size_t length) {
    return std::vector<int>(field, field + length);
}

std::vector<int> padded(std::vector<int> values, size_t length) {
    values.resize(length, 0);
    return values;
}

struct TextField {
    const char* name;
    TextSetter setter;
    unsigned char* (*field)(uuid_hash_data&);
    size_t length;
    uint32_t mark;
    const char* word;  // "name" or "ssn"
};

const TextField names[] = {
    {"patient_name", uuid_hash_set_patient_name, [](uuid_hash_data& d) { return d.patient_name; }, 20,
     PATIENT_NAME_SET, "name"},
    {"policy_name", uuid_hash_set_policy_name, [](uuid_hash_data& d) { return d.policy_name; }, 20,
     POLICY_NAME_SET, "name"},
};
const TextField ssns[] = {
    {"patient_ssn", uuid_hash_set_patient_ssn, [](uuid_hash_data& d) { return d.patient_ssn; }, 9,
     PATIENT_SSN_SET, "ssn"},
    {"policy_ssn", uuid_hash_set_policy_ssn, [](uuid_hash_data& d) { return d.policy_ssn; }, 9,
     POLICY_SSN_SET, "ssn"},
};

std::string invalid_message(const TextField& f) {
    return std::string("Error in uuid_hash_set_") + f.name + "(), invalid " + f.word + " passed in.\n";
}

TEST(Identity, InitializeClearsEveryByte) {
    uuid_hash_data data;
    std::memset(&data, 0xAB, sizeof data);
    EXPECT_EQ(stdout_of([&] { uuid_initialize(&data); }), "");
    const auto* bytes = reinterpret_cast<const unsigned char*>(&data);
    for (size_t i = 0; i < sizeof data; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

TEST(Identity, NamesAreNormalisedToLetterCodes) {
    struct Case {
        std::string text;
        int accepted;
        std::vector<int> codes;
    };
    const std::vector<int> jane = {10, 1, 14, 5, 4, 15, 5};
    const Case cases[] = {
        {"Jane Doe", 1, jane},
        {"JANE-DOE", 1, jane},
        {"jane doe", 1, jane},
        {" Jane  Doe. ", 1, jane},
        {"Zo\xc3\xab", 1, {26, 15}},
        {"abcdefghijklmnopqrstuvwxyz", 1, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}},
        {"a1b2@[`{z", 1, {1, 2, 26}},
        {"", 0, {}},
        {"1234", 0, {}},
        {" -. ", 0, {}},
    };
    for (const auto& f : names) {
        for (const auto& c : cases) {
            uuid_hash_data data;
            uuid_initialize(&data);
            int result = -1;
            const std::string out = stdout_of([&] { result = call(f.setter, &data, c.text); });
            EXPECT_EQ(result, c.accepted) << f.name << " '" << c.text << "'";
            EXPECT_EQ(out, c.accepted ? "" : invalid_message(f)) << f.name << " '" << c.text << "'";
            EXPECT_EQ(data.flags, c.accepted ? f.mark : 0u) << f.name << " '" << c.text << "'";
            EXPECT_EQ(bytes_of(f.field(data), 20), padded(c.codes, 20)) << f.name << " '" << c.text << "'";
        }
    }
}

TEST(Identity, NameStopsReadingAfterTwentyLetters) {
    // Twenty letters with no terminator behind them: reading one byte further
    // is caught by the address sanitizer.
    auto* text = static_cast<char*>(std::malloc(20));
    std::memset(text, 'q', 20);
    uuid_hash_data data;
    uuid_initialize(&data);
    EXPECT_EQ(uuid_hash_set_patient_name(&data, text), 1);
    EXPECT_EQ(bytes_of(data.patient_name, 20), std::vector<int>(20, 17));
    std::free(text);
}

TEST(Identity, SsnRules) {
    struct Case {
        std::string text;
        int lenient_accepted;
        std::vector<int> lenient_digits;
        int strict_accepted;
    };
    const std::vector<int> nine = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Case cases[] = {
        {"123-45-6789", 1, nine, 1},
        {"123 45 6789", 1, nine, 1},
        {"123456789", 1, nine, 1},
        {"000-00-0000", 1, {0, 0, 0, 0, 0, 0, 0, 0, 0}, 1},
        {"12", 1, {1, 2}, 0},
        {"12345678", 1, {1, 2, 3, 4, 5, 6, 7, 8}, 0},
        {"1234567890", 1, nine, 0},
        {"SSN 111 22 3333 ext 12", 1, {1, 1, 1, 2, 2, 3, 3, 3, 3}, 0},
        {"", 0, {}, 0},
        {"n/a", 0, {}, 0},
    };
    for (const auto& f : ssns) {
        for (const auto& c : cases) {
            uuid_hash_data data;
            uuid_initialize(&data);
            int result = -1;
            const std::string out = stdout_of([&] { result = call(f.setter, &data, c.text); });
            const int accepted = strict_rule ? c.strict_accepted : c.lenient_accepted;
            // A rejected value writes nothing; an accepted one stores its digits.
            const std::vector<int> digits = accepted ? c.lenient_digits : std::vector<int>{};
            EXPECT_EQ(result, accepted) << f.name << " '" << c.text << "'";
            EXPECT_EQ(out, accepted ? "" : invalid_message(f)) << f.name << " '" << c.text << "'";
            EXPECT_EQ(data.flags, accepted ? f.mark : 0u) << f.name << " '" << c.text << "'";
            EXPECT_EQ(bytes_of(f.field(data), 9), padded(digits, 9)) << f.name << " '" << c.text << "'";
        }
    }
}

TEST(Identity, NullTextIsRejectedWithItsOwnMessage) {
    for (const auto* table : {names, ssns}) {
        for (int i = 0; i < 2; ++i) {
            const TextField& f = table[i];
            uuid_hash_data data;
            uuid_initialize(&data);
            ASSERT_EQ(call(f.setter, &data, table == names ? "Jane" : "123456789"), 1);
            int result = -1;
            const std::string out = stdout_of([&] { result = f.setter(&data, nullptr); });
            EXPECT_EQ(result, 0);
            EXPECT_EQ(out, std::string("Error in uuid_hash_set_") + f.name + "(), NULL " + f.word + " passed in.\n");
            EXPECT_EQ(data.flags, 0u) << f.name;
        }
    }
}

// An accepted value replaces the whole field; a rejected one leaves its bytes
// (but not its mark).
TEST(Identity, SecondCallReplacesTheWholeField) {
    for (const auto& f : names) {
        uuid_hash_data data;
        uuid_initialize(&data);
        ASSERT_EQ(call(f.setter, &data, "Jane Doe"), 1);
        ASSERT_EQ(call(f.setter, &data, "Al"), 1);
        EXPECT_EQ(bytes_of(f.field(data), 20), padded({1, 12}, 20)) << f.name;
        EXPECT_EQ(data.flags, f.mark);

        stdout_of([&] { EXPECT_EQ(call(f.setter, &data, "42"), 0); });
        EXPECT_EQ(bytes_of(f.field(data), 20), padded({1, 12}, 20)) << f.name;
        EXPECT_EQ(data.flags, 0u);
    }
    for (const auto& f : ssns) {
        uuid_hash_data data;
        uuid_initialize(&data);
        ASSERT_EQ(call(f.setter, &data, "987654321"), 1);
        stdout_of([&] { EXPECT_EQ(call(f.setter, &data, "12"), strict_rule ? 0 : 1); });
        const std::vector<int> expected =
            strict_rule ? std::vector<int>{9, 8, 7, 6, 5, 4, 3, 2, 1} : padded({1, 2}, 9);
        EXPECT_EQ(bytes_of(f.field(data), 9), expected) << f.name;
        EXPECT_EQ(data.flags, strict_rule ? 0u : f.mark) << f.name;

        stdout_of([&] { EXPECT_EQ(call(f.setter, &data, "1234567890123"), strict_rule ? 0 : 1); });
        if (strict_rule) {
            EXPECT_EQ(bytes_of(f.field(data), 9), expected) << f.name;
        }
    }
}

struct IntField {
    const char* name;
    IntSetter setter;
    int32_t uuid_hash_data::*field;
    uint32_t mark;
    const char* word;
    int lowest;
    int highest;
};

const IntField int_fields[] = {
    {"patient_gender", uuid_hash_set_patient_gender, &uuid_hash_data::patient_gender, PATIENT_GENDER_SET,
     "gender", 1, 2},
    {"patient_birth_year", uuid_hash_set_patient_birth_year, &uuid_hash_data::patient_birth_year,
     PATIENT_BIRTH_YEAR_SET, "year", 1851, 2099},
    {"patient_birth_month", uuid_hash_set_patient_birth_month, &uuid_hash_data::patient_birth_month,
     PATIENT_BIRTH_MONTH_SET, "month", 1, 12},
    {"patient_birth_day", uuid_hash_set_patient_birth_day, &uuid_hash_data::patient_birth_day,
     PATIENT_BIRTH_DAY_SET, "day", 1, 31},
    {"policy_gender", uuid_hash_set_policy_gender, &uuid_hash_data::policy_gender, POLICY_GENDER_SET, "gender",
     1, 2},
    {"policy_birth_year", uuid_hash_set_policy_birth_year, &uuid_hash_data::policy_birth_year,
     POLICY_BIRTH_YEAR_SET, "year", 1851, 2099},
    {"policy_birth_month", uuid_hash_set_policy_birth_month, &uuid_hash_data::policy_birth_month,
     POLICY_BIRTH_MONTH_SET, "month", 1, 12},
    {"policy_birth_day", uuid_hash_set_policy_birth_day, &uuid_hash_data::policy_birth_day,
     POLICY_BIRTH_DAY_SET, "day", 1, 31},
};

TEST(Identity, IntegerRanges) {
    for (const auto& f : int_fields) {
        const int values[] = {f.lowest - 1, f.lowest, f.highest, f.highest + 1, 0, -1, -2147483647 - 1, 2147483647};
        for (int value : values) {
            uuid_hash_data data;
            uuid_initialize(&data);
            const bool valid = value >= f.lowest && value <= f.highest;
            int result = -1;
            const std::string out = stdout_of([&] { result = f.setter(&data, value); });
            EXPECT_EQ(result, valid ? 1 : 0) << f.name << " " << value;
            EXPECT_EQ(data.flags, valid ? f.mark : 0u) << f.name << " " << value;
            EXPECT_EQ(data.*f.field, valid ? value : 0) << f.name << " " << value;
            const std::string message = std::string("Error in uuid_hash_set_") + f.name + "(), bogus " + f.word +
                                        " " + std::to_string(value) + " passed in.\n";
            EXPECT_EQ(out, valid ? "" : message) << f.name << " " << value;
        }
    }
}

TEST(Identity, RejectedIntegerKeepsTheOldValueUnmarked) {
    for (const auto& f : int_fields) {
        uuid_hash_data data;
        uuid_initialize(&data);
        ASSERT_EQ(f.setter(&data, f.highest), 1);
        stdout_of([&] { EXPECT_EQ(f.setter(&data, f.highest + 1), 0); });
        EXPECT_EQ(data.*f.field, f.highest) << f.name;
        EXPECT_EQ(data.flags, 0u) << f.name;
    }
}

TEST(Identity, DayThirtyOneIsAcceptedWithAnyMonth) {
    uuid_hash_data data;
    uuid_initialize(&data);
    EXPECT_EQ(uuid_hash_set_patient_birth_month(&data, 2), 1);
    EXPECT_EQ(uuid_hash_set_patient_birth_day(&data, 31), 1);
}

// Each setter touches only its own field and mark.
TEST(Identity, SettersTouchOnlyTheirOwnFieldAndMark) {
    auto check = [](const char* name, uint32_t mark, size_t offset, size_t size, auto&& set) {
        uuid_hash_data before;
        std::memset(&before, 0x11, sizeof before);
        before.flags = 0;
        uuid_hash_data after = before;
        ASSERT_EQ(set(&after), 1) << name;
        EXPECT_EQ(after.flags, mark) << name;
        const auto* a = reinterpret_cast<const unsigned char*>(&after);
        const auto* b = reinterpret_cast<const unsigned char*>(&before);
        for (size_t i = sizeof(uint32_t); i < sizeof before; ++i) {
            if (i >= offset && i < offset + size) continue;
            ASSERT_EQ(a[i], b[i]) << name << " changed byte " << i;
        }
    };
    char jane[] = "Jane";
    char ssn[] = "123456789";
    check("patient_name", PATIENT_NAME_SET, offsetof(uuid_hash_data, patient_name), 20,
          [&](uuid_hash_data* d) { return uuid_hash_set_patient_name(d, jane); });
    check("policy_name", POLICY_NAME_SET, offsetof(uuid_hash_data, policy_name), 20,
          [&](uuid_hash_data* d) { return uuid_hash_set_policy_name(d, jane); });
    check("patient_ssn", PATIENT_SSN_SET, offsetof(uuid_hash_data, patient_ssn), 9,
          [&](uuid_hash_data* d) { return uuid_hash_set_patient_ssn(d, ssn); });
    check("policy_ssn", POLICY_SSN_SET, offsetof(uuid_hash_data, policy_ssn), 9,
          [&](uuid_hash_data* d) { return uuid_hash_set_policy_ssn(d, ssn); });
    for (const auto& f : int_fields) {
        uuid_hash_data probe{};
        const size_t offset = static_cast<size_t>(reinterpret_cast<const unsigned char*>(&(probe.*f.field)) -
                                                  reinterpret_cast<const unsigned char*>(&probe));
        check(f.name, f.mark, offset, 4, [&](uuid_hash_data* d) { return f.setter(d, f.lowest); });
    }
}

}  // namespace
