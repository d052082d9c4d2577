// Reading a patient record from keyword/value lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "patient_record.h"
#include "record_file.h"
#include "test_support.h"
#include "text_lines.h"

using mint_test::stdout_of;

namespace {

// A stream holding `content`, positioned at its start.
FILE* stream_of(const std::string& content) {
    FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    std::fwrite(content.data(), 1, content.size(), stream);
    std::rewind(stream);
    return stream;
}

struct Reading {
    int result = -1;
    std::string printed;
    patient_record record;
    std::string next_line;  // what the stream delivers after the reader stopped
};

Reading read_from(const std::string& content) {
    Reading r;
    std::memset(&r.record, 'x', sizeof r.record);
    FILE* stream = stream_of(content);
    r.printed = stdout_of([&] { r.result = read_patient_record(stream, &r.record); });
    char line[1000];
    if (read_line(stream, line, sizeof line)) r.next_line = line;
    std::fclose(stream);
    return r;
}

// Every field by name, numbers in decimal, so that a whole record compares as text.
std::string describe(const patient_record& r) {
    auto field = [](const char* name, const std::string& value) { return std::string(name) + "=" + value + ";"; };
    auto number = [&](const char* name, int32_t value) { return field(name, std::to_string(value)); };
    return number("record_number", r.record_number) + field("policy_name", r.policy_name) +
           field("policy_ssn", r.policy_ssn) + number("policy_gender", r.policy_gender) +
           number("policy_birth_year", r.policy_birth_year) + number("policy_birth_month", r.policy_birth_month) +
           number("policy_birth_day", r.policy_birth_day) + field("patient_name", r.patient_name) +
           field("patient_ssn", r.patient_ssn) + number("patient_gender", r.patient_gender) +
           number("patient_birth_year", r.patient_birth_year) +
           number("patient_birth_month", r.patient_birth_month) + number("patient_birth_day", r.patient_birth_day) +
           field("patient_uuid", r.patient_uuid);
}

std::string describe_cleared() {
    patient_record r;
    std::memset(&r, 'x', sizeof r);
    clear_patient_record(&r);
    return describe(r);
}

std::string bad_line(const std::string& line) {
    return "Error in input file - got bad line '" + line + "'.\n";
}

const char* const example_file =
    "#made-up record for the single-record tool\n"
    "data_record 17\n"
    "patient_name Jane Doe\n"
    "patient_gender 2\n"
    "patient_birth_year 1970\n"
    "patient_birth_month 1\n"
    "patient_birth_day 31\n"
    "policy_name John Doe\n"
    "policy_ssn 987-65-4321\n"
    "policy_gender 1\n"
    "policy_birth_year 1968\n"
    "policy_birth_month 7\n"
    "policy_birth_day 4\n"
    "data_end\n";

TEST(ReadPatientRecord, ExampleFile) {
    const Reading r = read_from(example_file);
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.printed, "");
    EXPECT_EQ(describe(r.record),
              "record_number=17;policy_name=John Doe;policy_ssn=987-65-4321;policy_gender=1;"
              "policy_birth_year=1968;policy_birth_month=7;policy_birth_day=4;patient_name=Jane Doe;"
              "patient_ssn=;patient_gender=2;patient_birth_year=1970;patient_birth_month=1;"
              "patient_birth_day=31;patient_uuid=;");
}

TEST(ReadPatientRecord, KeywordsFillTheirOwnFields) {
    // Each value differs, so a keyword that filled a neighbour's field shows.
    const Reading r = read_from(
        "policy_birth_day 13\npolicy_birth_month 12\npolicy_birth_year 11\npolicy_gender 10\n"
        "policy_ssn S9\npolicy_name N8\npatient_birth_day 7\npatient_birth_month 6\n"
        "patient_birth_year 5\npatient_gender 4\npatient_ssn S3\npatient_name N2\ndata_record 1\ndata_end\n");
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(describe(r.record),
              "record_number=1;policy_name=N8;policy_ssn=S9;policy_gender=10;policy_birth_year=11;"
              "policy_birth_month=12;policy_birth_day=13;patient_name=N2;patient_ssn=S3;patient_gender=4;"
              "patient_birth_year=5;patient_birth_month=6;patient_birth_day=7;patient_uuid=;");
}

TEST(ReadPatientRecord, HowLinesEndTheRecord) {
    const std::string long_comment = "#" + std::string(1200, 'c');
    struct Case {
        std::string content;
        int result;
        std::string printed;
    };
    const Case cases[] = {
        {"", 0, ""},
        {"# no end line\npatient_name Jane\n\n", 0, ""},
        {"data_end\n", 1, ""},
        {"data_end", 1, ""},
        {"data_end\r\n", 1, ""},
        {"data_end and more words\n", 1, ""},
        {"data_end\tx\n", 1, ""},
        {"#comment\n\n\r\n#\ndata_end\n", 1, ""},
        // A lone CR ends a line as LF and CR LF do.
        {"patient_name Jane\rtrailing junk\ndata_end\n", 0, bad_line("trailing junk")},
        {"patient_name Jane\rdata_end\r", 1, ""},
        {"data_ending\ndata_end\n", 0, bad_line("data_ending")},
        {"patient_name\ndata_end\n", 0, bad_line("patient_name")},
        {"patient_gender\r\ndata_end\n", 0, bad_line("patient_gender")},
        {"patient_name  \t \ndata_end\n", 0, bad_line("patient_name  \t ")},
        {"   \ndata_end\n", 0, bad_line("   ")},
        {" #comment\ndata_end\n", 0, bad_line(" #comment")},
        {" patient_name Jane\ndata_end\n", 0, bad_line(" patient_name Jane")},
        {"\tdata_end\n", 0, bad_line("\tdata_end")},
        {"Patient_name Jane\ndata_end\n", 0, bad_line("Patient_name Jane")},
        {"patient_names Jane\ndata_end\n", 0, bad_line("patient_names Jane")},
        {"patient_name,Jane x\ndata_end\n", 0, bad_line("patient_name,Jane x")},
        {"record_number 17\ndata_end\n", 0, bad_line("record_number 17")},
        {"word\ndata_end\n", 0, bad_line("word")},
        // A line of any length is one line: a long comment stays a comment,
        // and a long bad line is shown as far as it is kept.
        {long_comment + "\ndata_end\n", 1, ""},
        {"#" + std::string(200000, 'c') + "\r\ndata_end\n", 1, ""},
        {"x" + std::string(70000, 'y') + "\ndata_end\n", 0, bad_line("x" + std::string(record_line_size - 2, 'y'))},
    };
    for (const auto& c : cases) {
        const Reading r = read_from(c.content);
        EXPECT_EQ(r.result, c.result) << c.content.substr(0, 40);
        EXPECT_EQ(r.printed, c.printed) << c.content.substr(0, 40);
    }
}

TEST(ReadPatientRecord, ValuesAreStoredAsRead) {
    struct Case {
        std::string line;
        std::string field;
        std::string value;
    };
    const Case cases[] = {
        {"patient_name Jane   Doe  ", "patient_name", "Jane   Doe  "},
        {"patient_name\t \tJane", "patient_name", "Jane"},
        {"policy_name John Doe\r", "policy_name", "John Doe"},
        {"patient_name " + std::string(150, 'n'), "patient_name", std::string(99, 'n')},
        {"policy_name " + std::string(99, 'p'), "policy_name", std::string(99, 'p')},
        {"patient_ssn " + std::string(40, '1'), "patient_ssn", std::string(31, '1')},
        {"policy_ssn 987-65-4321 ", "policy_ssn", "987-65-4321 "},
        {"patient_name 1234", "patient_name", "1234"},
        {"patient_birth_year 1984abc", "patient_birth_year", "1984"},
        {"patient_birth_year abc", "patient_birth_year", "0"},
        {"patient_gender -3", "patient_gender", "-3"},
        {"patient_gender +7", "patient_gender", "7"},
        {"policy_gender 7", "policy_gender", "7"},
        {"data_record 0017", "record_number", "17"},
        {"policy_birth_day 4 5", "policy_birth_day", "4"},
        // Out of the 32-bit range a number saturates instead of wrapping into
        // a valid value (4294967297 would wrap to month 1).
        {"patient_birth_month 4294967297", "patient_birth_month", "2147483647"},
        {"policy_birth_month 2147483648", "policy_birth_month", "2147483647"},
        {"policy_birth_year -99999999999999999999", "policy_birth_year", "-2147483648"},
        {"patient_birth_day -2147483648", "patient_birth_day", "-2147483648"},
        // Values on lines longer than any field are judged as shorter ones.
        {"patient_name " + std::string(5000, 'n') + " x", "patient_name", std::string(99, 'n')},
        {"patient_birth_year " + std::string(3000, '9'), "patient_birth_year", "2147483647"},
        {"patient_gender 2" + std::string(3000, ' ') + "x", "patient_gender", "2"},
        {"patient_name First\npatient_name Second", "patient_name", "Second"},
        {"patient_birth_day 5\npatient_birth_day x", "patient_birth_day", "0"},
    };
    for (const auto& c : cases) {
        const Reading r = read_from(c.line + "\ndata_end\n");
        EXPECT_EQ(r.result, 1) << c.line;
        EXPECT_EQ(r.printed, "") << c.line;
        const std::string all = ";" + describe(r.record);
        EXPECT_NE(all.find(";" + c.field + "=" + c.value + ";"), std::string::npos) << c.line << "\n" << all;
    }
}

TEST(ReadPatientRecord, ClearsTheRecordFirst) {
    const Reading only_end = read_from("data_end\n");
    EXPECT_EQ(only_end.result, 1);
    EXPECT_EQ(describe(only_end.record), describe_cleared());

    // Fields read before a bad line stay; the caller must not use them.
    const Reading bad = read_from("patient_name Jane\nno_such_keyword x\npatient_gender 2\ndata_end\n");
    EXPECT_EQ(bad.result, 0);
    EXPECT_STREQ(bad.record.patient_name, "Jane");
    EXPECT_EQ(bad.record.patient_gender, 0);
}

TEST(ReadPatientRecord, ReadsNothingAfterTheLastLineItJudged) {
    const Reading after_end = read_from("data_end\n bad line behind the end\n");
    EXPECT_EQ(after_end.result, 1);
    EXPECT_EQ(after_end.printed, "");
    EXPECT_EQ(after_end.next_line, " bad line behind the end");

    const Reading after_bad = read_from("bad\nnot read\n");
    EXPECT_EQ(after_bad.result, 0);
    EXPECT_EQ(after_bad.next_line, "not read");
}

TEST(ReadPatientRecord, StartsAtTheStreamPosition) {
    FILE* stream = stream_of("data_record 1\ndata_end\ndata_record 2\npatient_gender 1\ndata_end\n");
    patient_record record;
    ASSERT_EQ(read_patient_record(stream, &record), 1);
    EXPECT_EQ(record.record_number, 1);
    ASSERT_EQ(read_patient_record(stream, &record), 1);
    EXPECT_EQ(record.record_number, 2);
    EXPECT_EQ(record.patient_gender, 1);
    EXPECT_EQ(read_patient_record(stream, &record), 0);
    std::fclose(stream);
}

}  // namespace
