// The shared tool code: line helpers, decimal conversion, the record dump and
// the record-to-identifier bridge.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "patient_record.h"
#include "test_support.h"
#include "text_lines.h"
#include "uuid_keyed.h"

using mint_test::stdout_of;

namespace {

// Reads `content` with read_line into a buffer of `size` bytes until it returns 0.
std::vector<std::string> lines_of(const std::string& content, int size = 1000) {
    std::vector<char> storage(content.begin(), content.end());
    FILE* stream = fmemopen(storage.empty() ? nullptr : storage.data(), storage.size(), "r");
    if (storage.empty()) stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    std::vector<std::string> lines;
    std::vector<char> line(static_cast<size_t>(size));
    while (read_line(stream, line.data(), size)) lines.emplace_back(line.data());
    std::fclose(stream);
    return lines;
}

TEST(ReadLine, EndsAtLfCrLfOrLoneCrAndKeepsLongLinesWhole) {
    using Lines = std::vector<std::string>;
    struct Case {
        std::string content;
        Lines lines;
    };
    const Case cases[] = {
        {"abc\r\n", {"abc"}},
        {"a\rb\n", {"a", "b"}},
        {"a\rb\rc", {"a", "b", "c"}},
        {"a\r\r\nb\r", {"a", "", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"\n", {""}},
        {"", {}},
        {"one\ntwo", {"one", "two"}},
        {"x\n\ny\n", {"x", "", "y"}},
        // A line longer than the buffer is one line: its first 999 characters.
        {std::string(1200, 'z') + "\nnext\n", {std::string(999, 'z'), "next"}},
        {std::string(999, 'z') + "\n", {std::string(999, 'z')}},
        {std::string(5000, 'z') + "\r\n" + std::string(1000, 'y') + "\r", {std::string(999, 'z'), std::string(999, 'y')}},
        {std::string("a\0b\n", 4) + "c", {"a", "c"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lines_of(c.content), c.lines) << c.content.substr(0, 20);
    }
}

TEST(MatchKeyword, WholeWordAtTheStartOnly) {
    struct Case {
        const char* line;
        int match;
    };
    const Case cases[] = {
        {"patient_name John", 1},  {"patient_name", 1},       {"patient_name\tJohn", 1},
        {"patient_name\r", 1},     {"patient_name\n", 1},     {"patient_names John", 0},
        {" patient_name John", 0}, {"Patient_name John", 0},  {"patient_nam", 0},
        {"", 0},                   {"patient_name,John", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(match_keyword(c.line, "patient_name"), c.match) << c.line;
}

TEST(FindValue, SecondWordToTheEndOfTheLine) {
    struct Case {
        const char* line;
        const char* value;  // nullptr: no value
    };
    const Case cases[] = {
        {"patient_name  John Smith ", "John Smith "},
        {"data_end", nullptr},
        {"   ", nullptr},
        {"", nullptr},
        {"key\tvalue", "value"},
        {"  key value", "value"},
        {"key \t\n value x", "value x"},
        {"key \r", "\r"},
        {"key   ", nullptr},
    };
    for (const auto& c : cases) {
        const char* value = find_value(c.line);
        if (c.value == nullptr) {
            EXPECT_EQ(value, nullptr) << c.line;
        } else {
            ASSERT_NE(value, nullptr) << c.line;
            EXPECT_STREQ(value, c.value) << c.line;
        }
    }
    EXPECT_EQ(find_value(nullptr), nullptr);
}

TEST(CopyBounded, AlwaysTerminatedWithinTheSize) {
    const std::string long_text(150, 'n');
    char field[100];
    std::memset(field, 'x', sizeof field);
    copy_bounded(field, long_text.c_str(), sizeof field);
    EXPECT_EQ(std::string(field), std::string(99, 'n'));

    char small[8];
    std::memset(small, 'x', sizeof small);
    copy_bounded(small, "ab", sizeof small);
    EXPECT_EQ(std::string(small), "ab");
    for (size_t i = 2; i < sizeof small; ++i) EXPECT_EQ(small[i], '\0') << i;

    small[0] = 'q';
    copy_bounded(small, "zzz", 0);
    EXPECT_EQ(small[0], 'q');
}

TEST(DecimalValue, ConvertsLikeAtolAndSaturates) {
    struct Case {
        const char* text;
        int32_t value;
        bool digits;
    };
    const Case cases[] = {
        {"1984abc", 1984, true},
        {"abc", 0, false},
        {"-3", -3, true},
        {"+7", 7, true},
        {"  \t42 ", 42, true},
        {"", 0, false},
        {"-", 0, false},
        {"- 5", 0, false},
        {"2147483647", 2147483647, true},
        {"2147483648", 2147483647, true},
        {"4294967297", 2147483647, true},
        {"99999999999999999999999999", 2147483647, true},
        {"-2147483648", -2147483647 - 1, true},
        {"-2147483649", -2147483647 - 1, true},
        {"-99999999999999999999999999", -2147483647 - 1, true},
        {"0007", 7, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decimal_value(c.text), c.value) << c.text;
        int32_t value = 99;
        const char* end = nullptr;
        EXPECT_EQ(scan_decimal(c.text, &value, &end), c.digits) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
        if (!c.digits) {
            EXPECT_EQ(end, c.text) << c.text;
        }
    }
    const char* text = " -12x";
    int32_t value = 0;
    const char* end = nullptr;
    ASSERT_TRUE(scan_decimal(text, &value, &end));
    EXPECT_EQ(end, text + 4);
}

patient_record example_record() {
    patient_record r;
    clear_patient_record(&r);
    r.record_number = 17;
    copy_bounded(r.patient_name, "Jane Doe", sizeof r.patient_name);
    r.patient_gender = 2;
    r.patient_birth_year = 1970;
    r.patient_birth_month = 1;
    r.patient_birth_day = 31;
    copy_bounded(r.policy_name, "John Doe", sizeof r.policy_name);
    copy_bounded(r.policy_ssn, "987-65-4321", sizeof r.policy_ssn);
    r.policy_gender = 1;
    r.policy_birth_year = 1968;
    r.policy_birth_month = 7;
    r.policy_birth_day = 4;
    return r;
}

TEST(PatientRecord, ClearedRecordDump) {
    patient_record r;
    std::memset(&r, 'x', sizeof r);
    clear_patient_record(&r);
    EXPECT_EQ(stdout_of([&] { print_patient_record(&r); }),
              "patient record number 0\n"
              "patient_name          \n"
              "patient_gender        0\n"
              "patient_birth_year    0\n"
              "patient_birth_month   0\n"
              "patient_birth_day     0\n"
              "patient_uuid          \n");
}

TEST(PatientRecord, FullDump) {
    patient_record r = example_record();
    copy_bounded(r.patient_ssn, "123-45-6789", sizeof r.patient_ssn);
    copy_bounded(r.patient_uuid, "uc1kb3lfu4p3", sizeof r.patient_uuid);
    r.policy_birth_day = -4;
    EXPECT_EQ(stdout_of([&] { print_patient_record(&r); }),
              "patient record number 17\n"
              "patient_name          Jane Doe\n"
              "patient_ssn           123-45-6789\n"
              "patient_gender        2\n"
              "patient_birth_year    1970\n"
              "patient_birth_month   1\n"
              "patient_birth_day     31\n"
              "policy_name           John Doe\n"
              "policy_ssn            987-65-4321\n"
              "policy_gender         1\n"
              "policy_birth_year     1968\n"
              "policy_birth_month    7\n"
              "policy_birth_day      -4\n"
              "patient_uuid          uc1kb3lfu4p3\n");
}

TEST(PatientRecord, PolicyBlockNeedsThePolicySsn) {
    patient_record r = example_record();
    r.policy_ssn[0] = '\0';
    const std::string dump = stdout_of([&] { print_patient_record(&r); });
    EXPECT_EQ(dump.find("policy"), std::string::npos) << dump;
}

struct Derivation {
    int result;
    std::string uuid;
    std::string printed;
};

Derivation derive(const patient_record& r) {
    Derivation d;
    char uuid[16];
    std::memset(uuid, 'x', sizeof uuid);
    d.printed = stdout_of([&] { d.result = generate_test_uuid(&r, uuid); });
    d.uuid = uuid;
    return d;
}

Derivation derive_keyed(const patient_record& r, const mint::uuid_key* key) {
    Derivation d;
    char uuid[16];
    std::memset(uuid, 'x', sizeof uuid);
    d.printed = stdout_of([&] { d.result = generate_test_uuid_keyed(&r, key, uuid); });
    d.uuid = uuid;
    return d;
}

// The keyed bridge decides and prints as the plain one; only a derived
// identifier changes, and keeps its first-character range.
TEST(GenerateTestUuid, Outcomes) {
    const unsigned char secret[32] = {42};
    mint::uuid_key key;
    mint::uuid_key_init(&key, secret, sizeof secret);
    const std::string patient_ssn_invalid = "Error in uuid_hash_set_patient_ssn(), invalid ssn passed in.\n";
    const std::string create_failed =
        "Error in uuid_create(), structure not properly filled out.  Flags 3f3b.\n"
        "Error in generate_test_uuid(), uuid_create() failed!\n";
    struct Case {
        const char* what;
        void (*change)(patient_record&);
        int result;
        std::string uuid;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {"cleared record", [](patient_record& r) { clear_patient_record(&r); }, 1, "000000000000", ""},
        {"policy key", [](patient_record&) {}, 1, "1q2chvgo0ecq", ""},
        {"patient key",
         [](patient_record& r) { copy_bounded(r.patient_ssn, "123-45-6789", sizeof r.patient_ssn); }, 1,
         "uc1kb3lfu4p3", ""},
        {"rejected patient SSN leaves the policy key",
         [](patient_record& r) { copy_bounded(r.patient_ssn, "12345678", sizeof r.patient_ssn); }, 1,
         "1q2chvgo0ecq", patient_ssn_invalid},
        {"negative day is passed on and rejected",
         [](patient_record& r) {
             copy_bounded(r.patient_ssn, "123-45-6789", sizeof r.patient_ssn);
             r.patient_birth_day = -5;
         },
         0, "",
         "Error in uuid_hash_set_patient_birth_day(), bogus day -5 passed in.\n" + create_failed},
        {"zero day is not passed on",
         [](patient_record& r) {
             copy_bounded(r.patient_ssn, "123-45-6789", sizeof r.patient_ssn);
             r.patient_birth_day = 0;
         },
         0, "", create_failed},
    };
    for (const auto& c : cases) {
        patient_record r = example_record();
        c.change(r);
        const patient_record before = r;
        const Derivation d = derive(r);
        EXPECT_EQ(d.result, c.result) << c.what;
        EXPECT_EQ(d.uuid, c.uuid) << c.what;
        EXPECT_EQ(d.printed, c.printed) << c.what;
        EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0) << c.what;

        const Derivation unkeyed = derive_keyed(r, nullptr);
        EXPECT_EQ(unkeyed.result, c.result) << c.what;
        EXPECT_EQ(unkeyed.uuid, c.uuid) << c.what;
        EXPECT_EQ(unkeyed.printed, c.printed) << c.what;

        const Derivation keyed = derive_keyed(r, &key);
        EXPECT_EQ(keyed.result, c.result) << c.what;
        EXPECT_EQ(keyed.printed, c.printed) << c.what;
        if (c.uuid.empty() || c.uuid == "000000000000") {
            EXPECT_EQ(keyed.uuid, c.uuid) << c.what;
        } else {
            EXPECT_NE(keyed.uuid, c.uuid) << c.what;
            EXPECT_EQ(keyed.uuid.size(), 12u) << c.what;
            EXPECT_EQ(keyed.uuid[0] >= 'g', c.uuid[0] >= 'g') << c.what << ": " << keyed.uuid;
        }
        EXPECT_EQ(std::memcmp(&before, &r, sizeof r), 0) << c.what;
    }
}

}  // namespace
