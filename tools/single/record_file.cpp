#include "record_file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

#include "text_lines.h"

namespace {

// Where a field line's value goes: a text field of `text_size` bytes, or a
// number field. Both null when the line's first word is no field keyword.
struct field_target {
    char* text;
    size_t text_size;
    int32_t* number;
};

field_target text_target(char* field, size_t size) {
    return {field, size, nullptr};
}

field_target number_target(int32_t* field) {
    return {nullptr, 0, field};
}

field_target target_of(const char* line, patient_record* record) {
    if (match_keyword(line, "data_record")) return number_target(&record->record_number);
    if (match_keyword(line, "patient_name")) return text_target(record->patient_name, sizeof record->patient_name);
    if (match_keyword(line, "patient_ssn")) return text_target(record->patient_ssn, sizeof record->patient_ssn);
    if (match_keyword(line, "patient_gender")) return number_target(&record->patient_gender);
    if (match_keyword(line, "patient_birth_year")) return number_target(&record->patient_birth_year);
    if (match_keyword(line, "patient_birth_month")) return number_target(&record->patient_birth_month);
    if (match_keyword(line, "patient_birth_day")) return number_target(&record->patient_birth_day);
    if (match_keyword(line, "policy_name")) return text_target(record->policy_name, sizeof record->policy_name);
    if (match_keyword(line, "policy_ssn")) return text_target(record->policy_ssn, sizeof record->policy_ssn);
    if (match_keyword(line, "policy_gender")) return number_target(&record->policy_gender);
    if (match_keyword(line, "policy_birth_year")) return number_target(&record->policy_birth_year);
    if (match_keyword(line, "policy_birth_month")) return number_target(&record->policy_birth_month);
    if (match_keyword(line, "policy_birth_day")) return number_target(&record->policy_birth_day);
    return {nullptr, 0, nullptr};
}

void report_bad_line(const char* line) {
    std::printf("Error in input file - got bad line '%s'.\n", line);
}

}  // namespace

int read_patient_record(FILE* stream, patient_record* record) {
    clear_patient_record(record);
    // On the heap: the stack of a program may be limited to a few dozen KiB.
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[record_line_size]);
    if (buffer == nullptr) return 0;
    char* const line = buffer.get();
    while (read_line(stream, line, record_line_size)) {
        const char* value = find_value(line);
        if (line[0] == '\0' || line[0] == '#') continue;
        // The end line needs no value, so it is recognised before the value test.
        if (match_keyword(line, "data_end")) return 1;
        if (value == nullptr) {
            report_bad_line(line);
            return 0;
        }
        const field_target target = target_of(line, record);
        if (target.text != nullptr) {
            copy_bounded(target.text, value, target.text_size);
        } else if (target.number != nullptr) {
            // Saturates out of range, so an oversized number is rejected by its
            // setter instead of wrapping into a valid value.
            *target.number = decimal_value(value);
        } else {
            report_bad_line(line);
            return 0;
        }
    }
    return 0;
}
