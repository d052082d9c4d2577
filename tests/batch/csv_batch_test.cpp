// The batch run on generated files: lines of every length and line end come
// out whole, in order, wherever the input's read blocks happen to split them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "csv_batch.h"
#include "line_stream.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

const std::string header =
    "data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
    "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,"
    "policy_birth_day,uuid\n";

// A record of exactly `length` bytes that gets Jane Doe's identifier: the
// patient fields, six empty policy holder fields and a filler field.
std::string record_line(int key, size_t length) {
    std::string line = std::to_string(key) + ",Jane Doe,123-45-6789,2,1970,1,31,,,,,,,";
    EXPECT_LE(line.size(), length);
    line.resize(length, 'x');
    return line;
}

std::string processed(const std::string& line) {
    return line + ",uc1kb3lfu4p3\n";
}

struct BatchRun {
    int status;
    std::string printed;
    std::string output;
};

class CsvBatch : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "mintbatch_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        directory_ = pattern;
        input_path_ = directory_ + "/in.csv";
        output_path_ = directory_ + "/out.csv";
    }

    void TearDown() override {
        unlink(input_path_.c_str());
        unlink(output_path_.c_str());
        rmdir(directory_.c_str());
    }

    BatchRun run(const std::string& input, int verbosity = 0) {
        std::ofstream(input_path_, std::ios::binary) << input;
        BatchRun result{};
        result.printed = stdout_of(
            [&] {
                const batch_options options = {input_path_.c_str(), output_path_.c_str(), verbosity,
                                               output_format::full, progress_mode::off, nullptr};
                result.status = process_csv_file(options);
            });
        std::ifstream written(output_path_, std::ios::binary);
        std::stringstream content;
        content << written.rdbuf();
        result.output = content.str();
        return result;
    }

    std::string directory_;
    std::string input_path_;
    std::string output_path_;
};

TEST_F(CsvBatch, MixedLineEndsAcrossManyReadBlocks) {
    // Lines of varying length with LF, CR LF and lone CR ends, blank lines and
    // a zero byte, over several read blocks; the last line has no end.
    std::string input = "first line\r\n";
    std::string expected = header;
    const char* const ends[] = {"\n", "\r\n", "\r"};
    for (int i = 0; input.size() < 3 * input_block_size; ++i) {
        const bool last = input.size() + 400 >= 3 * input_block_size;
        std::string line;
        if (i % 11 == 5 && !last) {
            // A blank line ends in CR LF, so a lone CR before it stays apart.
            input += "\r\n";
            expected += "\n";
            continue;
        }
        if (i % 13 == 7) {
            // Parsing stops at the zero byte (a short record); the output
            // still gets every byte.
            line = std::to_string(i) + ",Jane" + std::string(1, '\0') + " Doe,123-45-6789,2,1970,1,31,,,,,,";
            expected += line + "\n";
        } else {
            line = record_line(i, 50 + static_cast<size_t>(i * 37) % 300);
            expected += processed(line);
        }
        input += line;
        if (last) break;
        input += ends[i % 3];
    }
    const BatchRun result = run(input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.printed, "");
    EXPECT_TRUE(result.output == expected) << "output of " << result.output.size() << " bytes differs";
}

// Silent runs derive most lines by a quicker route, two at a time, with the
// lines' output buffered before their identifiers are known. Whatever the mix
// of lines around them, the output must be byte for byte that of a verbose
// run, which takes the general path for every line.
TEST_F(CsvBatch, SilentRunWritesWhatAVerboseRunWrites) {
    const std::string kinds[] = {
        "Jane Doe,123-45-6789,2,1970,1,31,,,,,,",                               // patient key
        "\"Doe, Jane\",123456789,2,1970,1,31,,,,,,",                             // quoted name
        "Liam Smith,,1,2010,5,3,\"Smith, Mark\",987654321,1,1980,7,4",            // policy key
        "Linda Rodriguez,,1,1958,2,14,,,,,,",                                   // zero identifier
        "Jane Doe,12345678,2,1970,1,31,,,,,,",                                  // refused: 8 digits
        "Jane Doe,123-45-6789,3,1970,1,31,,,,,,",                               // refused: gender
        "Jane Doe,123-45-6789,2,1970",                                          // short line
        "Jane Doe,123-45-6789,2,1970,1,31,Mark Smith,987654321,1,1980,7,4,x",  // both keys, extra column
        "\"Jane\"\"Doe\",123-45-6789,2,1970,1,31,,,,,,",                          // doubled quote
    };
    std::mt19937 random(7);
    std::string input = "header\n";
    for (int i = 0; input.size() < 3 * output_buffer_size; ++i) {
        const int kind = static_cast<int>(random() % 11);
        if (kind == 9) {
            input += "\n";  // no key
        } else if (kind == 10 && i % 50 == 0) {
            input += std::to_string(i) + "," + std::string(max_parsed_line + 10, 'x') + "\n";  // too long to parse
        } else {
            input += std::to_string(i) + "," + kinds[static_cast<size_t>(kind) % std::size(kinds)] + "\n";
        }
    }
    const BatchRun silent = run(input, 0);
    const BatchRun verbose = run(input, 1);
    EXPECT_EQ(silent.status, 0);
    EXPECT_EQ(verbose.status, 0);
    EXPECT_GT(silent.output.size(), 3 * output_buffer_size);
    EXPECT_TRUE(silent.output == verbose.output) << "outputs of " << silent.output.size() << " and "
                                                 << verbose.output.size() << " bytes differ";
    // The refused lines' messages are the library's, in the order of the lines.
    EXPECT_NE(silent.printed.find("Error in uuid_hash_set_patient_ssn(), invalid ssn passed in.\n"),
              std::string::npos);
}

TEST_F(CsvBatch, CarriageReturnAsTheLastByteOfAReadBlock) {
    // The first read of a regular file takes exactly input_block_size bytes,
    // so the CR at offset input_block_size - 1 is the last byte of a block and
    // only the next block tells whether it begins a CR LF.
    struct Case {
        bool long_line;            // the line ending there is too long to parse
        std::string continuation;  // the input after the CR
        std::string expected_tail;
    };
    const std::string next = record_line(9, 60);
    const Case cases[] = {
        {false, "\n" + next + "\n", processed(next)},
        {false, next, processed(next)},
        {false, "", ""},
        {false, "\r\n" + next, "\n" + processed(next)},
        {true, "\n" + next + "\n", processed(next)},
        {true, next, processed(next)},
        {true, "", ""},
        {true, "\r\n" + next, "\n" + processed(next)},
    };
    for (const auto& c : cases) {
        std::string input = "h\n";
        std::string expected = header;
        if (!c.long_line) {
            for (int key = 1; input_block_size - 1 - input.size() > 1000; ++key) {
                const std::string line = record_line(key, 500);
                input += line + "\n";
                expected += processed(line);
            }
        }
        const std::string line = record_line(0, input_block_size - 1 - input.size());
        input += line + "\r" + c.continuation;
        ASSERT_EQ(input[input_block_size - 1], '\r');
        expected += c.long_line ? line + "\n" : processed(line);
        expected += c.expected_tail;
        const BatchRun result = run(input);
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(result.output == expected)
            << (c.long_line ? "long line" : "short lines") << " then " << c.continuation.size() << " bytes";
    }
}

TEST_F(CsvBatch, LinesBeyondTheParsedLengthAreCopiedWhole) {
    const std::string longest = record_line(1, max_parsed_line);
    const std::string too_long = record_line(2, max_parsed_line + 1);
    const std::string short_line = record_line(3, 50);
    const std::string last = record_line(4, 3 * input_block_size);
    const std::string input = std::string(100000, 'H') + "\r\n" + longest + "\n" + too_long + "\r" +
                              short_line + "\r\n" + last;
    const BatchRun result = run(input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.printed, "");
    EXPECT_TRUE(result.output ==
                header + processed(longest) + too_long + "\n" + processed(short_line) + last + "\n");
}

TEST_F(CsvBatch, LongLineIsReportedLikeAnyLineWithoutAKey) {
    // The message shows the line's text up to its first zero byte, as for a
    // short line; the output keeps every byte.
    const std::string text = "," + std::string(max_parsed_line, 'a');
    const std::string line = text + std::string(1, '\0') + "hidden";
    const BatchRun result = run("h\n" + line + "\n,short\n", 1);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(result.output == header + line + "\n,short\n");
    const std::string expected_printed = "Reading patient records from input file '" + input_path_ + "'.\n" +
                                         "Writing patient records to output file '" + output_path_ + "'.\n\n" +
                                         "Ignoring line '" + text + "'\n\n\n" + "Ignoring line ',short'\n\n\n" +
                                         "\n\nProcessed 0 records, ignored 0 bad records, discarded 2 bad lines.\n";
    EXPECT_TRUE(result.printed == expected_printed) << result.printed.substr(result.printed.size() - 200);
}

}  // namespace
