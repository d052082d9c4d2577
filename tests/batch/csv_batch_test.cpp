// The batch run on generated files: lines of every length and line end come
// out whole, in order, wherever the input's read blocks happen to split them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <memory>
#include <new>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "csv_batch.h"
#include "line_converter.h"
#include "line_stream.h"
#include "test_support.h"

using mint_test::stdout_of;

namespace {

// The allocations that may fail (new (std::nothrow)): while a test arms
// them, only the first `nothrow_budget` succeed, as when memory runs out
// half way through a run; -1: every one.
std::atomic<long> nothrow_budget{-1};
std::atomic<long> nothrow_calls{0};

bool refuse_allocation() {
    nothrow_calls.fetch_add(1);
    long left = nothrow_budget.load();
    while (left > 0 && !nothrow_budget.compare_exchange_weak(left, left - 1)) {
    }
    return left == 0;
}

}  // namespace

// The program's own replacements, which the code under test reaches; they
// hand out memory through the ordinary operators, as a sanitizer tracks them.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (refuse_allocation()) return nullptr;
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (refuse_allocation()) return nullptr;
    try {
        return ::operator new[](size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

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
                                               output_format::full, progress_mode::off};
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

// In memory, the same pipeline runs between a source and a sink that can
// hand out input in small pieces, fail a read, or fill up.
struct MemoryRun {
    bool converted;
    std::string printed;
    std::string output;
};

// How a run in memory goes: its options, and how its ends behave.
struct MemorySetup {
    int threads = 1;
    int verbosity = 0;
    output_format format = output_format::full;
    int lines_per_block = 0;
    size_t most_per_read = 0;
    size_t read_fails_after = SIZE_MAX;
    size_t output_capacity = SIZE_MAX;  // SIZE_MAX: enough for any output
    const mint::uuid_key* key = nullptr;
    long nothrow_allocations = -1;  // the run's allocations that succeed (see nothrow_budget)
};

MemoryRun run_in_memory(const std::string& input, const MemorySetup& setup) {
    byte_source source = memory_source(input.data(), input.size());
    source.most_per_read = setup.most_per_read;
    source.fails_after = setup.read_fails_after;
    // Every line gives at most its bytes, a comma, an identifier and a line end.
    std::string buffer(setup.output_capacity != SIZE_MAX ? setup.output_capacity : 15 * input.size() + 300, '\0');
    byte_sink sink = memory_sink(buffer.data(), buffer.size());
    MemoryRun result{};
    result.printed = stdout_of([&] {
        batch_options options = {"in.csv", "out.csv", setup.verbosity, setup.format, progress_mode::off};
        options.threads = setup.threads;
        options.lines_per_block = setup.lines_per_block;
        options.key = setup.key;
        nothrow_calls.store(0);
        nothrow_budget.store(setup.nothrow_allocations);
        result.converted = convert_csv_buffers(&source, &sink, options);
        nothrow_budget.store(-1);
    });
    buffer.resize(sink.size);
    result.output = buffer;
    return result;
}

// Every kind of line a silent run meets, mixed at random, with every line
// end: records the quick route answers, refused ones whose messages must
// keep their places, lines without a key, zero bytes, and lines too long to
// parse, over many blocks of lines.
std::string mixed_input(unsigned seed, size_t lines) {
    const std::string kinds[] = {
        "Jane Doe,123-45-6789,2,1970,1,31,,,,,,",
        "\"Doe, Jane\",123456789,2,1970,1,31,,,,,,",
        "Liam Smith,,1,2010,5,3,\"Smith, Mark\",987654321,1,1980,7,4",
        "Linda Rodriguez,,1,1958,2,14,,,,,,",
        "Jane Doe,12345678,2,1970,1,31,,,,,,",
        "Jane Doe,123-45-6789,3,1970,1,31,,,,,,",
        "Jane Doe,123-45-6789,2,1970",
        "Jane Doe,123-45-6789,2,1970,1,31,Mark Smith,987654321,1,1980,7,4,x",
        "\"Jane\"\"Doe\",123-45-6789,2,1970,1,31,,,,,,",
        "Jane Doe,123-45-6789,,1970,1,31,,,,,,",
        std::string("Jane\0Doe,123-45-6789,2,1970,1,31,,,,,,", 39),
    };
    const char* const ends[] = {"\n", "\r\n", "\r"};
    std::mt19937 random(seed);
    std::string input = "header\r\n";
    for (size_t i = 0; i < lines; ++i) {
        const unsigned kind = random() % 64;
        if (kind == 0) {
            input += "\r\n";  // no key; CR LF so that a lone CR before it stays apart
            continue;
        }
        if (kind == 1 && random() % 64 == 0) {
            input += std::to_string(i) + "," + std::string(max_parsed_line + random() % 3, 'x');
        } else if (kind == 2 && random() % 8 == 0) {
            // Long enough to be converted outside the blocks of lines, as a
            // record with a long extra column or with a long name.
            const std::string filler(4000 + random() % 8000, 'y');
            input += std::to_string(i) + (random() % 2 == 0 ? ",Jane Doe,123-45-6789,2,1970,1,31,,,,,,," + filler
                                                            : ",Jane " + filler + ",123-45-6789,2,1970,1,31,,,,,,");
        } else {
            input += std::to_string(i) + "," + kinds[random() % std::size(kinds)];
        }
        input += ends[random() % 3];
    }
    return input + "last,Jane Doe,123-45-6789,2,1970,1,31,,,,,,";
}

// A threaded silent run prints and writes byte for byte what one thread
// does, whatever the thread count, the output format and the size of reads.
TEST(CsvBatchThreads, EveryThreadCountGivesWhatOneThreadGives) {
    const std::string input = mixed_input(11, 30000);
    for (const output_format format : {output_format::full, output_format::key_only}) {
        for (const size_t most_per_read : {size_t{0}, size_t{4093}}) {
            MemorySetup setup;
            setup.format = format;
            setup.most_per_read = most_per_read;
            const MemoryRun alone = run_in_memory(input, setup);
            ASSERT_TRUE(alone.converted);
            ASSERT_NE(alone.printed.find("Error in uuid_hash_set_patient_gender(), bogus gender 3 passed in.\n"),
                      std::string::npos);
            for (const int threads : {2, 3, 7}) {
                setup.threads = threads;
                const MemoryRun shared = run_in_memory(input, setup);
                EXPECT_TRUE(shared.converted);
                EXPECT_TRUE(shared.printed == alone.printed) << threads << " threads print differently";
                EXPECT_TRUE(shared.output == alone.output)
                    << threads << " threads write differently, format " << static_cast<int>(format) << ", reads of "
                    << most_per_read;
            }
        }
    }
}

// Blocks of a line or a few: the ring of blocks goes round many times, and
// lines carried from a full block to the next, lines too long for a block and
// lines too long to parse meet block ends everywhere.
TEST(CsvBatchThreads, SmallBlocksGiveWhatOneThreadGives) {
    const std::string input = mixed_input(15, 4000);
    const MemoryRun alone = run_in_memory(input, {});
    for (const int lines_per_block : {1, 2, 3, 5}) {
        for (const int threads : {2, 7}) {
            MemorySetup setup;
            setup.threads = threads;
            setup.lines_per_block = lines_per_block;
            const MemoryRun shared = run_in_memory(input, setup);
            EXPECT_TRUE(shared.converted);
            EXPECT_TRUE(shared.printed == alone.printed) << threads << " threads, blocks of " << lines_per_block;
            EXPECT_TRUE(shared.output == alone.output) << threads << " threads, blocks of " << lines_per_block;
        }
    }
}

// Keyed identifiers, derived on every thread with the run's key.
TEST(CsvBatchThreads, KeyedIdentifiersAtEveryThreadCount) {
    const std::string input = mixed_input(17, 8000);
    const unsigned char secret[] = "a secret of the batch's own";
    mint::uuid_key key;
    mint::uuid_key_init(&key, secret, sizeof secret - 1);
    MemorySetup setup;
    setup.key = &key;
    const MemoryRun alone = run_in_memory(input, setup);
    EXPECT_TRUE(alone.output != run_in_memory(input, {}).output) << "the key changes nothing";
    for (const int lines_per_block : {0, 3}) {
        for (const int threads : {2, 7}) {
            setup.threads = threads;
            setup.lines_per_block = lines_per_block;
            const MemoryRun shared = run_in_memory(input, setup);
            EXPECT_TRUE(shared.printed == alone.printed) << threads << " threads";
            EXPECT_TRUE(shared.output == alone.output) << threads << " threads";
        }
    }
}

// Thousands of short lines to a block (blank lines, lone keys, short
// records) among records: more lines than a thread takes at once.
TEST(CsvBatchThreads, ShortLinesGiveWhatOneThreadGives) {
    const char* const shorts[] = {"\n", "\r\n", "7\n", ",\n", "8,x\n", "9,,,,,,,,,,,,\n"};
    std::mt19937 random(16);
    std::string input = "header\n";
    for (int i = 0; i < 200000; ++i) {
        input += random() % 16 == 0 ? std::to_string(i) + ",Jane Doe,123-45-6789,2,1970,1,31,,,,,,\n"
                                    : std::string(shorts[random() % std::size(shorts)]);
    }
    const MemoryRun alone = run_in_memory(input, {});
    for (const int threads : {2, 3}) {
        MemorySetup setup;
        setup.threads = threads;
        const MemoryRun shared = run_in_memory(input, setup);
        EXPECT_TRUE(shared.printed == alone.printed) << threads << " threads";
        EXPECT_TRUE(shared.output == alone.output) << threads << " threads";
    }
}

// The threads' writer converts a chunk's lines in place, where the bytes
// behind the last one may be another thread's: the general path then reads
// nothing beyond the line and its terminator (the address sanitizer tells;
// each line here ends its allocation), and writes what it writes otherwise.
TEST(CsvBatchThreads, GeneralPathReadsOnlyTheLineWhenAskedTo) {
    // Derived by the general path (the quick route leaves the extra column),
    // and refused by it.
    for (const std::string text : {"1,Jane Doe,123-45-6789,2,1970,1,31,,,,,,x", "2,Jane Doe,123-45-6789,3,1970,1,31"}) {
        for (const output_format format : {output_format::full, output_format::key_only}) {
            std::string outputs[2];
            for (const bool exactly : {false, true}) {
                // Room behind the line only for the run that may read it.
                const size_t room = text.size() + 1 + (exactly ? 0 : line_read_slack);
                const std::unique_ptr<char[]> line(new char[room]());
                std::memcpy(line.get(), text.data(), text.size());
                std::string written(output_buffer_size, '\0');
                byte_sink sink = memory_sink(written.data(), written.size());
                output_writer writer;
                open_output_writer(&writer, &sink);
                line_output output = {&writer, format};
                line_converter run;
                open_line_converter(&run, "in.csv", 0, 2, nullptr, &output, nullptr);
                testing::internal::CaptureStdout();
                const bool converted = convert_by_general_path(&run, line.get(), text.size(), exactly);
                testing::internal::GetCapturedStdout();
                ASSERT_TRUE(converted);
                ASSERT_TRUE(flush_output(&writer));
                outputs[exactly] = written.substr(0, sink.size);
            }
            EXPECT_EQ(outputs[1], outputs[0]) << text;
        }
    }
}

// Verbose runs take one thread whatever is asked for.
TEST(CsvBatchThreads, VerboseRunsAreUnchanged) {
    const std::string input = mixed_input(12, 3000);
    for (const int verbosity : {1, 2}) {
        MemorySetup setup;
        setup.verbosity = verbosity;
        const MemoryRun alone = run_in_memory(input, setup);
        setup.threads = 4;
        const MemoryRun shared = run_in_memory(input, setup);
        EXPECT_TRUE(shared.printed == alone.printed);
        EXPECT_TRUE(shared.output == alone.output);
    }
}

// A read error anywhere: everything read before it is converted and written,
// with its messages, then the run fails with the read message, as with one
// thread.
TEST(CsvBatchThreads, ReadErrorIsReportedAsWithOneThread) {
    const std::string input = mixed_input(13, 20000);
    std::mt19937 random(13);
    std::vector<size_t> failures = {0, 1, 7, input_block_size - 1, input_block_size, input_block_size + 1,
                                    input.size() - 1, input.size()};
    for (int i = 0; i < 12; ++i) failures.push_back(random() % input.size());
    for (const size_t fails_after : failures) {
        for (const size_t most_per_read : {size_t{0}, size_t{1000}}) {
            MemorySetup setup;
            setup.most_per_read = most_per_read;
            setup.read_fails_after = fails_after;
            const MemoryRun alone = run_in_memory(input, setup);
            setup.threads = 4;
            const MemoryRun shared = run_in_memory(input, setup);
            EXPECT_FALSE(alone.converted);
            EXPECT_FALSE(shared.converted);
            EXPECT_TRUE(alone.printed.ends_with("Unable to read input file 'in.csv'.\n")) << fails_after;
            EXPECT_TRUE(shared.printed == alone.printed) << "read failing after " << fails_after;
            EXPECT_TRUE(shared.output == alone.output) << "read failing after " << fails_after;
        }
    }
}

// A write error anywhere: the run stops at the line whose output could not
// be written, so the lines after it print nothing, as with one thread.
TEST(CsvBatchThreads, WriteErrorIsReportedAsWithOneThread) {
    const std::string input = mixed_input(14, 20000);
    std::mt19937 random(14);
    for (const output_format format : {output_format::full, output_format::key_only}) {
        MemorySetup setup;
        setup.format = format;
        const size_t whole = run_in_memory(input, setup).output.size();
        std::vector<size_t> capacities = {0, 10, output_buffer_size - 1, output_buffer_size, output_buffer_size + 1,
                                          whole - 1};
        for (int i = 0; i < 12; ++i) capacities.push_back(random() % whole);
        for (const size_t capacity : capacities) {
            setup.output_capacity = capacity;
            setup.threads = 1;
            const MemoryRun alone = run_in_memory(input, setup);
            setup.threads = 4;
            const MemoryRun shared = run_in_memory(input, setup);
            EXPECT_FALSE(alone.converted);
            EXPECT_FALSE(shared.converted);
            EXPECT_TRUE(alone.printed.ends_with("Unable to write output file 'out.csv'.\n")) << capacity;
            EXPECT_TRUE(shared.printed == alone.printed) << "output full after " << capacity;
            EXPECT_TRUE(shared.output == alone.output) << "output full after " << capacity;
        }
    }
}

// Memory that runs out anywhere in a run, the first allocation or any
// later one (each block of the ring, each buffer the reader borrows): the run
// ends, with what one thread gives, or, when there is not even the memory
// for its buffers, with the memory message and nothing written. A failure
// once the blocks before are all written used to leave every thread waiting.
TEST(CsvBatchThreads, RunsEndWhereverMemoryRunsOut) {
    // Blocks of a few lines, which fill the ring at once; and whole blocks
    // after the first megabyte, with a reader that borrows buffers.
    struct shape {
        std::string input;
        int lines_per_block;
        std::vector<int> thread_counts;
    };
    const shape shapes[] = {{mixed_input(21, 3000), 3, {2, 7}}, {mixed_input(22, 30000), 0, {7}}};
    for (const shape& shape : shapes) {
        const MemoryRun alone = run_in_memory(shape.input, {});
        ASSERT_TRUE(alone.converted);
        for (const int threads : shape.thread_counts) {
            MemorySetup setup;
            setup.threads = threads;
            setup.lines_per_block = shape.lines_per_block;
            setup.output_capacity = alone.output.size();
            run_in_memory(shape.input, setup);
            // The run's buffers, the ring of blocks and one block in each
            // of its slots, at least; the reader's further buffers vary with
            // the threads' timing.
            const long allocations = nothrow_calls.load();
            ASSERT_GE(allocations, 2 + 4 * threads);
            for (long allowed = 0; allowed <= allocations + 2; ++allowed) {
                setup.nothrow_allocations = allowed;
                std::future<MemoryRun> running =
                    std::async(std::launch::async, [&] { return run_in_memory(shape.input, setup); });
                if (running.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
                    std::fprintf(stderr, "%d threads, blocks of %d lines, %ld allocations: the run hangs\n", threads,
                                 shape.lines_per_block, allowed);
                    std::_Exit(1);
                }
                const MemoryRun shared = running.get();
                if (allowed == 0) {
                    EXPECT_FALSE(shared.converted);
                    EXPECT_EQ(shared.printed, "Unable to allocate memory.\n");
                    EXPECT_EQ(shared.output, "");
                    continue;
                }
                EXPECT_TRUE(shared.converted) << threads << " threads, " << allowed << " allocations";
                EXPECT_TRUE(shared.printed == alone.printed) << threads << " threads, " << allowed << " allocations";
                EXPECT_TRUE(shared.output == alone.output) << threads << " threads, " << allowed << " allocations";
            }
        }
    }
}

}  // namespace
