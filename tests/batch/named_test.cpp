// Reading by name: values, records, the header's mapping, and whole runs in
// memory, whatever the reads' sizes and the thread count.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "csv_record.h"
#include "field_values.h"
#include "named_convert.h"
#include "named_csv.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

// Numbers are judged exactly as a positional number field that a comma
// follows: absent, a value, or a refused (short) record.
TEST(NamedValues, NumbersAsThePositionalFieldJudgesThem) {
    const char* const texts[] = {"",      "-",    "0",    "007",  "-5",       "+5",          " 5",
                                 "5 ",    "12a",  "--1",  "-x",   "1970",     "2147483647",  "2147483648",
                                 "-2147483648", "-2147483649", "99999999999999999999", "1.0", "\t1", "x"};
    for (const char* text : texts) {
        const std::string line = std::string(text) + ",";
        int empty = -1;
        int32_t positional = 0;
        const char* next = read_csv_int_field(line.c_str(), &empty, &positional);
        int32_t value = 0;
        const value_verdict verdict = judge_number(text, &value);
        if (*text == '\0') {
            // An empty field: the positional reader sees the comma and keeps nothing.
            EXPECT_EQ(verdict, value_verdict::absent);
            continue;
        }
        if (next == nullptr) {
            EXPECT_EQ(verdict, value_verdict::refused) << text;
        } else if (empty) {
            EXPECT_EQ(verdict, value_verdict::absent) << text;
        } else {
            ASSERT_EQ(verdict, value_verdict::value) << text;
            EXPECT_EQ(value, positional) << text;
        }
    }
}

TEST(NamedValues, DatesInEachFormat) {
    struct date_case {
        const char* format;
        const char* text;
        value_verdict verdict;
        int32_t year, month, day;
    };
    const date_case cases[] = {
        {"%Y-%m-%d", "1970-01-31", value_verdict::value, 1970, 1, 31},
        {"%Y-%m-%d", "1970-1-3", value_verdict::value, 1970, 1, 3},
        {"%Y-%m-%d", "", value_verdict::absent, 0, 0, 0},
        {"%Y-%m-%d", "70-01-31", value_verdict::refused, 0, 0, 0},
        {"%Y-%m-%d", "1970-01-31 00:00", value_verdict::refused, 0, 0, 0},
        {"%Y-%m-%d", "1970-001-31", value_verdict::refused, 0, 0, 0},
        {"%Y-%m-%d", "1970/01/31", value_verdict::refused, 0, 0, 0},
        {"%d/%m/%Y", "31/01/1970", value_verdict::value, 1970, 1, 31},
        {"%d/%m/%Y", "3/1/1970", value_verdict::value, 1970, 1, 3},
        {"%m/%d/%Y", "01/31/1970", value_verdict::value, 1970, 1, 31},
        {"%m/%d/%Y", "31/01/1970", value_verdict::value, 1970, 31, 1},  // the library refuses month 31
        {"%d.%m.%Y", "31.01.1970", value_verdict::value, 1970, 1, 31},
        {"%d.%m.%Y", "31.01.70", value_verdict::refused, 0, 0, 0},
        {"%Y%m%d", "19700131", value_verdict::value, 1970, 1, 31},
        {"%Y%m%d", "1970131", value_verdict::refused, 0, 0, 0},
        {"%Y%m%d", "197001310", value_verdict::refused, 0, 0, 0},
        {"%Y%m%d", "1970-01-31", value_verdict::refused, 0, 0, 0},
    };
    for (const date_case& c : cases) {
        date_format format;
        ASSERT_TRUE(find_date_format(c.format, &format));
        EXPECT_STREQ(date_format_text(format), c.format);
        int32_t year = 0, month = 0, day = 0;
        EXPECT_EQ(judge_date(c.text, format, &year, &month, &day), c.verdict) << c.format << " " << c.text;
        if (c.verdict == value_verdict::value) {
            EXPECT_EQ(year, c.year) << c.text;
            EXPECT_EQ(month, c.month) << c.text;
            EXPECT_EQ(day, c.day) << c.text;
        }
    }
    date_format format;
    EXPECT_FALSE(find_date_format("%Y/%m/%d", &format));
}

TEST(NamedValues, GenderCodes) {
    gender_codes codes;
    ASSERT_TRUE(parse_gender_codes("M=1,F=2,male=1,female=2", &codes));
    EXPECT_EQ(codes.count, 4u);
    struct gender_case {
        const char* text;
        value_verdict verdict;
        int32_t value;
    };
    const gender_case cases[] = {{"M", value_verdict::value, 1},      {"f", value_verdict::value, 2},
                                 {"FEMALE", value_verdict::value, 2}, {"2", value_verdict::value, 2},
                                 {"", value_verdict::absent, 0},      {"X", value_verdict::refused, 0},
                                 {"M ", value_verdict::refused, 0},   {"Ma", value_verdict::refused, 0}};
    for (const gender_case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(judge_gender(c.text, &codes, &value), c.verdict) << c.text;
        if (c.verdict == value_verdict::value) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    int32_t value = 0;
    EXPECT_EQ(judge_gender("M", nullptr, &value), value_verdict::refused);
    for (const char* wrong : {"", "M", "M=", "=1", "M=x", "M=1,", "M=1,,F=2", "M:1"}) {
        EXPECT_FALSE(parse_gender_codes(wrong, &codes)) << wrong;
    }
}

// Records cut whole and cut as they arrive a few bytes at a time end at the
// same places.
std::vector<std::string> records_of(const std::string& data, char delimiter, size_t step) {
    std::vector<std::string> records;
    size_t start = 0;
    size_t available = step == 0 ? data.size() : 0;
    record_scan scan;
    start_record_scan(&scan, delimiter);
    for (;;) {
        const bool at_end = available >= data.size();
        size_t length = 0;
        size_t terminator = 0;
        if (find_record_end(&scan, data.data() + start, available - start, at_end, &length, &terminator)) {
            if (length == 0 && terminator == 0) return records;
            records.push_back(data.substr(start, length) + "|" + std::to_string(terminator) + "|" +
                              std::to_string(scan.line_ends));
            start += length + terminator;
            start_record_scan(&scan, delimiter);
            continue;
        }
        available = std::min(data.size(), available + step);
    }
}

TEST(NamedRecords, RecordsEndOutsideQuotesWhereverTheReadsEnd) {
    const std::string data =
        "a;\"b;\r\nc\";d\r\n"       // a quoted CR LF inside a field
        "\"x\"\"y\";\"z\r\"\r"        // doubled quote; a quoted lone CR; lone CR ends it
        "\r\n"                      // a blank record (CR LF)
        "q\"uote;r\n"               // a quote inside a bare field is a character
        "\"open;\nnever closed";    // the last record runs to the end
    const std::vector<std::string> expected = {
        "a;\"b;\r\nc\";d|2|1", "\"x\"\"y\";\"z\r\"|1|1", "|2|0", "q\"uote;r|1|0", "\"open;\nnever closed|0|1"};
    EXPECT_EQ(records_of(data, ';', 0), expected);
    for (size_t step = 1; step < 8; ++step) EXPECT_EQ(records_of(data, ';', step), expected) << step;
}

TEST(NamedRecords, FieldsAndTheirValues) {
    const std::string record = "1;\"O\"\"Brien; Mary\";;\"a\nb\";\"x\"tail;plain";
    field_span fields[8];
    ASSERT_EQ(split_record(record.data(), record.size(), ';', fields, 8), 6u);
    const char* const values[] = {"1", "O\"Brien; Mary", "", "a\nb", "xtail", "plain"};
    for (size_t i = 0; i < 6; ++i) {
        char value[64];
        field_value(record.data() + fields[i].start, fields[i].length, value, sizeof value);
        EXPECT_STREQ(value, values[i]) << i;
    }
    EXPECT_EQ(split_record("", 0, ',', fields, 8), 1u);
    // Quoting for output: only where CSV needs it.
    char quoted[64];
    const size_t length = quote_field("say \"hi\"; bye", 13, ';', quoted, sizeof quoted);
    EXPECT_EQ(std::string(quoted, length), "\"say \"\"hi\"\"; bye\"");
    EXPECT_EQ(quote_field("plain", 5, ';', quoted, sizeof quoted), 5u);
}

TEST(NamedRecords, DelimiterFromTheHeader) {
    EXPECT_EQ(find_delimiter("a;b;c", 5), ';');
    EXPECT_EQ(find_delimiter("a\tb\tc,d", 7), '\t');
    EXPECT_EQ(find_delimiter("\"a,b,c\";d", 9), ';');  // quoted commas do not count
    EXPECT_EQ(find_delimiter("a|b", 3), '|');
    EXPECT_EQ(find_delimiter("name", 4), ',');
    EXPECT_EQ(find_delimiter("a,b;c", 5), ',');  // a tie goes to the comma
}

header_mapping mapped(const std::string& header, const column_choice& choice, bool* ok) {
    static header_mapping mapping;
    *ok = map_header(header.data(), header.size(), 0, choice, &mapping);
    return mapping;
}

TEST(NamedHeader, Mapping) {
    column_choice choice = {};
    bool ok = false;
    header_mapping mapping = mapped("\xEF\xBB\xBF" "Note;PATIENT_NAME; patient_gender ;patient_birth_date;x;;", choice, &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(mapping.byte_order_mark);
    EXPECT_EQ(mapping.delimiter, ';');
    EXPECT_EQ(mapping.column_count, 7u);
    EXPECT_EQ(mapping.column_of[static_cast<int>(named_field::patient_name)], 1);
    EXPECT_EQ(mapping.column_of[static_cast<int>(named_field::patient_gender)], 2);
    EXPECT_EQ(mapping.column_of[static_cast<int>(named_field::patient_birth_date)], 3);
    EXPECT_EQ(mapping.column_of[static_cast<int>(named_field::patient_ssn)], -1);
    EXPECT_EQ(std::vector<bool>(mapping.identifying, mapping.identifying + 7),
              (std::vector<bool>{false, true, false, true, false, false, false}));

    struct problem_case {
        const char* header;
        const char* map_ssn;  // --map patient_ssn=...
        const char* drop;
        mapping_problem problem;
        const char* message;
    };
    const problem_case cases[] = {
        {"patient_name,patient_gender,patient_birth_year,patient_birth_month", nullptr, nullptr,
         mapping_problem::missing_column, "no column for patient_birth_day;"},
        {"patient_name,patient_gender", nullptr, nullptr, mapping_problem::missing_column,
         "no column for patient_birth_date (nor"},
        {"patient_name,patient_birth_date", nullptr, nullptr, mapping_problem::missing_column,
         "no column for patient_gender;"},
        {"patient_name,patient_gender,patient_birth_date,SSN", "ssn2", nullptr, mapping_problem::missing_mapped,
         "no column 'ssn2' in the header"},
        {"patient_name,patient_gender,patient_birth_date,SSN", "patient_name", nullptr,
         mapping_problem::claimed_twice, "named for both patient_name and patient_ssn"},
        {"patient_name,patient_gender,patient_birth_date,Ward,ward", nullptr, nullptr,
         mapping_problem::duplicate_column, "two columns are named 'ward'"},
        {"patient_name,patient_gender,patient_birth_date,patient_birth_day", nullptr, nullptr,
         mapping_problem::date_and_numbers, "a column for patient_birth_date and columns"},
        {"patient_name,patient_gender,patient_birth_date", nullptr, "postcode", mapping_problem::missing_mapped,
         "no column 'postcode' in the header"},
    };
    for (const problem_case& c : cases) {
        column_choice with = {};
        with.mapped[static_cast<int>(named_field::patient_ssn)] = c.map_ssn;
        if (c.drop != nullptr) {
            with.dropped[0] = c.drop;
            with.dropped_count = 1;
        }
        mapping = mapped(c.header, with, &ok);
        EXPECT_FALSE(ok) << c.header;
        EXPECT_EQ(mapping.problem, c.problem) << c.header;
        char message[1024];
        describe_mapping_problem(mapping, "in.csv", message, sizeof message);
        EXPECT_NE(std::strstr(message, c.message), nullptr) << message;
        // The header's columns are listed, each in quotes.
        EXPECT_NE(std::strstr(message, "The header's columns: 'patient_name', "), nullptr) << message;
    }
}

struct named_run_result {
    named_status status;
    std::string output;
    std::string report;
    std::string printed;
    run_counts counts;
};

named_run_result run_named(const std::string& input, by_name_options options, size_t most_per_read) {
    named_run_result result{};
    std::vector<char> out(input.size() * 3 + 4096);
    std::vector<char> report(input.size() * 2 + 4096);
    byte_source source = memory_source(input.data(), input.size());
    source.most_per_read = most_per_read;
    byte_sink sink = memory_sink(out.data(), out.size());
    byte_sink report_sink = memory_sink(report.data(), report.size());
    result.printed = stdout_of([&] { result.status = convert_by_name(&source, &sink, &report_sink, options, &result.counts); });
    result.output.assign(out.data(), sink.size);
    result.report.assign(report.data(), report_sink.size);
    return result;
}

// A generated export: every kind of record, quoted line breaks, CR LF and
// lone CR ends, a record longer than any that is read, blank lines.
std::string generated_export(size_t records) {
    std::mt19937 random(11);
    const char* const kinds[] = {
        "%K;Jane Doe;2;x;123-45-6789;31.01.1970;\"note; with\r\nbreak\"",
        "%K;\"Roe; Richard\";1;y;;24.12.1985;plain",
        "%K;Jane Doe;2;z;12-345-678;31.01.1970;bad ssn",
        "%K;Jane Doe;F;z;123-45-6789;31.01.1970;bad gender",
        "%K;Jane Doe;2;z;123-45-6789;1970-01-31;bad date",
        "%K;Jane Doe;2;z;123-45-6789;;incomplete",
        ";Jane Doe;2;z;123-45-6789;31.01.1970;no key",
        "%K;Jane Doe;2;short",
        "",
        "%K;\"O\"\"Brien\";2;\"q\"\"q\";987654321;4.7.1968;\"multi\nline\nnote\"",
        "%K;Zed;2;w;123456789;31.13.1970;month",
    };
    std::string text = "id;patient_name;patient_gender;ward;patient_ssn;patient_birth_date;note\r\n";
    const char* const ends[] = {"\r\n", "\n", "\r"};
    for (size_t i = 0; i < records; ++i) {
        std::string line = kinds[random() % (sizeof kinds / sizeof kinds[0])];
        const size_t at = line.find("%K");
        if (at != std::string::npos) line.replace(at, 2, std::to_string(1000 + i));
        if (i == records / 2) line = std::to_string(i) + ";Long;2;w;;1.1.1970;\"" + std::string(70000, 'n') + "\"";
        text += line;
        // A lone CR after a blank line would join it with the next: CR LF there.
        text += line.empty() ? "\r\n" : ends[random() % 3];
    }
    return text;
}

by_name_options generated_options() {
    by_name_options options;
    static gender_codes codes;
    parse_gender_codes("M=1,F=2", &codes);
    options.genders = &codes;
    options.dates = date_format::day_month_year_dot;
    options.columns.mapped[static_cast<int>(named_field::data_record)] = "id";
    return options;
}

TEST(NamedRun, EveryReadSizeAndThreadCountGivesTheSame) {
    const std::string input = generated_export(3000);
    for (named_output output : {named_output::full, named_output::drop_identifying, named_output::key_only}) {
        by_name_options options = generated_options();
        options.output = output;
        const named_run_result one = run_named(input, options, 0);
        ASSERT_EQ(one.status, named_status::done);
        EXPECT_GT(one.counts.patient_key, 100);
        EXPECT_GT(one.counts.refused, 100);
        EXPECT_GT(one.counts.skipped, 100);
        EXPECT_NE(one.printed.find("invalid ssn passed in"), std::string::npos);
        for (size_t most_per_read : {size_t{1}, size_t{7}, size_t{4096}}) {
            const named_run_result again = run_named(input, options, most_per_read);
            EXPECT_TRUE(again.output == one.output) << most_per_read;
            EXPECT_EQ(again.report, one.report);
            EXPECT_EQ(again.printed, one.printed);
        }
        for (int threads : {2, 3}) {
            for (size_t per_block : {size_t{1}, size_t{3}, size_t{0}}) {
                options.threads = threads;
                options.records_per_block = per_block;
                const named_run_result threaded = run_named(input, options, per_block == 1 ? 100 : 0);
                EXPECT_TRUE(threaded.output == one.output) << threads << " " << per_block;
                EXPECT_EQ(threaded.report, one.report);
                EXPECT_EQ(threaded.printed, one.printed);
                EXPECT_EQ(threaded.counts.patient_key, one.counts.patient_key);
                EXPECT_EQ(threaded.counts.refused, one.counts.refused);
                EXPECT_EQ(threaded.counts.skipped, one.counts.skipped);
            }
        }
    }
}

// The full output is every record as read with at most its delimiter and
// identifier added, and the report holds no value of a record but its key.
TEST(NamedRun, FullOutputKeepsRecordsAndReportKeepsNoValues) {
    const std::string input = generated_export(400);
    const named_run_result result = run_named(input, generated_options(), 0);
    ASSERT_EQ(result.status, named_status::done);
    for (const char* value : {"Jane", "Doe", "123-45-6789", "31.01.1970", "note", "Richard", "987654321", "nnnn"}) {
        EXPECT_EQ(result.report.find(value), std::string::npos) << value;
    }
    EXPECT_EQ(result.report.substr(0, 37), "line,record_key,outcome,field,reason\n");
    // Record by record, the output is the input with ";" and an identifier
    // or ";" alone added (a blank record stays blank).
    const std::vector<std::string> in = records_of(input, ';', 0);
    const std::vector<std::string> out = records_of(result.output, ';', 0);
    ASSERT_EQ(in.size(), out.size());
    for (size_t i = 0; i < in.size(); ++i) {
        // records_of gives "bytes|terminator|line ends", the two numbers one digit here.
        const std::string& a = in[i];
        const std::string& b = out[i];
        const std::string a_bytes = a.substr(0, a.size() - 4);
        const std::string b_bytes = b.substr(0, b.size() - 4);
        if (a_bytes.empty()) {
            EXPECT_TRUE(b_bytes.empty()) << i;
            continue;
        }
        ASSERT_EQ(b_bytes.compare(0, a_bytes.size(), a_bytes), 0) << i;
        const std::string added = b_bytes.substr(a_bytes.size());
        if (i == 0) {
            EXPECT_EQ(added, ";uuid");
        } else {
            EXPECT_TRUE(added == ";" || added.size() == 13) << i << " " << added;
        }
    }
}

// A file cut into slices at record boundaries, each converted on its own with
// the first slice's mapping, its first line's number and its first record's
// number, gives the whole file's output and report: what a browser page's
// workers do with parts of a big file.
TEST(NamedRun, SlicesGiveTheWholeFile) {
    const std::string input = generated_export(600);
    by_name_options options = generated_options();
    options.columns.mapped[static_cast<int>(named_field::data_record)] = nullptr;  // records numbered
    options.output = named_output::key_only;
    const named_run_result whole = run_named(input, options, 0);
    ASSERT_EQ(whole.status, named_status::done);

    header_mapping mapping;
    size_t header_length = 0;
    ASSERT_TRUE(read_named_header(input.data(), input.size(), true, options, &mapping, &header_length));
    // Cut after every 97th record, counting lines and records as the cut is found.
    std::vector<size_t> cuts = {header_length};
    std::vector<int64_t> lines = {2};
    std::vector<int64_t> numbers = {1};
    int64_t line = 2;
    int64_t number = 1;
    record_scan scan;
    for (size_t at = header_length; at < input.size();) {
        start_record_scan(&scan, mapping.delimiter);
        size_t length = 0;
        size_t terminator = 0;
        ASSERT_TRUE(find_record_end(&scan, input.data() + at, input.size() - at, true, &length, &terminator));
        at += length + terminator;
        line += 1 + scan.line_ends;
        ++number;
        if (number % 97 == 0 && at < input.size()) {
            cuts.push_back(at);
            lines.push_back(line);
            numbers.push_back(number);
        }
    }
    cuts.push_back(input.size());
    ASSERT_GT(cuts.size(), 4u);
    std::string output;
    std::string report;
    for (size_t s = 0; s + 1 < cuts.size(); ++s) {
        by_name_options slice = options;
        std::string part;
        if (s == 0) {
            part = input.substr(0, cuts[1]);
        } else {
            slice.mapping = &mapping;
            slice.first_line = lines[s];
            slice.first_record = numbers[s];
            part = input.substr(cuts[s], cuts[s + 1] - cuts[s]);
        }
        const named_run_result result = run_named(part, slice, 0);
        ASSERT_EQ(result.status, named_status::done);
        output += result.output;
        report += result.report;
    }
    EXPECT_TRUE(output == whole.output);
    EXPECT_EQ(report, whole.report);
}

// Headers that cannot be read by name write nothing and say why, the
// columns listed.
TEST(NamedRun, UnreadableHeadersWriteNothing) {
    struct header_case {
        std::string input;
        const char* message;
    };
    const header_case cases[] = {
        {std::string(70000, 'a') + "\n1\n", "its header has more than 1024 columns or 65536 bytes"},
        {std::string(70000, 'a'), "its header has more than 1024 columns or 65536 bytes"},
        {std::string(2000, ';') + "\n", "its header has more than 1024 columns"},
        {"", "no column for patient_name"},
        {"patient_name;patient_gender;patient_birth_date;Ward;WARD \n", "two columns are named 'WARD '"},
    };
    for (const header_case& c : cases) {
        const named_run_result result = run_named(c.input, by_name_options{}, 0);
        EXPECT_EQ(result.status, named_status::unmapped);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.report, "");
        EXPECT_NE(result.printed.find(c.message), std::string::npos) << result.printed.substr(0, 200);
    }
}

}  // namespace
