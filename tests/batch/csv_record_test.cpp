// The CSV field readers and the record parser of mintbatch.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "csv_record.h"
#include "patient_record.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

constexpr int no_position = -1;

// Offset of a returned position within `line`, or no_position for null.
int offset_in(const char* line, const char* position) {
    return position == nullptr ? no_position : static_cast<int>(position - line);
}

TEST(ReadCsvTextField, BareQuotedEmptyAndCutFields) {
    struct Case {
        const char* line;
        size_t capacity;
        const char* text;
        int empty;
        int next;
    };
    const Case cases[] = {
        {"Jane Doe,x", 100, "Jane Doe", 0, 9},
        {" spaced ,x", 100, " spaced ", 0, 9},
        {"\"Smith, John\",x", 100, "Smith, John", 0, 14},
        {"\"\",x", 100, "", 1, 3},
        {",x", 100, "", 1, 1},
        {"Jane", 100, "Jane", 0, no_position},
        {"\"Jane\"", 100, "Jane", 0, no_position},
        // A doubled quote is no escape: the second quote opens the next field.
        {"\"O\"\"Brien\",x", 100, "O", 0, 3},
        // Text after a closing quote is where the next field starts.
        {"\"Smith\"x,y", 100, "Smith", 0, 7},
        {"\"unclosed, runs on", 100, "unclosed, runs on", 0, no_position},
        {"\"", 100, "", 1, no_position},
        // Characters beyond the capacity are dropped, not left for the next field.
        {"abcdef,x", 4, "abc", 0, 7},
        {"\"ab,cdef\",x", 4, "ab,", 0, 10},
        {"abc,x", 1, "", 1, 4},
    };
    for (const auto& c : cases) {
        char text[100];
        std::memset(text, '#', sizeof text);
        int empty = 7;
        const char* next = read_csv_text_field(c.line, &empty, text, c.capacity);
        EXPECT_STREQ(text, c.text) << c.line;
        EXPECT_EQ(empty, c.empty) << c.line;
        EXPECT_EQ(offset_in(c.line, next), c.next) << c.line;
    }
}

TEST(ReadCsvTextField, NothingLeftToReadWritesNothing) {
    const char* positions[] = {nullptr, ""};
    for (const char* position : positions) {
        char text[8] = "before";
        int empty = 7;
        EXPECT_EQ(read_csv_text_field(position, &empty, text, sizeof text), nullptr);
        EXPECT_STREQ(text, "before");
        EXPECT_EQ(empty, 7);
    }
}

TEST(ReadCsvIntField, SignedDigitsOnly) {
    constexpr int32_t untouched = 777;
    struct Case {
        const char* line;
        int32_t value;
        int empty;
        int next;
    };
    const Case cases[] = {
        {"1970,x", 1970, 0, 5},
        {"0,x", 0, 0, 2},
        {"-5,x", -5, 0, 3},
        {"42", 42, 0, no_position},
        {",x", untouched, 1, 1},
        {"-,x", untouched, 1, 2},
        {"-", untouched, 1, no_position},
        // Anything but an optional '-' and digits ends the record's fields,
        // even where the number was already stored.
        {"+7,x", 7, 1, no_position},
        {" 7,x", 7, 1, no_position},
        {"7 ,x", 7, 1, no_position},
        {"19a,x", 19, 1, no_position},
        {"1.5,x", 1, 1, no_position},
        {"abc,x", untouched, 1, no_position},
        {"\"12\",x", untouched, 1, no_position},
        {"--5,x", untouched, 1, no_position},
        // Out of range: saturated to the 32-bit bounds for the setter to refuse.
        {"99999999999,x", 2147483647, 0, 12},
        {"-99999999999,x", -2147483647 - 1, 0, 13},
    };
    for (const auto& c : cases) {
        int32_t value = untouched;
        int empty = 7;
        const char* next = read_csv_int_field(c.line, &empty, &value);
        EXPECT_EQ(value, c.value) << c.line;
        EXPECT_EQ(empty, c.empty) << c.line;
        EXPECT_EQ(offset_in(c.line, next), c.next) << c.line;
    }
}

TEST(ReadCsvIntField, NothingLeftToReadWritesNothing) {
    const char* positions[] = {nullptr, ""};
    for (const char* position : positions) {
        int32_t value = 5;
        int empty = 7;
        EXPECT_EQ(read_csv_int_field(position, &empty, &value), nullptr);
        EXPECT_EQ(value, 5);
        EXPECT_EQ(empty, 7);
    }
}

struct RecordCase {
    const char* fields;     // the line after "data_record,"
    const char* uuid;       // nullptr: refused
    const char* library;    // the library's own messages, printed at every level
    const char* refusal;    // printed at level 2 only
};

const RecordCase record_cases[] = {
    // The three outcomes of a processed record.
    {"Jane Doe,123-45-6789,2,1970,1,31,,,,,,", "uc1kb3lfu4p3", "", ""},
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,4", "1q2chvgo0ecq", "", ""},
    {",,,,,,,,,,,", "000000000000", "", ""},
    {"Nobody,,,,,,,,,,,", "000000000000", "", ""},
    // Extra fields after the policy birth day are ignored.
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,4,extra,\"x\"", "1q2chvgo0ecq", "", ""},
    {"\"JANE-DOE\",\"123456789\",2,1970,1,31,,,,,,", "uc1kb3lfu4p3", "", ""},
    // A missing or malformed policy birth day counts as empty: no setter call,
    // so the incomplete policy holder makes uuid_create fail.
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,", nullptr,
     "Error in uuid_create(), structure not properly filled out.  Flags 3b3e.\n",
     "Error in process_csv_record(), uuid_create() failed.\n"},
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,4x", nullptr,
     "Error in uuid_create(), structure not properly filled out.  Flags 3b3e.\n",
     "Error in process_csv_record(), uuid_create() failed.\n"},
    // A refused name does not refuse the record by itself.
    {"1234,123-45-6789,2,1970,1,31,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_name(), invalid name passed in.\n"
     "Error in uuid_create(), structure not properly filled out.  Flags 003d.\n",
     "Error in process_csv_record(), uuid_create() failed.\n"},
    // Short records.
    {"", nullptr, "", "Error in process_csv_record(), short record at patient name.\n"},
    {"Jane Doe", nullptr, "", "Error in process_csv_record(), short record at patient name.\n"},
    {"\"Jane Doe,123-45-6789,2,1970,1,31,,,,,,", nullptr, "",
     "Error in process_csv_record(), short record at patient name.\n"},
    {"Jane Doe,", nullptr, "", "Error in process_csv_record(), short record at patient ssn.\n"},
    {"Jane Doe,123-45-6789", nullptr, "", "Error in process_csv_record(), short record at patient ssn.\n"},
    {"Jane Doe,123-45-6789,+2,1970,1,31,,,,,,", nullptr, "",
     "Error in process_csv_record(), short record at patient gender.\n"},
    {"Jane Doe,123-45-6789,2, 1970,1,31,,,,,,", nullptr, "",
     "Error in process_csv_record(), short record at patient birth year.\n"},
    {"Jane Doe,123-45-6789,2,1970,\"1\",31,,,,,,", nullptr, "",
     "Error in process_csv_record(), short record at patient birth month.\n"},
    {"Jane Doe,123-45-6789,2,1970,1,31", nullptr, "",
     "Error in process_csv_record(), short record at patient birth day.\n"},
    {"Jane Doe,123-45-6789,2,1970,1,31,John Doe", nullptr, "",
     "Error in process_csv_record(), short record at policy name.\n"},
    {"Jane Doe,123-45-6789,2,1970,1,31,,", nullptr, "",
     "Error in process_csv_record(), short record at policy ssn.\n"},
    {"Jane Doe,123-45-6789,2,1970,1,31,,,1.0,,,", nullptr, "",
     "Error in process_csv_record(), short record at policy gender.\n"},
    {"Jane Doe,123-45-6789,2,1970,1,31,,,,19 68,,", nullptr, "",
     "Error in process_csv_record(), short record at policy birth year.\n"},
    {"Jane Doe,123-45-6789,2,1970,1,31,,,,,7", nullptr, "",
     "Error in process_csv_record(), short record at policy birth month.\n"},
    // Values the setters refuse.
    {"Jane Doe,12345678,2,1970,1,31,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_ssn(), invalid ssn passed in.\n",
     "Error in process_csv_record(), bad patient ssn.\n"},
    // The doubled quote ends the name at O; Brien becomes the SSN.
    {"\"O\"\"Brien\",123-45-6789,2,1970,1,31,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_ssn(), invalid ssn passed in.\n",
     "Error in process_csv_record(), bad patient ssn.\n"},
    {"\"Smith\"x,2,1970,1,31,,,,,,", nullptr, "Error in uuid_hash_set_patient_ssn(), invalid ssn passed in.\n",
     "Error in process_csv_record(), bad patient ssn.\n"},
    {"Jane Doe,123-45-6789,3,1970,1,31,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_gender(), bogus gender 3 passed in.\n",
     "Error in process_csv_record(), bad patient gender.\n"},
    {"Jane Doe,123-45-6789,2,1850,1,31,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_birth_year(), bogus year 1850 passed in.\n",
     "Error in process_csv_record(), bad patient birth year.\n"},
    {"Jane Doe,123-45-6789,2,99999999999,1,31,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_birth_year(), bogus year 2147483647 passed in.\n",
     "Error in process_csv_record(), bad patient birth year.\n"},
    {"Jane Doe,123-45-6789,2,1970,13,31,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_birth_month(), bogus month 13 passed in.\n",
     "Error in process_csv_record(), bad patient birth month.\n"},
    {"Jane Doe,123-45-6789,2,1970,1,-5,,,,,,", nullptr,
     "Error in uuid_hash_set_patient_birth_day(), bogus day -5 passed in.\n",
     "Error in process_csv_record(), bad patient birth day.\n"},
    {"Jane Doe,,2,1970,1,31,John Doe,n/a,1,1968,7,4", nullptr,
     "Error in uuid_hash_set_policy_ssn(), invalid ssn passed in.\n",
     "Error in process_csv_record(), bad policy ssn.\n"},
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,0,1968,7,4", nullptr,
     "Error in uuid_hash_set_policy_gender(), bogus gender 0 passed in.\n",
     "Error in process_csv_record(), bad policy gender.\n"},
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,2100,7,4", nullptr,
     "Error in uuid_hash_set_policy_birth_year(), bogus year 2100 passed in.\n",
     "Error in process_csv_record(), bad policy birth year.\n"},
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,-99999999999,4", nullptr,
     "Error in uuid_hash_set_policy_birth_month(), bogus month -2147483648 passed in.\n",
     "Error in process_csv_record(), bad policy birth month.\n"},
    {"Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,32", nullptr,
     "Error in uuid_hash_set_policy_birth_day(), bogus day 32 passed in.\n",
     "Error in process_csv_record(), bad policy birth day.\n"},
};

TEST(ProcessCsvRecord, OutcomeAndMessagesAtEachLevel) {
    for (const auto& c : record_cases) {
        for (int level = 0; level <= 2; ++level) {
            patient_record record;
            clear_patient_record(&record);
            int result = -1;
            const std::string output = stdout_of([&] { result = process_csv_record(c.fields, &record, level); });
            std::string expected = c.library;
            if (level == 2) expected += c.refusal;
            EXPECT_EQ(output, expected) << c.fields << " at level " << level;
            EXPECT_EQ(result, c.uuid != nullptr ? 1 : 0) << c.fields;
            if (c.uuid != nullptr) {
                EXPECT_STREQ(record.patient_uuid, c.uuid) << c.fields;
            }
        }
    }
}

TEST(ProcessCsvRecord, FillsTheRecordAsRead) {
    patient_record record;
    clear_patient_record(&record);
    ASSERT_EQ(process_csv_record("\"Jane, Doe\",,2,1970,1,31,John Doe,987-65-4321,1,1968,7,4", &record, 0), 1);
    EXPECT_EQ(record.record_number, 0);
    EXPECT_STREQ(record.patient_name, "Jane, Doe");
    EXPECT_STREQ(record.patient_ssn, "");
    EXPECT_EQ(record.patient_gender, 2);
    EXPECT_EQ(record.patient_birth_year, 1970);
    EXPECT_EQ(record.patient_birth_month, 1);
    EXPECT_EQ(record.patient_birth_day, 31);
    EXPECT_STREQ(record.policy_name, "John Doe");
    EXPECT_STREQ(record.policy_ssn, "987-65-4321");
    EXPECT_EQ(record.policy_gender, 1);
    EXPECT_EQ(record.policy_birth_year, 1968);
    EXPECT_EQ(record.policy_birth_month, 7);
    EXPECT_EQ(record.policy_birth_day, 4);
    EXPECT_STREQ(record.patient_uuid, "1q2chvgo0ecq");
}

TEST(ProcessCsvRecord, LongNamesAndSsnsAreCutInTheRecordOnly) {
    // The SSN setter sees the whole text (nine digits among 40 characters);
    // the record keeps the first 31 characters, as it keeps 99 of a name.
    const std::string name(150, 'j');
    const std::string ssn = "SSN 123-45-6789 (as on the insurance card)";
    const std::string fields = name + "," + ssn + ",2,1970,1,31,,,,,,";
    patient_record record;
    clear_patient_record(&record);
    ASSERT_EQ(process_csv_record(fields.c_str(), &record, 2), 1);
    EXPECT_EQ(std::string(record.patient_name), name.substr(0, 99));
    EXPECT_EQ(std::string(record.patient_ssn), ssn.substr(0, 31));
    EXPECT_EQ(record.patient_gender, 2);
    EXPECT_EQ(record.patient_birth_day, 31);
    EXPECT_EQ(std::strlen(record.patient_uuid), 12u);
}

}  // namespace
