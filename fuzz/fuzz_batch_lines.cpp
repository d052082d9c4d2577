// Any bytes as a mintbatch input file: the output is the header line, then
// the input's lines after the first, in order and byte for byte, each ended by
// "\n" and with at most "," and a 12-character identifier appended. A silent
// run (which takes the quick route and derives identifiers in pairs) writes
// exactly what a verbose run (the general path throughout) writes. The
// key-only output holds each line's record key and the same identifier.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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
// with library scans, so the checker's own (instrumented) code stays cheap.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
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

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silence_stdout();
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
    // One first byte in thirty-two stretches the input by repetition past the read
    // block and the longest parsed line, so those boundaries are crossed too.
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((data[0] & 31) == 1 && !text.empty()) {
        const size_t target = 300 * 1024 + data[0] * 97;
        std::string stretched;
        stretched.reserve(target + text.size());
        while (stretched.size() < target) stretched += text;
        text = stretched;
    }
    {
        std::ofstream in(input_path, std::ios::binary | std::ios::trunc);
        in.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    const int verbosity = (data[0] >> 3) % 3;
    const batch_options options = {input_path.c_str(), output_path.c_str(), verbosity, output_format::full,
                                   progress_mode::off, nullptr};
    FUZZ_CHECK(process_csv_file(options) == 0);

    const std::string out = read_file(output_path);
    FUZZ_CHECK(out.compare(0, header.size(), header) == 0);

    const std::vector<std::string_view> lines = split_lines(text);
    std::vector<std::string_view> out_lines;
    size_t at = header.size();
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t start = at;
        FUZZ_CHECK(out.compare(at, line.size(), line) == 0);
        at += line.size();
        if (out[at] == ',' && at + 13 < out.size() && out[at + 13] == '\n') {
            bool identifier = true;
            for (size_t k = 1; k <= 12; ++k) identifier = identifier && is_uuid_character(out[at + k]);
            if (identifier) at += 13;
        }
        FUZZ_CHECK(at < out.size() && out[at] == '\n');
        out_lines.push_back(std::string_view(out).substr(start, at - start));
        ++at;
    }
    FUZZ_CHECK(at == out.size());

    // The key-only output: one line per input line, its record key as written
    // (a prefix of the line that ends at a comma or a closing quote, or
    // nothing), a comma, and the identifier the full output appended, if any.
    const batch_options keys = {input_path.c_str(), output_path.c_str(), verbosity, output_format::key_only,
                                progress_mode::off, nullptr};
    FUZZ_CHECK(process_csv_file(keys) == 0);
    const std::string key_out = read_file(output_path);
    const std::string key_header = "data_record,uuid\n";
    FUZZ_CHECK(key_out.compare(0, key_header.size(), key_header) == 0);
    at = key_header.size();
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const size_t end = key_out.find('\n', at);
        FUZZ_CHECK(end != std::string::npos);
        const std::string_view key_line = std::string_view(key_out).substr(at, end - at);
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

    if (verbosity == 0) {
        const batch_options verbose = {input_path.c_str(), output_path.c_str(), 1, output_format::full,
                                       progress_mode::off, nullptr};
        FUZZ_CHECK(process_csv_file(verbose) == 0);
        FUZZ_CHECK(read_file(output_path) == out);
    }
    return 0;
}
