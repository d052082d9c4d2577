#include "patient_record.h"

#include <cstdio>
#include <cstring>

#include "mintcore.h"
#include "uuid_keyed.h"

void clear_patient_record(patient_record* record) {
    record->record_number = 0;
    record->policy_name[0] = '\0';
    record->policy_ssn[0] = '\0';
    record->policy_gender = 0;
    record->policy_birth_year = 0;
    record->policy_birth_month = 0;
    record->policy_birth_day = 0;
    record->patient_name[0] = '\0';
    record->patient_ssn[0] = '\0';
    record->patient_gender = 0;
    record->patient_birth_year = 0;
    record->patient_birth_month = 0;
    record->patient_birth_day = 0;
    record->patient_uuid[0] = '\0';
}

void print_patient_record(const patient_record* record) {
    std::printf("patient record number %d\n", record->record_number);
    std::printf("patient_name          %s\n", record->patient_name);
    if (record->patient_ssn[0] != '\0') {
        std::printf("patient_ssn           %s\n", record->patient_ssn);
    }
    std::printf("patient_gender        %d\n", record->patient_gender);
    std::printf("patient_birth_year    %d\n", record->patient_birth_year);
    std::printf("patient_birth_month   %d\n", record->patient_birth_month);
    std::printf("patient_birth_day     %d\n", record->patient_birth_day);
    // The policy holder's SSN alone decides whether the policy block is shown.
    if (record->policy_ssn[0] != '\0') {
        std::printf("policy_name           %s\n", record->policy_name);
        std::printf("policy_ssn            %s\n", record->policy_ssn);
        std::printf("policy_gender         %d\n", record->policy_gender);
        std::printf("policy_birth_year     %d\n", record->policy_birth_year);
        std::printf("policy_birth_month    %d\n", record->policy_birth_month);
        std::printf("policy_birth_day      %d\n", record->policy_birth_day);
    }
    std::printf("patient_uuid          %s\n", record->patient_uuid);
}

namespace {

// The library's text setters take non-const text but only read it.
char* setter_text(const char* text) {
    return const_cast<char*>(text);
}

}  // namespace

int generate_test_uuid(const patient_record* record, char* uuid) {
    return generate_test_uuid_keyed(record, nullptr, uuid);
}

int generate_test_uuid_keyed(const patient_record* record, const mint::uuid_key* key, char* uuid) {
    uuid_hash_data data;
    uuid_initialize(&data);

    // Rejected values are reported by the setters and stay unset; whether an
    // identifier can still be derived is for uuid_create to decide.
    if (record->policy_name[0] != '\0') uuid_hash_set_policy_name(&data, setter_text(record->policy_name));
    if (record->policy_ssn[0] != '\0') uuid_hash_set_policy_ssn(&data, setter_text(record->policy_ssn));
    if (record->policy_gender != 0) uuid_hash_set_policy_gender(&data, record->policy_gender);
    if (record->policy_birth_year != 0) uuid_hash_set_policy_birth_year(&data, record->policy_birth_year);
    if (record->policy_birth_month != 0) uuid_hash_set_policy_birth_month(&data, record->policy_birth_month);
    if (record->policy_birth_day != 0) uuid_hash_set_policy_birth_day(&data, record->policy_birth_day);

    if (record->patient_name[0] != '\0') uuid_hash_set_patient_name(&data, setter_text(record->patient_name));
    if (record->patient_ssn[0] != '\0') uuid_hash_set_patient_ssn(&data, setter_text(record->patient_ssn));
    if (record->patient_gender != 0) uuid_hash_set_patient_gender(&data, record->patient_gender);
    if (record->patient_birth_year != 0) uuid_hash_set_patient_birth_year(&data, record->patient_birth_year);
    if (record->patient_birth_month != 0) uuid_hash_set_patient_birth_month(&data, record->patient_birth_month);
    if (record->patient_birth_day != 0) uuid_hash_set_patient_birth_day(&data, record->patient_birth_day);

    if (mint::uuid_create_keyed(&data, key)) {
        std::memcpy(uuid, data.uuid, sizeof data.uuid);
        return 1;
    }
    uuid[0] = '\0';
    std::printf("Error in generate_test_uuid(), uuid_create() failed!\n");
    return 0;
}
