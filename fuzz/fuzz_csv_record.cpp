// Any CSV data line through the record parser and the derivation, as the
// batch driver hands it over: a processed record always carries a well-formed
// identifier whose first character names its mode.
#include <cstdint>
#include <cstring>
#include <string>

#include "csv_record.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int verbosity = data[0] % 3;
    const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);

    char key[1000];
    int empty = 1;
    const char* position = read_csv_text_field(line.c_str(), &empty, key, sizeof key);
    if (position == nullptr || empty) return 0;

    patient_record record;
    clear_patient_record(&record);
    const int processed = process_csv_record(position, &record, verbosity);
    FUZZ_CHECK(processed == 0 || processed == 1);
    FUZZ_CHECK(record.record_number == 0);
    FUZZ_CHECK(std::memchr(record.patient_name, '\0', sizeof record.patient_name) != nullptr);
    FUZZ_CHECK(std::memchr(record.policy_name, '\0', sizeof record.policy_name) != nullptr);
    FUZZ_CHECK(std::memchr(record.patient_ssn, '\0', sizeof record.patient_ssn) != nullptr);
    FUZZ_CHECK(std::memchr(record.policy_ssn, '\0', sizeof record.policy_ssn) != nullptr);
    if (processed) {
        FUZZ_CHECK(is_uuid_text(record.patient_uuid));
        // An accepted patient SSN means the patient key ('g'..'v'); without
        // one the identifier is a policy key or the zero identifier ('0'..'f').
        const char first = record.patient_uuid[0];
        if (record.patient_ssn[0] != '\0') {
            FUZZ_CHECK(first >= 'g' && first <= 'v');
        } else {
            FUZZ_CHECK((first >= '0' && first <= '9') || (first >= 'a' && first <= 'f'));
        }
    } else {
        FUZZ_CHECK(record.patient_uuid[0] == '\0');
    }
    return 0;
}
