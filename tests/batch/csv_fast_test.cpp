// The quick route of silent mintbatch runs against the general path it stands
// in for: a line it answers gets the general path's identifier, and a line the
// general path refuses or prints a message about is always left to it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "csv_fast.h"
#include "csv_record.h"
#include "patient_record.h"
#include "test_support.h"

using mint_test::to_hex;

namespace {

// Standard output goes to a temporary file while the object lives, so that
// what each route prints can be measured call by call.
class stdout_sink {
public:
    stdout_sink() {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(STDOUT_FILENO);
        redirected_ = file_ != nullptr && saved_ >= 0 && dup2(fileno(file_), STDOUT_FILENO) >= 0;
    }

    ~stdout_sink() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
        }
        if (file_ != nullptr) std::fclose(file_);
    }

    stdout_sink(const stdout_sink&) = delete;
    stdout_sink& operator=(const stdout_sink&) = delete;

    bool redirected() const { return redirected_; }

    // Bytes written to standard output so far.
    off_t written() {
        std::fflush(stdout);
        return lseek(STDOUT_FILENO, 0, SEEK_CUR);
    }

    // What was written between two positions.
    std::string text_between(off_t from, off_t to) {
        std::string text(static_cast<size_t>(to - from), '\0');
        if (!text.empty() && pread(fileno(file_), text.data(), text.size(), from) != to - from) {
            return "(unreadable output)";
        }
        return text;
    }

    // Starts the file over once it has grown large, to keep long runs small.
    void trim(off_t position) {
        if (position > (1 << 20) && ftruncate(STDOUT_FILENO, 0) == 0) lseek(STDOUT_FILENO, 0, SEEK_SET);
    }

private:
    FILE* file_ = nullptr;
    int saved_ = -1;
    bool redirected_ = false;
};

// Read as part of a line, these bytes would complete a short record, so a
// route that looks past the terminator derives what it must not.
constexpr std::string_view record_tail_slack = ",2,1970,1,31,,,,,,";

// The line as the batch reader hands it over: its bytes, a terminator and
// exactly csv_line_slack bytes more (repeating `slack`), so that
// AddressSanitizer reports any read beyond them.
std::unique_ptr<char[]> line_in_buffer(std::string_view line, std::string_view slack) {
    auto buffer = std::make_unique<char[]>(line.size() + 1 + csv_line_slack);
    if (!line.empty()) std::memcpy(buffer.get(), line.data(), line.size());
    buffer[line.size()] = '\0';
    for (size_t i = 0; i < csv_line_slack; i += slack.size()) {
        std::memcpy(buffer.get() + line.size() + 1 + i, slack.data(), std::min(slack.size(), csv_line_slack - i));
    }
    return buffer;
}

// The general path as convert_line takes it at verbosity 0: the key, then the
// record. The identifier, or an empty text when none is derived.
std::string general_identifier(std::string_view line) {
    const std::string text(line);  // parsing stops at its first zero byte
    char key[1000];
    int empty = 1;
    const char* position = read_csv_text_field(text.c_str(), &empty, key, sizeof key);
    if (position == nullptr || empty) return {};  // a line without a key is copied as it is
    patient_record record;
    clear_patient_record(&record);
    if (process_csv_record(position, &record, 0) != 1) return {};
    return record.patient_uuid;
}

struct both_routes {
    fast_line quick;
    std::string quick_uuid;  // when derived
    std::string quick_printed;
    std::string general_uuid;  // empty when refused
    std::string general_printed;

    bool general_silent_identifier() const { return !general_uuid.empty() && general_printed.empty(); }
};

both_routes run_both(stdout_sink& sink, std::string_view line, std::string_view slack = record_tail_slack) {
    both_routes routes;
    const auto buffer = line_in_buffer(line, slack);
    const off_t start = sink.written();
    char uuid[12];
    routes.quick = derive_csv_line_fast(buffer.get(), line.size(), uuid);
    if (routes.quick == fast_line::derived) routes.quick_uuid.assign(uuid, sizeof uuid);
    const off_t after_quick = sink.written();
    routes.general_uuid = general_identifier(line);
    const off_t after_general = sink.written();
    routes.quick_printed = sink.text_between(start, after_quick);
    routes.general_printed = sink.text_between(after_quick, after_general);
    sink.trim(after_general);
    return routes;
}

// Empty when the quick route's answer is one it may give; else what is wrong.
std::string disagreement(const both_routes& routes) {
    if (!routes.quick_printed.empty()) return "the quick route printed '" + routes.quick_printed + "'";
    if (routes.quick != fast_line::derived) return {};
    if (routes.general_uuid.empty()) {
        return "derived " + routes.quick_uuid + " where the general path refuses, printing '" + routes.general_printed +
               "'";
    }
    if (!routes.general_printed.empty()) {
        return "derived where the general path prints '" + routes.general_printed + "'";
    }
    if (routes.quick_uuid != routes.general_uuid) {
        return "derived " + routes.quick_uuid + ", the general path " + routes.general_uuid;
    }
    return {};
}

std::string with_zero_byte(const std::string& before, const std::string& after) { return before + '\0' + after; }

std::string hex_of(std::string_view line) {
    return to_hex(reinterpret_cast<const unsigned char*>(line.data()), line.size());
}

enum class quick_answer {
    derives,     // a typical line: the general path derives it silently, and so must the quick route
    may_derive,  // derived silently by the general path, but written unusually: either answer
    declines,    // refused or commented on by the general path
};

struct line_case {
    const char* what;
    std::string line;
    quick_answer expected;
    const char* uuid;  // pinned where the identifier is known
};

// One case with one kind of slack; the expected general path outcome is
// checked too, so that a case cannot silently stop testing what it claims.
void check_case(const line_case& c, std::string_view slack, const both_routes& routes) {
    SCOPED_TRACE(std::string(c.what) + ", line " + hex_of(c.line) + ", slack '" + std::string(slack) + "'");
    EXPECT_EQ(disagreement(routes), "");
    if (c.expected == quick_answer::declines) {
        EXPECT_FALSE(routes.general_silent_identifier()) << "general path gives " << routes.general_uuid;
        EXPECT_EQ(routes.quick, fast_line::general_path);
        return;
    }
    EXPECT_TRUE(routes.general_silent_identifier()) << "general path prints '" << routes.general_printed << "'";
    if (c.uuid != nullptr) {
        EXPECT_EQ(routes.general_uuid, c.uuid);
    }
    if (c.expected == quick_answer::derives) {
        EXPECT_EQ(routes.quick, fast_line::derived);
    }
}

// Slack a route reading past the terminator would take for fields: the end
// of a record, empty fields, an opening quote.
constexpr std::string_view case_slacks[] = {record_tail_slack, ",", "\""};

void check_cases(const std::vector<line_case>& cases) {
    // Checked once standard output is back, where failures are reported.
    std::vector<both_routes> results;
    {
        stdout_sink sink;
        ASSERT_TRUE(sink.redirected());
        for (const auto& c : cases) {
            for (const std::string_view slack : case_slacks) results.push_back(run_both(sink, c.line, slack));
        }
    }
    auto routes = results.begin();
    for (const auto& c : cases) {
        for (const std::string_view slack : case_slacks) check_case(c, slack, *routes++);
    }
}

// The records of examples/patients.csv and their identifiers, as in
// tests/batch/cases/example.
const std::string jane_patient_key = "1001,Jane Doe,123-45-6789,2,1970,1,31,,,,,,";
const std::string jane_policy_key = "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,4";
const std::string roe_zero = "1003,\"Roe, Richard\",,1,1985,12,24,,,,,,";
constexpr const char* jane_patient_uuid = "uc1kb3lfu4p3";
constexpr const char* jane_policy_uuid = "1q2chvgo0ecq";
constexpr const char* zero_uuid = "000000000000";

TEST(DeriveCsvLineFast, TypicalLinesGetTheGeneralPathsIdentifier) {
    const std::string long_name =
        "1001,Jane" + std::string(70, ' ') + "Doe,\"123-45-6789\",2,1970,1,31,,,,,,,seen 2024-05-01";
    const std::string long_ssn =
        "1001,Jane Doe,SSN 123-45-6789 (as on the insurance card),2,1970,1,31,,,,,,,"
        "with a remark in a further column, past the 128th byte";
    const std::string long_policy =
        jane_policy_key + ",\"a remark, in quotes, after the record\",and one more, past the 128th byte";
    ASSERT_GT(long_name.size(), 128u);
    ASSERT_GT(long_ssn.size(), 128u);
    ASSERT_GT(long_policy.size(), 128u);
    check_cases({
        {"patient key", jane_patient_key, quick_answer::derives, jane_patient_uuid},
        {"policy key", jane_policy_key, quick_answer::derives, jane_policy_uuid},
        {"zero identifier, quoted name with a comma", roe_zero, quick_answer::derives, zero_uuid},
        {"names count by letters, SSNs by digits", "1001,\"JANE-DOE\",\"123456789\",2,1970,1,31,,,,,,",
         quick_answer::derives, jane_patient_uuid},
        {"quoted names with commas in a policy key",
         "1002,\"Jane, Doe\",,2,1970,1,31,\"John, Doe\",987654321,1,1968,7,4", quick_answer::derives, jane_policy_uuid},
        {"leading zeros in numbers", "1001,Jane Doe,123-45-6789,0002,1970,01,031,,,,,,", quick_answer::derives,
         jane_patient_uuid},
        {"quoted key with a comma", "\"10,01\",Jane Doe,123-45-6789,2,1970,1,31,,,,,,", quick_answer::derives,
         jane_patient_uuid},
        {"empty last field present", jane_patient_key + ",", quick_answer::derives, jane_patient_uuid},
        {"extra columns after the record", jane_policy_key + ",extra,\"x, y\"", quick_answer::derives,
         jane_policy_uuid},
        {"patient key whatever the policy holder's fields",
         "1001,Jane Doe,123-45-6789,2,1970,1,31,John Doe,987-65-4321,,,,", quick_answer::derives, jane_patient_uuid},
        {"no SSN anywhere, all else given", "1003,Roe Richard,,1,1985,12,24,John Doe,,1,1968,7,4",
         quick_answer::derives, zero_uuid},
        {"a key and nothing else", "1,,,,,,,,,,,,", quick_answer::derives, zero_uuid},
        {"lowest values", "1004,A,000000000,1,1851,1,1,,,,,,", quick_answer::derives, nullptr},
        {"highest values", "1004,Z,999-99-9999,2,2099,12,31,,,,,,", quick_answer::derives, nullptr},
        {"over 128 bytes: long name", long_name, quick_answer::derives, jane_patient_uuid},
        {"over 128 bytes: SSN among words", long_ssn, quick_answer::derives, jane_patient_uuid},
        {"over 128 bytes: policy key and remarks", long_policy, quick_answer::derives, jane_policy_uuid},
    });
}

TEST(DeriveCsvLineFast, UnusualLinesAreLeftToTheGeneralPathOrAgree) {
    const std::string name_99 = "Jane Doe" + std::string(91, ' ');
    check_cases({
        // Refused without a word at verbosity 0.
        {"empty line", "", quick_answer::declines, nullptr},
        {"key only", "1001", quick_answer::declines, nullptr},
        {"short line", "1001,Jane Doe,123-45-6789", quick_answer::declines, nullptr},
        {"ends at the patient's birth day", "1001,Jane Doe,123-45-6789,2,1970,1,31", quick_answer::declines, nullptr},
        {"over 128 bytes, ends at the patient's birth day",
         "1001,Jane Doe,SSN 123-45-6789 (as on the insurance card; a remark that makes the line long),2,1970,1,31",
         quick_answer::declines, nullptr},
        {"over 128 bytes, ends at the policy birth month",
         "1003-" + std::string(100, '0') + ",\"Roe, Richard\",,1,1985,12,24,,,,,7", quick_answer::declines, nullptr},
        {"ends at the policy birth month", "1003,Roe,,1,1985,12,24,,,,,", quick_answer::declines, nullptr},
        {"empty key", ",Jane Doe,123-45-6789,2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"quoted empty key", "\"\",Jane Doe,123-45-6789,2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"'+' in a number", "1001,Jane Doe,123-45-6789,+2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"'-' after a number", "1001,Jane Doe,123-45-6789,2-,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"blank before a number", "1001,Jane Doe,123-45-6789,2, 1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"blank after a number", "1001,Jane Doe,123-45-6789,2,1970,1 ,31,,,,,,", quick_answer::declines, nullptr},
        {"blank inside a number", "1001,Jane Doe,123-45-6789,2,19 70,1,31,,,,,,", quick_answer::declines, nullptr},
        {"quoted number", "1001,Jane Doe,123-45-6789,\"2\",1970,1,31,,,,,,", quick_answer::declines, nullptr},
        // A quoted empty number is no empty field, even where the mode needs none.
        {"quoted empty number", "1001,Jane Doe,123-45-6789,2,\"\",1,31,,,,,,", quick_answer::declines, nullptr},
        {"quoted empty policy gender", "1001,Jane Doe,123-45-6789,2,1970,1,31,,,\"\",,,", quick_answer::declines,
         nullptr},
        {"quoted empty gender, no SSN", "1003,Roe,,\"\",1985,12,24,,,,,,", quick_answer::declines, nullptr},
        {"unterminated quote", "1001,\"Jane Doe,123-45-6789,2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"unterminated quote in the SSN", "1001,Jane Doe,\"123-45-6789,2,1970,1,31,,,,,,", quick_answer::declines,
         nullptr},
        {"zero byte inside the name", with_zero_byte("1001,Jane", " Doe,123-45-6789,2,1970,1,31,,,,,,"),
         quick_answer::declines, nullptr},
        {"zero byte inside the key", with_zero_byte("10", "01,Jane Doe,123-45-6789,2,1970,1,31,,,,,,"),
         quick_answer::declines, nullptr},
        // Refused with a message.
        {"name without letters, no SSN", "1003,1234,,1,1985,12,24,,,,,,", quick_answer::declines, nullptr},
        {"name without letters, patient key", "1001,12-34,123-45-6789,2,1970,1,31,,,,,,", quick_answer::declines,
         nullptr},
        {"letters only after the 99 kept characters",
         "1001," + std::string(99, ' ') + "Jane Doe,123-45-6789,2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"eight-digit SSN", "1004,Mary Major,123-45-678,2,1990,6,15,,,,,,", quick_answer::declines, nullptr},
        {"ten-digit SSN", "1001,Jane Doe,123-45-67890,2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"SSN without digits", "1002,Jane Doe,,2,1970,1,31,John Doe,n/a,1,1968,7,4", quick_answer::declines, nullptr},
        {"digits only after the 999 kept SSN characters",
         "1001,Jane Doe," + std::string(999, 'x') + "123456789,2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"gender 0", "1001,Jane Doe,123-45-6789,0,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"gender 3", "1001,Jane Doe,123-45-6789,3,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"gender -0", "1001,Jane Doe,123-45-6789,-0,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"negative gender", "1001,Jane Doe,123-45-6789,-2,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"year 1850", "1001,Jane Doe,123-45-6789,2,1850,1,31,,,,,,", quick_answer::declines, nullptr},
        {"year 2100", "1001,Jane Doe,123-45-6789,2,2100,1,31,,,,,,", quick_answer::declines, nullptr},
        {"saturated year", "1001,Jane Doe,123-45-6789,2,99999999999,1,31,,,,,,", quick_answer::declines, nullptr},
        {"month 0", "1001,Jane Doe,123-45-6789,2,1970,0,31,,,,,,", quick_answer::declines, nullptr},
        {"month 13", "1001,Jane Doe,123-45-6789,2,1970,13,31,,,,,,", quick_answer::declines, nullptr},
        {"day 0", "1001,Jane Doe,123-45-6789,2,1970,1,0,,,,,,", quick_answer::declines, nullptr},
        {"day 32", "1001,Jane Doe,123-45-6789,2,1970,1,32,,,,,,", quick_answer::declines, nullptr},
        {"policy gender 3", "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,3,1968,7,4", quick_answer::declines,
         nullptr},
        {"policy day 32", "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,32", quick_answer::declines,
         nullptr},
        {"doubled quote shifts the SSN", "1001,\"O\"\"Brien\",123-45-6789,2,1970,1,31,,,,,,", quick_answer::declines,
         nullptr},
        {"text after a closing quote becomes the SSN", "1001,\"Jane\" Doe,123-45-6789,2,1970,1,31,,,,,,",
         quick_answer::declines, nullptr},
        // An SSN that fits no mode.
        {"patient SSN, no gender", "1001,Jane Doe,123-45-6789,,1970,1,31,,,,,,", quick_answer::declines, nullptr},
        {"policy SSN, policy fields incomplete", "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,,",
         quick_answer::declines, nullptr},
        {"policy SSN, no patient name", "1002,,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,4", quick_answer::declines,
         nullptr},
        {"policy day missing", "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,", quick_answer::declines,
         nullptr},
        {"policy day malformed", jane_policy_key + "x", quick_answer::declines, nullptr},
        {"policy day a lone '-'", "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,-", quick_answer::declines,
         nullptr},
        {"policy day quoted", "1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,\"4\"", quick_answer::declines,
         nullptr},
        {"policy day after a zero byte", with_zero_byte(jane_policy_key.substr(0, jane_policy_key.size() - 1), "4"),
         quick_answer::declines, nullptr},
        // Processed silently, though written unusually.
        {"five-digit year", "1001,Jane Doe,123-45-6789,2,01970,1,31,,,,,,", quick_answer::may_derive,
         jane_patient_uuid},
        {"lone '-' as a number not given", "1003,Roe Richard,,-,1985,12,24,,,,,,", quick_answer::may_derive, zero_uuid},
        {"malformed last field counts as not given", roe_zero + "4x", quick_answer::may_derive, zero_uuid},
        {"name of 99 characters", "1001," + name_99 + ",123-45-6789,2,1970,1,31,,,,,,", quick_answer::may_derive,
         jane_patient_uuid},
        {"name of 100 characters", "1001," + name_99 + " ,123-45-6789,2,1970,1,31,,,,,,", quick_answer::may_derive,
         jane_patient_uuid},
        {"SSN of over 999 characters", "1001,Jane Doe,123-45-6789" + std::string(1000, 'x') + ",2,1970,1,31,,,,,,",
         quick_answer::may_derive, jane_patient_uuid},
        {"doubled quote leaves an empty SSN", "1003,\"Roe\"\"\",1,1985,12,24,,,,,,", quick_answer::may_derive,
         zero_uuid},
        {"text after a closing quote becomes the gender", "1001,Jane Doe,\"123-45-6789\"2,1970,1,31,,,,,,",
         quick_answer::may_derive, jane_patient_uuid},
        {"zero byte after the record", with_zero_byte(jane_patient_key, ",\"9,x"), quick_answer::may_derive,
         jane_patient_uuid},
        {"zero byte cuts the policy day to 3",
         with_zero_byte("1002,Jane Doe,,2,1970,1,31,John Doe,987-65-4321,1,1968,7,3", "1"), quick_answer::may_derive,
         nullptr},
    });
}

// The same records with their fields moved across the 64- and 128-byte marks
// by blanks in a name or by a further column.
TEST(DeriveCsvLineFast, FieldsAcrossVectorBoundaries) {
    std::vector<line_case> cases;
    for (size_t blanks = 1; blanks <= 72; ++blanks) {
        std::string name = "Jane" + std::string(blanks, ' ') + "Doe";
        if (blanks % 2 == 0) name = "\"" + name + "\"";
        cases.push_back({"patient key, padded name", "1001," + name + ",123-45-6789,2,1970,1,31,,,,,,",
                         quick_answer::derives, jane_patient_uuid});
        cases.push_back({"policy key, padded name, quoted policy name",
                         "1002," + name + ",,2,1970,1,31,\"John, Doe\",987-65-4321,1,1968,7,4", quick_answer::derives,
                         jane_policy_uuid});
        cases.push_back({"gender 3, padded name", "1001," + name + ",123-45-6789,3,1970,1,31,,,,,,",
                         quick_answer::declines, nullptr});
        cases.push_back({"policy day behind a zero byte, padded name",
                         with_zero_byte("1002," + name + ",,2,1970,1,31,John Doe,987-65-4321,1,1968,7,", "4"),
                         quick_answer::declines, nullptr});
        cases.push_back({"short line, padded name", "1001," + name + ",123-45-6789", quick_answer::declines, nullptr});
    }
    for (size_t filler = 0; filler <= 140; ++filler) {
        const std::string column(filler, 'x');
        cases.push_back(
            {"policy key, further column", jane_policy_key + "," + column, quick_answer::derives, jane_policy_uuid});
        cases.push_back({"zero identifier, quoted further column", roe_zero + ",\"" + column + ",\"",
                         quick_answer::derives, zero_uuid});
        cases.push_back(
            {"bad policy day, further column", jane_policy_key + "x," + column, quick_answer::declines, nullptr});
    }
    check_cases(cases);
}

// Near-valid records from a small grammar, with the usual kinds of damage.
// A line stays `plain` while it keeps to the form every typical file has:
// bare or wholly quoted text fields, numbers of one to four digits, names
// under 80 characters, no quote or zero byte elsewhere.
class line_maker {
public:
    explicit line_maker(uint64_t seed) : random_(seed) {}

    struct made {
        std::string line;
        bool plain;
    };

    made next() {
        plain_ = true;
        const size_t mode = below(100);
        const bool patient_ssn = mode < 40 || mode >= 95;
        const bool policy_ssn = (mode >= 40 && mode < 75) || (mode < 40 && percent(30)) || mode >= 95;
        const bool patient_complete = mode < 75 || percent(50);
        const bool policy_complete = (mode >= 40 && mode < 75) || percent(20);
        std::string line = key();
        person(line, patient_ssn, patient_complete);
        person(line, policy_ssn, policy_complete);
        if (percent(15)) {
            const size_t columns = 1 + below(2);
            for (size_t i = 0; i < columns; ++i) line += percent(50) ? ",remark" : ",\"a, b\"";
        }
        // Lengths near the 64- and 128-byte marks.
        if (percent(35)) {
            const size_t target = percent(50) ? 56 + below(17) : 116 + below(25);
            if (line.size() + 1 < target) line += "," + std::string(target - line.size() - 1, 'x');
        }
        if (percent(12)) damage(line);
        if (percent(3)) {
            line.resize(below(line.size() + 1));
            plain_ = false;
        }
        return {line, plain_};
    }

private:
    size_t below(size_t n) { return static_cast<size_t>(random_() % n); }
    bool percent(size_t p) { return below(100) < p; }
    char digit() { return static_cast<char>('0' + below(10)); }
    char letter() { return static_cast<char>((percent(50) ? 'a' : 'A') + below(26)); }

    std::string digits(size_t count) {
        std::string text;
        for (size_t i = 0; i < count; ++i) text += digit();
        return text;
    }

    // Text fields are quoted now and then, and must be when they hold a comma.
    static std::string quoted(const std::string& text) { return "\"" + text + "\""; }
    std::string text_field(const std::string& text) {
        return text.find(',') != std::string::npos || percent(15) ? quoted(text) : text;
    }

    std::string key() {
        if (percent(3)) return "";
        if (percent(2)) return quoted("k," + digits(2));
        return digits(1 + below(6));
    }

    std::string name() {
        const size_t kind = below(100);
        if (kind < 5) return percent(50) ? digits(4) : "- .";
        if (kind < 9) {
            std::string text = "Jane" + std::string(60 + below(50), ' ') + "Doe";
            if (text.size() >= 80) plain_ = false;
            return text;
        }
        std::string text;
        const size_t words = 1 + below(3);
        for (size_t w = 0; w < words; ++w) {
            if (w > 0) text += percent(20) ? ", " : " ";
            const size_t letters = 2 + below(8);
            for (size_t i = 0; i < letters; ++i) text += letter();
        }
        return text;
    }

    std::string ssn() {
        const size_t kind = below(100);
        if (kind < 5) return digits(8);
        if (kind < 10) return digits(10);
        if (kind < 13) return "SSN " + digits(3) + "-" + digits(2) + "-" + digits(4);
        if (kind < 15) return "n/a";
        if (kind < 55) return digits(3) + "-" + digits(2) + "-" + digits(4);
        return digits(9);
    }

    // Mostly in range; now and then just outside it, or written oddly.
    std::string number(int lowest, int highest) {
        const size_t kind = below(100);
        if (kind < 92) {
            std::string text =
                std::to_string(lowest + static_cast<int>(below(static_cast<size_t>(highest - lowest + 1))));
            if (percent(10)) text.insert(0, 4 - std::min<size_t>(text.size(), 4), '0');
            return text;
        }
        if (kind < 96) return std::to_string(percent(50) ? lowest - 1 : highest + 1);
        plain_ = false;
        static const char* const odd[] = {"-",           "-1",    "+1",   " 1", "1 ",  "01970", "-0",
                                          "99999999999", "\"1\"", "\"\"", "1a", "1.0", "--1"};
        return odd[below(sizeof odd / sizeof odd[0])];
    }

    // A person's six fields; those of an incomplete person are given now and then.
    void person(std::string& line, bool with_ssn, bool complete) {
        const auto given = [&] { return complete || percent(30); };
        line += "," + (given() ? text_field(name()) : "");
        line += "," + (with_ssn || percent(3) ? text_field(ssn()) : "");
        line += "," + (given() ? number(1, 2) : "");
        line += "," + (given() ? number(1851, 2099) : "");
        line += "," + (given() ? number(1, 12) : "");
        line += "," + (given() ? number(1, 31) : "");
    }

    void damage(std::string& line) {
        static constexpr char bytes[] = {',', '"', '-', '+', ' ', '\0', '7', 'q', '\xe9'};
        const size_t edits = 1 + below(3);
        for (size_t i = 0; i < edits; ++i) {
            const size_t at = below(line.size() + 1);
            const char byte = bytes[below(sizeof bytes)];
            switch (below(3)) {
                case 0:
                    line.insert(at, 1, byte);
                    break;
                case 1:
                    if (at < line.size()) line[at] = byte;
                    break;
                default:
                    if (at < line.size()) line.erase(at, 1);
                    break;
            }
        }
        plain_ = false;
    }

    std::mt19937_64 random_;
    bool plain_ = true;
};

// Unoptimised and sanitized builds run the first lines of the same sequence,
// to stay quick.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MINT_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define MINT_TEST_SANITIZED 1
#endif
#if defined(__OPTIMIZE__) && !defined(MINT_TEST_SANITIZED)
constexpr size_t generated_line_count = 200000;
#else
constexpr size_t generated_line_count = 20000;
#endif

TEST(DeriveCsvLineFast, AgreesWithTheGeneralPathOnGeneratedLines) {
    constexpr size_t line_count = generated_line_count;
    line_maker maker(0x6d696e7462617463);
    // Each line's slack is a window of random bytes (zeros, commas and
    // quotes among them).
    std::mt19937 slack_random(7);
    std::string slack_bytes(4096, '\0');
    for (char& byte : slack_bytes) byte = static_cast<char>(slack_random());
    size_t derived = 0;
    size_t plain_identifiers = 0;
    size_t plain_identifiers_derived = 0;
    std::vector<std::string> faults;
    {
        stdout_sink sink;
        ASSERT_TRUE(sink.redirected());
        for (size_t i = 0; i < line_count; ++i) {
            const line_maker::made made = maker.next();
            const std::string_view slack =
                std::string_view(slack_bytes).substr(slack_random() % (slack_bytes.size() - csv_line_slack));
            const both_routes routes = run_both(sink, made.line, slack);
            const bool quick_derived = routes.quick == fast_line::derived;
            derived += quick_derived ? 1 : 0;
            std::string fault = disagreement(routes);
            if (made.plain && routes.general_silent_identifier()) {
                ++plain_identifiers;
                plain_identifiers_derived += quick_derived ? 1 : 0;
                if (!quick_derived && fault.empty()) fault = "a typical line left to the general path";
            }
            if (!fault.empty() && faults.size() < 10) faults.push_back(fault + ", line " + hex_of(made.line));
        }
    }
    for (const auto& fault : faults) ADD_FAILURE() << fault;
    EXPECT_EQ(plain_identifiers_derived, plain_identifiers);
    // Most generated lines are records the quick route is there for.
    EXPECT_GT(derived, line_count / 3) << "derived " << derived << " of " << line_count;
    EXPECT_GT(plain_identifiers, line_count / 4) << plain_identifiers << " of " << line_count;
}

// The vector scan against the byte loop, with the stop and the first zero
// byte at every offset near the vector widths, in buffers that end exactly
// csv_line_slack bytes after that zero byte.
TEST(FindCsvStop, VectorScanAgreesWithTheByteLoop) {
    constexpr size_t last_offset = 70;
    constexpr size_t no_stop = last_offset + 1;
    std::mt19937 random(11);
    for (const size_t start : {size_t{0}, size_t{1}, size_t{15}}) {
        for (const char stop : {',', '"'}) {
            for (size_t zero_at = 0; zero_at <= last_offset; ++zero_at) {
                for (size_t stop_at = 0; stop_at <= no_stop; ++stop_at) {
                    if (stop_at == zero_at) continue;
                    const size_t size = start + zero_at + 1 + csv_line_slack;
                    const auto buffer = std::make_unique<char[]>(size);
                    char* text = buffer.get() + start;
                    // Before the zero byte neither a stop nor a zero; behind
                    // it anything, as in the slack of a real line.
                    for (size_t i = 0; i < size; ++i) buffer[i] = static_cast<char>(random());
                    for (size_t i = 0; i < zero_at; ++i) {
                        while (text[i] == '\0' || text[i] == stop) text[i] = static_cast<char>(random());
                    }
                    text[zero_at] = '\0';
                    if (stop_at != no_stop) text[stop_at] = stop;
                    const char* expected = text + std::min(zero_at, stop_at);
                    ASSERT_EQ(find_csv_stop_portable(text, stop), expected)
                        << "start " << start << ", zero at " << zero_at << ", stop at " << stop_at;
                    ASSERT_EQ(find_csv_stop(text, stop), expected)
                        << "start " << start << ", zero at " << zero_at << ", stop at " << stop_at;
                }
            }
        }
    }
}

}  // namespace

namespace {

// The fields read_line fills (the record's padding bytes are not its own).
std::string record_fields(const uuid_hash_data& r) {
    std::string text(reinterpret_cast<const char*>(&r.flags), sizeof r.flags);
    const auto add = [&](const void* field, size_t size) { text.append(static_cast<const char*>(field), size); };
    add(r.policy_name, sizeof r.policy_name);
    add(r.policy_ssn, sizeof r.policy_ssn);
    for (const int32_t* value : {&r.policy_birth_day, &r.policy_gender, &r.policy_birth_year, &r.policy_birth_month,
                                 &r.patient_birth_day, &r.patient_gender, &r.patient_birth_year,
                                 &r.patient_birth_month}) {
        add(value, sizeof *value);
    }
    add(r.patient_name, sizeof r.patient_name);
    add(r.patient_ssn, sizeof r.patient_ssn);
    return text;
}

}  // namespace

// Every compilation of the quick route this CPU can run (SSE2, AVX2) must
// give the baseline's answer and fill the record byte for byte alike, on the
// same generated lines as above.
TEST(QuickRoutes, EveryCompilationReadsLikeTheBaseline) {
    const auto routes = quick_routes();
    ASSERT_FALSE(routes.empty());
    const quick_route& baseline = routes[0];
    ASSERT_TRUE(baseline.supported());
    line_maker maker(0x726f75746573);
    size_t compared = 0;
    for (size_t i = 0; i < generated_line_count; ++i) {
        const std::string line = maker.next().line;
        const auto buffer = line_in_buffer(line, record_tail_slack);
        uuid_hash_data expected;
        std::memset(&expected, 0xA5, sizeof expected);
        const fast_line expected_answer = baseline.read(buffer.get(), line.size(), &expected);
        for (const quick_route& route : routes.subspan(1)) {
            if (!route.supported()) continue;
            uuid_hash_data got;
            std::memset(&got, 0x5A, sizeof got);
            ASSERT_EQ(route.read(buffer.get(), line.size(), &got), expected_answer)
                << route.name << ", line " << hex_of(line);
            if (expected_answer == fast_line::derived) {
                ASSERT_EQ(record_fields(got), record_fields(expected)) << route.name << ", line " << hex_of(line);
                ++compared;
            }
        }
    }
    if (routes.size() > 1 && routes[1].supported()) {
        EXPECT_GT(compared, generated_line_count / 3);
    }
}

TEST(QuickRoutes, PicksASupportedCompilationAndKeepsIt) {
    const quick_route& selected = selected_quick_route();
    EXPECT_TRUE(selected.supported()) << selected.name;
    bool listed = false;
    for (const quick_route& route : quick_routes()) listed = listed || &route == &selected;
    EXPECT_TRUE(listed);
    EXPECT_EQ(&selected_quick_route(), &selected);
    // The fastest supported compilation is the last one that is supported.
    const quick_route* best = nullptr;
    for (const quick_route& route : quick_routes()) {
        if (route.supported()) best = &route;
    }
    EXPECT_EQ(best, &selected);
}
