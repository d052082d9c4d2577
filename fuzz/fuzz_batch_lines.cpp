// Any bytes as a mintbatch input: the output is the header line, then the
// input's lines after the first, in order and byte for byte, each ended by
// "\n" and with at most "," and a 12-character identifier appended. A silent
// run (which takes the quick route and derives identifiers in pairs) writes
// exactly what a verbose run (the general path throughout) writes. Two,
// three and seven threads print and write exactly what one thread does. The
// key-only output holds each line's record key and the same identifier. Each
// input runs the first property and, as it chooses, some of the others, so
// that the target runs thousands of inputs a second.
//
// The pipeline runs between memory buffers, with the input handed out in
// reads of a size the input chooses, as a pipe would, and threads taking
// blocks of as few lines as the input chooses; one input in 256 also goes
// through real files, which must give the same.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "csv_batch.h"
#include "fuzz_support.h"

namespace {

std::string work_dir;
std::string input_path;
std::string output_path;

void remove_work_files() {
    std::remove(input_path.c_str());
    std::remove(output_path.c_str());
    rmdir(work_dir.c_str());
}

const std::string header =
    "data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
    "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,"
    "policy_birth_day,uuid\n";

// Lines end at LF, CR LF or a lone CR; a last line may have no end. Found
// with library scans (memchr), so the checker's own (instrumented) code stays
// cheap; the vector is kept from input to input.
const std::vector<std::string_view>& split_lines(std::string_view text) {
    static std::vector<std::string_view> lines;
    lines.clear();
    const char* const begin = text.data();
    const char* const stop = begin + text.size();
    const auto next = [stop](const char* from, char c) {
        const void* found = std::memchr(from, c, static_cast<size_t>(stop - from));
        return found != nullptr ? static_cast<const char*>(found) : stop;
    };
    const char* next_cr = next(begin, '\r');
    const char* next_lf = next(begin, '\n');
    const char* start = begin;
    while (start < stop) {
        if (next_cr < start) next_cr = next(start, '\r');
        if (next_lf < start) next_lf = next(start, '\n');
        const char* end = next_cr < next_lf ? next_cr : next_lf;
        lines.emplace_back(start, static_cast<size_t>(end - start));
        if (end == stop) break;
        start = end + 1;
        if (*end == '\r' && start < stop && *start == '\n') ++start;
    }
    return lines;
}

std::string read_file(const std::string& path) {
    std::string content;
    FILE* file = std::fopen(path.c_str(), "rb");
    FUZZ_CHECK(file != nullptr);
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, got);
    std::fclose(file);
    return content;
}

// What a run wrote and printed. The buffers are kept from run to run and
// only ever grow, so that a run allocates (and clears) nothing.
struct run_result {
    std::vector<char> output_buffer;
    size_t output_size = 0;
    std::vector<char> printed_buffer;
    size_t printed_size = 0;

    std::string_view output() const { return {output_buffer.data(), output_size}; }
    std::string_view printed() const { return {printed_buffer.data(), printed_size}; }
};

// What the library prints goes, through a buffered stream set as stdout
// once (the C library lets a program set it), into this string: a run
// costs no system call and no new buffer to capture it.
std::string printed_text;

ssize_t append_printed(void*, const char* bytes, size_t size) {
    printed_text.append(bytes, size);
    return static_cast<ssize_t>(size);
}

void start_capture() {
    std::fflush(stdout);
    printed_text.clear();
}

void end_capture(run_result* result) {
    FUZZ_CHECK(std::fflush(stdout) == 0);
    result->printed_size = printed_text.size();
    if (result->printed_buffer.size() < result->printed_size) result->printed_buffer.resize(result->printed_size);
    if (!printed_text.empty()) std::memcpy(result->printed_buffer.data(), printed_text.data(), printed_text.size());
}

// One run in memory; every input converts (nothing fails in memory).
void run(run_result* result, std::string_view text, size_t line_count, size_t most_per_read, int lines_per_block,
         int verbosity, output_format format, int threads) {
    byte_source source = memory_source(text.data(), text.size());
    source.most_per_read = most_per_read;
    // Every line gives at most its bytes, a comma, an identifier and a line end.
    const size_t most = header.size() + text.size() + 14 * (line_count + 1);
    if (result->output_buffer.size() < most) result->output_buffer.resize(most);
    byte_sink sink = memory_sink(result->output_buffer.data(), most);
    batch_options options = {"in.csv", "out.csv", verbosity, format, progress_mode::off};
    options.threads = threads;
    options.lines_per_block = lines_per_block;
    start_capture();
    FUZZ_CHECK(convert_csv_buffers(&source, &sink, options));
    result->output_size = sink.size;
    end_capture(result);
}

// The same through real files.
void run_on_files(run_result* result, std::string_view text, int verbosity, output_format format, int threads) {
    {
        FILE* in = std::fopen(input_path.c_str(), "wb");
        FUZZ_CHECK(in != nullptr);
        FUZZ_CHECK(std::fwrite(text.data(), 1, text.size(), in) == text.size());
        FUZZ_CHECK(std::fclose(in) == 0);
    }
    batch_options options = {input_path.c_str(), output_path.c_str(), verbosity, format, progress_mode::off};
    options.threads = threads;
    start_capture();
    FUZZ_CHECK(process_csv_file(options) == 0);
    end_capture(result);
    const std::string written = read_file(output_path);
    result->output_buffer.assign(written.begin(), written.end());
    result->output_size = written.size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    cookie_io_functions_t printed_io = {};
    printed_io.write = append_printed;
    FILE* printed = fopencookie(nullptr, "w", printed_io);
    FUZZ_CHECK(printed != nullptr);
    FUZZ_CHECK(setvbuf(printed, nullptr, _IOFBF, 1 << 16) == 0);
    std::fflush(stdout);
    stdout = printed;
    // In memory: rewriting a truncated file on disk waits for the disk.
    char dir_template[] = "/dev/shm/mint_fuzz_batch_XXXXXX";
    const char* dir = mkdtemp(dir_template);
    FUZZ_CHECK(dir != nullptr);
    work_dir = dir;
    input_path = work_dir + "/in.csv";
    output_path = work_dir + "/out.csv";
    std::atexit(remove_work_files);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // About one input in 500 (a first byte in thirty-two, a length in
    // seventeen) adds a line of about the longest parsed length (65534 to
    // 65537 bytes, the input's bytes over and over), between two copies of
    // the input: such an input costs as much as a few hundred others.
    static std::string text;
    text.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 31) == 1 && size % 17 == 0) {
        static std::string filler;
        filler.clear();
        for (const char c : std::string_view(text)) {
            if (c != '\r' && c != '\n') filler += c;
        }
        if (filler.empty()) filler = "x";
        const size_t length = max_parsed_line - 2 + ((data[0] >> 5) & 3);
        const size_t copy = text.size();
        text += '\n';
        while (text.size() < copy + 1 + length) text += filler;
        text.resize(copy + 1 + length);
        text += (data[0] & 128) != 0 ? '\r' : '\n';
        text.append(text, 0, copy);
    }
    const int verbosity = (data[0] >> 3) % 3;
    // Reads of every size a pipe may give, and blocks of few lines, so that
    // small inputs fill many blocks, chosen by the input's length. The first
    // run reads in pieces of any size; the others, which must give the same,
    // in large pieces (many small reads cost time and find nothing more).
    constexpr size_t read_sizes[] = {0, 1, 13, 61, 4093, 65537, 0};
    size_t most_per_read = read_sizes[size % std::size(read_sizes)];
    if (most_per_read != 0 && most_per_read < text.size() / 64) most_per_read = text.size() / 64;
    constexpr size_t large_reads[] = {0, 4093, 65537};
    const auto large_read = [size, &large_reads](size_t run_number) {
        return large_reads[(size + run_number) % std::size(large_reads)];
    };
    constexpr int block_sizes[] = {0, 1, 2, 3, 5};
    const int lines_per_block = block_sizes[size / std::size(read_sizes) % std::size(block_sizes)];

    const std::vector<std::string_view>& lines = split_lines(text);
    static run_result full;
    run(&full, text, lines.size(), most_per_read, lines_per_block, verbosity, output_format::full, 1);
    const std::string_view out = full.output();
    FUZZ_CHECK(out.substr(0, header.size()) == header);

    static std::vector<std::string_view> out_lines;
    out_lines.clear();
    size_t at = header.size();
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t start = at;
        FUZZ_CHECK(out.substr(at, line.size()) == line);
        at += line.size();
        if (at + 13 < out.size() && out[at] == ',' && out[at + 13] == '\n') {
            bool identifier = true;
            for (size_t k = 1; k <= 12; ++k) identifier = identifier && is_uuid_character(out[at + k]);
            if (identifier) at += 13;
        }
        FUZZ_CHECK(at < out.size() && out[at] == '\n');
        out_lines.push_back(out.substr(start, at - start));
        ++at;
    }
    FUZZ_CHECK(at == out.size());

    // More threads, on one input in 32, as many as the input chooses:
    // every byte written and printed the same. (Starting a thread costs more
    // than all the other runs of an input together, some hundreds of
    // microseconds with the address sanitizer; on every input it would
    // explore several times fewer of them, and no more threaded runs.)
    static run_result other;
    constexpr int thread_counts[] = {2, 3, 7};
    const int threads = size % 32 == 3 ? thread_counts[size / 32 % std::size(thread_counts)] : 0;
    if (threads > 0) {
        run(&other, text, lines.size(), large_read(threads), lines_per_block, verbosity, output_format::full, threads);
        FUZZ_CHECK(other.output() == out);
        FUZZ_CHECK(other.printed() == full.printed());
    }

    // Then one of two checks, as the input chooses (each costs a run): a
    // silent run's output against a verbose run's (the general path
    // throughout), or the key-only output against the full one.
    if (verbosity == 0 && size / 3 % 2 == 0) {
        run(&other, text, lines.size(), large_read(0), lines_per_block, 1, output_format::full, 1);
        FUZZ_CHECK(other.output() == out);
    } else {
        // The key-only output: one line per input line, its record key as written
        // (a prefix of the line that ends at a comma or a closing quote, or
        // nothing), a comma, and the identifier the full output appended, if any.
        static run_result keys;
        run(&keys, text, lines.size(), large_read(1), lines_per_block, verbosity, output_format::key_only, 1);
        const std::string_view key_out = keys.output();
        const std::string_view key_header = "data_record,uuid\n";
        FUZZ_CHECK(key_out.substr(0, key_header.size()) == key_header);
        at = key_header.size();
        for (size_t i = 1; i < lines.size(); ++i) {
            const std::string_view line = lines[i];
            const size_t end = key_out.find('\n', at);
            FUZZ_CHECK(end != std::string_view::npos);
            const std::string_view key_line = key_out.substr(at, end - at);
            at = end + 1;
            const size_t comma = key_line.rfind(',');
            FUZZ_CHECK(comma != std::string_view::npos);
            const std::string_view key = key_line.substr(0, comma);
            const std::string_view uuid = key_line.substr(comma + 1);
            FUZZ_CHECK(line.substr(0, key.size()) == key);
            if (!key.empty()) {
                const bool quoted = key.size() >= 2 && key.front() == '"' && key.back() == '"';
                FUZZ_CHECK(quoted || key.size() == line.size() || line[key.size()] == ',');
            }
            if (uuid.empty()) {
                FUZZ_CHECK(out_lines[i - 1] == line);
            } else {
                FUZZ_CHECK(!key.empty() && uuid.size() == 12);
                FUZZ_CHECK(out_lines[i - 1].size() == line.size() + 13 && out_lines[i - 1].substr(line.size() + 1) == uuid);
            }
        }
        FUZZ_CHECK(at == key_out.size());
    }

    // Real files, now and then: the same bytes and messages.
    if (size % 256 == 0) {
        run_on_files(&other, text, verbosity, output_format::full, 1 + data[0] % 3);
        FUZZ_CHECK(other.output() == out);
        if (verbosity == 0) FUZZ_CHECK(other.printed() == full.printed());
    }
    return 0;
}
