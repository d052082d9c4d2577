#include "csv_output.h"

#include <cstring>

namespace {

constexpr char full_header[] =
    "data_record,patient_name,patient_ssn,patient_gender,patient_birth_year,patient_birth_month,"
    "patient_birth_day,policy_name,policy_ssn,policy_gender,policy_birth_year,policy_birth_month,"
    "policy_birth_day,uuid\n";

constexpr char key_only_header[] = "data_record,uuid\n";

// The part of a line the output repeats.
size_t kept_length(const line_output* output, const char* line, size_t length) {
    return output->format == output_format::full ? length : record_key_length(line, output->delimiter);
}

static_assert(line_read_slack >= 32 && output_write_slack >= 32, "lines are copied 32 bytes a step");

// Bytes into reserved output room, in whole 32-byte steps: the last step
// reads into the line's slack and writes into the room's.
void copy_in_steps(char* room, const char* bytes, size_t length) {
    for (size_t done = 0; done < length; done += 32) std::memcpy(room + done, bytes + done, 32);
}

}  // namespace

size_t record_key_length(const char* line, char delimiter) {
    if (line[0] == '"') {
        const char* close = std::strchr(line + 1, '"');
        return close != nullptr ? static_cast<size_t>(close - line) + 1 : std::strlen(line);
    }
    if (delimiter == ',') return std::strcspn(line, ",");
    const char stops[] = {delimiter, '\0'};
    return std::strcspn(line, stops);
}

bool write_output_header(line_output* output) {
    const bool full = output->format == output_format::full;
    const char* header = full ? full_header : key_only_header;
    const size_t length = full ? sizeof full_header - 1 : sizeof key_only_header - 1;
    if (output->delimiter == ',') return write_output(output->writer, header, length);
    char separated[sizeof full_header];
    for (size_t i = 0; i < length; ++i) separated[i] = header[i] == ',' ? output->delimiter : header[i];
    return write_output(output->writer, separated, length);
}

size_t identified_line_size(const line_output* output, const char* line, size_t length) {
    return kept_length(output, line, length) + 1 + 12 + 1;
}

namespace {

// The room for an identified line, with the kept part of the line in it
// (copied by `copy`), its comma and its line end; returns the identifier's
// place.
template <typename Copy>
char* identified_line_room(line_output* output, size_t size, Copy copy) {
    char* room = reserve_output(output->writer, size);
    if (room == nullptr) return nullptr;
    const size_t kept = size - 14;
    copy(room, kept);
    room[kept] = output->delimiter;
    room[kept + 13] = '\n';
    return room + kept + 1;
}

}  // namespace

char* write_identified_line(line_output* output, const char* line, size_t size) {
    return identified_line_room(output, size, [line](char* room, size_t kept) { copy_in_steps(room, line, kept); });
}

char* write_identified_line_exactly(line_output* output, const char* line, size_t size) {
    return identified_line_room(output, size, [line](char* room, size_t kept) { std::memcpy(room, line, kept); });
}

void compose_identified_line(char* to, const char* line, size_t size, const char* uuid) {
    const size_t kept = size - 14;
    std::memcpy(to, line, kept);
    to[kept] = ',';
    std::memcpy(to + kept + 1, uuid, 12);
    to[kept + 13] = '\n';
}

bool write_unidentified_line(line_output* output, const char* line, size_t length, bool keyed) {
    if (output->format == output_format::full) {
        write_output(output->writer, line, length);
        return write_output(output->writer, "\n", 1);
    }
    if (keyed) write_output(output->writer, line, record_key_length(line, output->delimiter));
    const char end[] = {output->delimiter, '\n'};
    return write_output(output->writer, end, 2);
}

bool write_long_line_piece(line_output* output, const char* piece, size_t length) {
    if (output->format == output_format::key_only) return !output->writer->failed;
    return write_output(output->writer, piece, length);
}

bool end_long_line(line_output* output) {
    const char end[] = {output->delimiter, '\n'};
    if (output->format == output_format::key_only) return write_output(output->writer, end, 2);
    return write_output(output->writer, "\n", 1);
}
