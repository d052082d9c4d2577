// Derives the identifiers of two made-up patients through the shared library.
#include <cstdio>

#include <mintcore.h>

int main() {
    uuid_hash_data data;
    char patient_name[] = "Jane Doe";
    char patient_ssn[] = "123-45-6789";

    uuid_initialize(&data);
    uuid_hash_set_patient_name(&data, patient_name);
    uuid_hash_set_patient_ssn(&data, patient_ssn);
    uuid_hash_set_patient_gender(&data, 2);
    uuid_hash_set_patient_birth_year(&data, 1970);
    uuid_hash_set_patient_birth_month(&data, 1);
    uuid_hash_set_patient_birth_day(&data, 31);
    if (!uuid_create(&data)) return 1;
    std::printf("patient key  Jane Doe, 123-45-6789, 2, 1970-01-31: %s\n", data.uuid);

    char policy_name[] = "John Doe";
    char policy_ssn[] = "987-65-4321";
    uuid_initialize(&data);
    uuid_hash_set_policy_name(&data, policy_name);
    uuid_hash_set_policy_ssn(&data, policy_ssn);
    uuid_hash_set_policy_gender(&data, 1);
    uuid_hash_set_policy_birth_year(&data, 1968);
    uuid_hash_set_policy_birth_month(&data, 7);
    uuid_hash_set_policy_birth_day(&data, 4);
    uuid_hash_set_patient_name(&data, patient_name);
    uuid_hash_set_patient_gender(&data, 2);
    uuid_hash_set_patient_birth_year(&data, 1970);
    uuid_hash_set_patient_birth_month(&data, 1);
    uuid_hash_set_patient_birth_day(&data, 31);
    if (!uuid_create(&data)) return 1;
    std::printf("policy key   Jane Doe via John Doe, 987-65-4321: %s\n", data.uuid);
    return 0;
}
