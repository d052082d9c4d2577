// Any file content through the record reader and the derivation bridge.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "fuzz_support.h"
#include "patient_record.h"
#include "record_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* stream = std::tmpfile();
    FUZZ_CHECK(stream != nullptr);
    if (size > 0) FUZZ_CHECK(std::fwrite(data, 1, size, stream) == size);
    std::rewind(stream);

    patient_record record;
    const int complete = read_patient_record(stream, &record);
    std::fclose(stream);
    FUZZ_CHECK(complete == 0 || complete == 1);

    // Every text stays terminated within its field.
    FUZZ_CHECK(std::memchr(record.patient_name, '\0', sizeof record.patient_name) != nullptr);
    FUZZ_CHECK(std::memchr(record.patient_ssn, '\0', sizeof record.patient_ssn) != nullptr);
    FUZZ_CHECK(std::memchr(record.policy_name, '\0', sizeof record.policy_name) != nullptr);
    FUZZ_CHECK(std::memchr(record.policy_ssn, '\0', sizeof record.policy_ssn) != nullptr);
    FUZZ_CHECK(record.patient_uuid[0] == '\0');

    if (complete) {
        const patient_record before = record;
        char uuid[16];
        std::memset(uuid, 'x', sizeof uuid);
        if (generate_test_uuid(&record, uuid)) {
            FUZZ_CHECK(is_uuid_text(uuid));
        } else {
            FUZZ_CHECK(uuid[0] == '\0');
        }
        FUZZ_CHECK(std::memcmp(&before, &record, sizeof record) == 0);
    }
    return 0;
}
