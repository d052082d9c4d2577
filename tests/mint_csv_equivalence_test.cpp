// The C interface against mintbatch's record path: for every data line of
// generated and hostile CSV input, mint_derive given the fields that
// process_csv_record reads from the line gives the identifier that
// process_csv_record gives, or refuses the record for the same reason.
//
// Built twice: with the programs' copy of the library (strict SSN rule, the
// C interface's default) and with the shared library libmintcore (lenient
// rule, asked for in the options).
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "csv_record.h"
#include "mint.h"
#include "patient_record.h"
#include "record_generator.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

constexpr bool strict_rule = MINT_TEST_STRICT_SSN != 0;
constexpr mint_options options{strict_rule ? MINT_SSN_STRICT : MINT_SSN_LENIENT, nullptr, 0};

// The twelve fields as process_csv_record reads them from a line, in the
// same buffers' sizes, each either given or not.
struct csv_fields {
    bool short_line = false;  // process_csv_record refuses it before any setter decides
    char name[2][100] = {};
    char ssn[2][1000] = {};
    bool name_given[2] = {};
    bool ssn_given[2] = {};
    int32_t number[2][4] = {};  // gender, year, month, day
    bool number_given[2][4] = {};
};

csv_fields read_fields(const char* position) {
    csv_fields f;
    const char* p = position;
    for (int person = 0; person < 2; ++person) {
        int empty = 1;
        p = read_csv_text_field(p, &empty, f.name[person], sizeof f.name[person]);
        f.name_given[person] = empty == 0;
        if (p == nullptr) {
            f.short_line = true;
            return f;
        }
        empty = 1;
        p = read_csv_text_field(p, &empty, f.ssn[person], sizeof f.ssn[person]);
        f.ssn_given[person] = empty == 0;
        if (p == nullptr) {
            f.short_line = true;
            return f;
        }
        for (int i = 0; i < 4; ++i) {
            empty = 1;
            p = read_csv_int_field(p, &empty, &f.number[person][i]);
            f.number_given[person][i] = empty == 0;
            // The last field may end the line.
            const bool last = person == 1 && i == 3;
            if (p == nullptr && !last) {
                f.short_line = true;
                return f;
            }
        }
    }
    return f;
}

// A number as a caller of the C interface passes it: INT32_MIN is its "not
// given", so a read value of INT32_MIN goes on as another out-of-range value.
int32_t number_for_c(const csv_fields& f, int person, int i) {
    if (!f.number_given[person][i]) return MINT_NOT_GIVEN;
    return f.number[person][i] == INT32_MIN ? INT32_MIN + 1 : f.number[person][i];
}

mint_person person_for_c(const csv_fields& f, int person) {
    return {f.name_given[person] ? f.name[person] : nullptr, f.ssn_given[person] ? f.ssn[person] : nullptr,
            number_for_c(f, person, 0), number_for_c(f, person, 1), number_for_c(f, person, 2),
            number_for_c(f, person, 3)};
}

std::string last_line(const std::string& text) {
    const size_t end = text.empty() ? 0 : text.size() - 1;
    const size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos || end == 0 ? 0 : start + 1);
}

// mintbatch's name for a field in its messages: "patient birth year".
std::string message_words(int32_t field) {
    std::string words = mint_field_name(field);
    for (char& c : words) {
        if (c == '_') c = ' ';
    }
    return words;
}

struct tally {
    int identifiers = 0;
    int zero = 0;
    int refused = 0;
    int incomplete = 0;
    int short_lines = 0;
};

// Compares one data line (without its line end); returns what it was.
void compare_line(const std::string& line, tally* seen) {
    SCOPED_TRACE(line);
    const size_t comma = line.find(',');
    if (comma == std::string::npos || comma == 0) return;  // no record key: mintbatch copies the line
    const char* position = line.c_str() + comma + 1;

    // Cleared here rather than by clear_patient_record, whose file also holds
    // the programs' bridge to internal library calls that libmintcore does
    // not export.
    patient_record record{};
    int processed = 0;
    const std::string printed = stdout_of([&] { processed = process_csv_record(position, &record, 2); });

    const csv_fields fields = read_fields(position);
    if (fields.short_line) {
        // No fields to hand over: mintbatch refuses the line, as short or
        // for a bad value before the end.
        EXPECT_EQ(processed, 0);
        ++seen->short_lines;
        return;
    }
    const mint_person patient = person_for_c(fields, 0);
    const mint_person policy = person_for_c(fields, 1);
    char identifier[MINT_ID_SIZE];
    mint_result result{};
    const int32_t status = mint_derive(&patient, &policy, &options, identifier, &result);
    EXPECT_EQ(status, result.status);

    if (processed) {
        EXPECT_STREQ(identifier, record.patient_uuid) << mint_result_text(&result);
        const bool zero = std::strcmp(record.patient_uuid, "000000000000") == 0;
        EXPECT_EQ(status, zero ? MINT_ZERO : MINT_IDENTIFIER);
        ++(zero ? seen->zero : seen->identifiers);
        return;
    }
    EXPECT_STREQ(identifier, "") << "a refused record has no identifier";
    const std::string reason = last_line(printed);
    if (reason == "Error in process_csv_record(), uuid_create() failed.\n") {
        char flags[16];
        std::snprintf(flags, sizeof flags, "Flags %04" PRIx32 ".\n", result.flags);
        EXPECT_NE(printed.find(flags), std::string::npos) << printed << "C flags " << flags;
        if (result.status == MINT_REFUSED) {
            // Refused for a name without letters, which the setter refused too.
            ASSERT_TRUE(result.field == MINT_PATIENT_NAME || result.field == MINT_POLICY_NAME) << result.field;
            const std::string setter_message = std::string("Error in uuid_hash_set_") +
                                               mint_field_name(result.field) + "(), invalid name passed in.\n";
            EXPECT_NE(printed.find(setter_message), std::string::npos) << printed;
            ++seen->refused;
        } else {
            EXPECT_EQ(status, MINT_INCOMPLETE) << mint_result_text(&result);
            ++seen->incomplete;
        }
        return;
    }
    EXPECT_EQ(status, MINT_REFUSED) << printed;
    EXPECT_EQ(reason, "Error in process_csv_record(), bad " + message_words(result.field) + ".\n")
        << mint_result_text(&result);
    ++seen->refused;
}

std::vector<std::string> generated_lines(uint64_t count, uint64_t seed) {
    std::FILE* file = std::tmpfile();
    if (file == nullptr) {
        ADD_FAILURE() << "no temporary file";
        return {};
    }
    write_generated_records(file, count, seed);
    std::rewind(file);
    std::vector<std::string> lines;
    char buffer[4096];
    bool header = true;
    while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (!header) lines.push_back(line);
        header = false;
    }
    std::fclose(file);
    return lines;
}

TEST(CInterfaceMatchesMintbatch, GeneratedRecords) {
    tally seen;
    for (const std::string& line : generated_lines(3000, 20240611)) compare_line(line, &seen);
    // The generator makes all three kinds; each must have been compared.
    EXPECT_GT(seen.identifiers, 2000);
    EXPECT_GT(seen.zero, 100);
    EXPECT_EQ(seen.refused + seen.incomplete + seen.short_lines, 0);
}

// Values for each column: usual ones first, then hostile ones: quotes that
// shift or swallow fields, names without letters, SSNs of every length,
// numbers out of range, beyond 32 bits, signed or spaced.
const std::vector<std::string> name_values = {
    "Jane Doe", "\"Roe, Richard\"", "jane  doe.", "JANE-DOE", "Al", "", "\"\"", "1234", "  ", "Zo\xc3\xab",
    "O\"\"Brien", "\"Smith\"x", "\"unclosed", "\"", std::string(150, 'q'), std::string(30, 'x') + " tail",
};
const std::vector<std::string> ssn_values = {
    "123-45-6789", "987654321", "000-00-0000", "", "12345678", "1234567890", "n/a", " ", "\"\"",
    "SSN 111 22 3333 ext 12", "\"123,45,6789\"", "12", std::string(40, '7'), "123-45-678\"9\"",
};
const std::vector<std::string> gender_values = {
    "1", "2", "", "-", "0", "3", "-1", " 1", "+1", "1x", "\"1\"", "2147483647", "-2147483648", "99999999999",
    "-99999999999",
};
const std::vector<std::string> year_values = {
    "1970", "2001", "1851", "2099", "", "1850", "2100", "-", "0", "-2147483648", "1970.5", "19 70",
};
const std::vector<std::string> month_values = {"1", "12", "7", "", "0", "13", "-12", "4294967297"};
const std::vector<std::string> day_values = {"1", "31", "15", "", "0", "32", "-", "3a"};

const std::string& pick(const std::vector<std::string>& values, std::mt19937& random) {
    // Mostly a usual value, so that many records get identifiers.
    const size_t usual = 3;
    const size_t index = random() % 4 != 0 ? random() % usual : random() % values.size();
    return values[index];
}

std::string assembled_line(std::mt19937& random, int number) {
    std::string line = std::to_string(number);
    const int people = random() % 3 == 0 ? 1 : 2;
    for (int person = 0; person < 2; ++person) {
        const bool present = person < people || random() % 5 == 0;
        for (const auto* values : {&name_values, &ssn_values, &gender_values, &year_values, &month_values,
                                   &day_values}) {
            line += ',';
            // A patient without an SSN of their own now and then, for policy keys.
            if (!present || (person == 0 && values == &ssn_values && random() % 3 == 0)) continue;
            line += pick(*values, random);
        }
    }
    switch (random() % 8) {
        case 0:
            line.pop_back();  // a comma or a digit less at the end
            break;
        case 1:
            line += ",extra,fields";
            break;
        case 2:
            line.resize(line.size() / 2);  // a short line
            break;
        default:
            break;
    }
    return line;
}

TEST(CInterfaceMatchesMintbatch, HostileRecords) {
    std::mt19937 random(7);
    tally seen;
    for (int i = 0; i < 6000; ++i) compare_line(assembled_line(random, i), &seen);
    // Every outcome must have been met, or the comparison proves little.
    EXPECT_GT(seen.identifiers, 300);
    EXPECT_GT(seen.zero, 100);
    EXPECT_GT(seen.refused, 300);
    EXPECT_GT(seen.incomplete, 100);
    EXPECT_GT(seen.short_lines, 100);
}

TEST(CInterfaceMatchesMintbatch, EdgeLines) {
    const char* const lines[] = {
        "1001,Jane Doe,123-45-6789,2,1970,1,31,,,,,,",
        "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,4",
        "1003,\"Roe, Richard\",,1,1985,12,24,,,,,,",
        "1004,Mary Major,123-45-678,2,1990,6,15,,,,,,",
        // Names without letters: zero identifier without an SSN, refused with one.
        "1005,4711,,2,1970,1,31,,,,,,",
        "1006,4711,123456789,2,1970,1,31,,,,,,",
        "1007,Jane Doe,,2,1970,1,31,***,987-65-4321,1,1968,7,4",
        "1008,Jane Doe,123456789,2,1970,1,31,***,987-65-4321,1,1968,7,4",
        // A number that is INT32_MIN, and ones beyond 32 bits.
        "1009,Jane Doe,123456789,2,-2147483648,1,31,,,,,,",
        "1010,Jane Doe,123456789,2,1970,1,31,,,,,,-99999999999",
        "1011,Jane Doe,123456789,2,1970,1,31,,,,,,31x",
        "1012,,,,,,,,,,,",
        "1013,,,,,,,,,,,,",
        "1014,,,,,,,,,,",
        "1015,Jane Doe,123456789,2,1970,1,31,,,,,",
        "1016,\"Jane\"\"Doe\",123456789,2,1970,1,31,,,,,,",
    };
    tally seen;
    for (const char* line : lines) compare_line(line, &seen);
    // 1012, 1014 and 1015 stop before the policy holder's birth month.
    EXPECT_EQ(seen.short_lines, 3);
}

}  // namespace
