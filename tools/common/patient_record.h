// The patient record both programs read into, its labelled dump, and the
// bridge from a record to the identifier library.
#ifndef MINT_TOOLS_PATIENT_RECORD_H
#define MINT_TOOLS_PATIENT_RECORD_H

#include <cstdint>

// One patient and their policy holder as read from input. A field is absent
// when its text is empty or its number is 0. Texts are stored as read.
struct patient_record {
    int32_t record_number;
    char policy_name[100];
    char policy_ssn[32];
    int32_t policy_gender;
    int32_t policy_birth_year;
    int32_t policy_birth_month;
    int32_t policy_birth_day;
    char patient_name[100];
    char patient_ssn[32];
    int32_t patient_gender;
    int32_t patient_birth_year;
    int32_t patient_birth_month;
    int32_t patient_birth_day;
    char patient_uuid[100];
};

void clear_patient_record(patient_record* record);

// Writes the labelled dump of the record to standard output.
void print_patient_record(const patient_record* record);

// Hands every present field to the library's setters (policy holder first),
// derives the identifier and copies it into `uuid` (at least 13 bytes).
// Returns 1 on success; 0 with an empty `uuid` and a message on failure.
int generate_test_uuid(const patient_record* record, char* uuid);

namespace mint {
struct uuid_key;
}

// generate_test_uuid for a keyed identifier (see uuid_keyed.h), with the same
// messages; a null key gives exactly what generate_test_uuid gives.
int generate_test_uuid_keyed(const patient_record* record, const mint::uuid_key* key, char* uuid);

#endif
