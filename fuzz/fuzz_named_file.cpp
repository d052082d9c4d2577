// Any bytes as a by-name input (any header): when the header maps, every
// record of the input reaches the output exactly once, in order and byte for
// byte (its own line breaks included), with at most the delimiter and a
// 12-character identifier added before its line end; the header gains the
// delimiter and "uuid". Two and three threads taking blocks of a few records
// write, report and count exactly what one thread does. An input whose header
// does not map writes nothing.
//
// The first byte picks the options: the delimiter (found, or one of the
// four), whether the first columns are mapped to the fields by their names
// (so that any header maps), the date format, and the threads; the second
// the size of the reads the input is handed out in.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "named_convert.h"
#include "named_csv.h"

namespace {

struct run_result {
    named_status status;
    std::string output;
    std::string report;
    run_counts counts;
};

run_result run(std::string_view input, const by_name_options& options, size_t most_per_read) {
    // Grown only, so that they are not cleared again for every input.
    static std::vector<char> out;
    static std::vector<char> report;
    const size_t out_size = input.size() * 16 + 4096;
    const size_t report_size = input.size() * 64 + 4096;
    if (out.size() < out_size) out.resize(out_size);
    if (report.size() < report_size) report.resize(report_size);
    byte_source source = memory_source(input.data(), input.size());
    source.most_per_read = most_per_read;
    byte_sink sink = memory_sink(out.data(), out_size);
    byte_sink report_sink = memory_sink(report.data(), report_size);
    static named_workspace* workspace = open_named_workspace();
    run_result result;
    result.status = convert_by_name(&source, &sink, &report_sink, options, &result.counts, workspace);
    result.output.assign(out.data(), sink.size);
    result.report.assign(report.data(), report_sink.size);
    return result;
}

// The record starting at `from`: its bytes and its line end.
struct record_cut {
    size_t length;
    size_t terminator;
};

bool next_cut(std::string_view text, size_t from, char delimiter, record_cut* cut) {
    if (from >= text.size()) return false;
    record_scan scan;
    start_record_scan(&scan, delimiter);
    FUZZ_CHECK(find_record_end(&scan, text.data() + from, text.size() - from, true, &cut->length, &cut->terminator));
    return true;
}

// Checks that `output` is `input` with the additions the full output may make.
void check_full_output(std::string_view input, std::string_view output, const header_mapping& mapping,
                       const run_counts& counts) {
    // (The header is read again with the delimiter found, which maps or not
    // as the options have it; only its extent matters here.)
    const char delimiter = mapping.delimiter;
    // The header line: found as the stage finds it, the first line end
    // outside quotes; its bytes, the delimiter and "uuid", its line end.
    size_t header_length = 0;
    size_t line_end_length = 0;
    static header_mapping again;
    by_name_options options;
    options.delimiter = delimiter;
    read_named_header(input.data(), input.size(), true, options, &again, &header_length, &line_end_length);
    size_t at = 0;
    const size_t end = header_length - line_end_length;
    const std::string_view header = input.substr(0, end);
    const std::string_view header_end = input.substr(end, header_length - end);
    FUZZ_CHECK(output.substr(at, header.size()) == header);
    at += header.size();
    FUZZ_CHECK(output.substr(at, 5) == std::string(1, delimiter) + "uuid");
    at += 5;
    const std::string_view expected_end = header_end.empty() ? std::string_view("\n") : header_end;
    FUZZ_CHECK(output.substr(at, expected_end.size()) == expected_end);
    at += expected_end.size();

    int64_t records = 0;
    record_cut cut;
    for (size_t from = header_length; next_cut(input, from, delimiter, &cut); from += cut.length + cut.terminator) {
        ++records;
        const std::string_view record = input.substr(from, cut.length);
        const std::string_view line_end = cut.terminator == 0 ? std::string_view("\n") : input.substr(from + cut.length, cut.terminator);
        FUZZ_CHECK(output.substr(at, record.size()) == record);
        at += record.size();
        if (at < output.size() && output[at] == delimiter && !record.empty()) {
            ++at;
            if (output.substr(at, line_end.size()) != line_end) {
                for (int i = 0; i < 12; ++i) FUZZ_CHECK(at + i < output.size() && is_uuid_character(output[at + i]));
                at += 12;
            }
        }
        FUZZ_CHECK(output.substr(at, line_end.size()) == line_end);
        at += line_end.size();
    }
    FUZZ_CHECK(at == output.size());
    FUZZ_CHECK(counts.patient_key + counts.policy_key + counts.zero + counts.refused + counts.incomplete +
                   counts.skipped ==
               records);
}

const char* const field_order[] = {"data_record", "patient_name", "patient_gender", "patient_birth_date",
                                   "patient_ssn", "policy_name",  "policy_ssn",     "policy_gender",
                                   "policy_birth_date"};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t choice = data[0];
    const size_t most_per_read = data[1];
    const std::string_view input(reinterpret_cast<const char*>(data) + 2, size - 2);

    by_name_options options;
    constexpr char delimiters[] = {0, ',', ';', '\t', '|', 0, 0, 0};
    options.delimiter = delimiters[choice & 7];
    options.dates = static_cast<date_format>(((choice >> 4) & 3) + ((choice >> 6) & 1));
    static gender_codes codes;
    parse_gender_codes("M=1,F=2", &codes);
    options.genders = &codes;

    // The first columns, by their own names, for the fields: any header maps
    // unless it repeats a name.
    static header_mapping names;
    static std::vector<std::string> kept;
    if ((choice & 8) != 0) {
        size_t header_length = 0;
        by_name_options plain;
        plain.delimiter = options.delimiter;
        read_named_header(input.data(), input.size(), true, plain, &names, &header_length);
        kept.clear();
        for (size_t c = 0; c < names.column_count && c < sizeof field_order / sizeof field_order[0]; ++c) {
            kept.emplace_back(names.names + names.name_start[c], names.name_length[c]);
        }
        for (size_t c = 0; c < kept.size(); ++c) {
            named_field field;
            find_named_field(field_order[c], std::strlen(field_order[c]), &field);
            options.columns.mapped[static_cast<int>(field)] = kept[c].c_str();
        }
    }

    const run_result one = run(input, options, most_per_read);
    if (one.status == named_status::unmapped) {
        FUZZ_CHECK(one.output.empty());
        return 0;
    }
    FUZZ_CHECK(one.status == named_status::done);
    static header_mapping mapping;
    size_t header_length = 0;
    FUZZ_CHECK(read_named_header(input.data(), input.size(), true, options, &mapping, &header_length));
    check_full_output(input, one.output, mapping, one.counts);

    if ((choice & 0xC0) == 0xC0) {  // threads start slowly under the sanitizers: one input in four
        options.threads = 2 + (choice & 1);
        options.records_per_block = 1 + (most_per_read & 3);
        const run_result threaded = run(input, options, most_per_read);
        FUZZ_CHECK(threaded.status == one.status);
        FUZZ_CHECK(threaded.output == one.output);
        FUZZ_CHECK(threaded.report == one.report);
        FUZZ_CHECK(threaded.counts.refused == one.counts.refused && threaded.counts.skipped == one.counts.skipped &&
                   threaded.counts.patient_key == one.counts.patient_key);
    }
    return 0;
}
