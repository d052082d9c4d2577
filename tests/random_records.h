// Random identity records for the property tests.
#ifndef MINT_TEST_RANDOM_RECORDS_H
#define MINT_TEST_RANDOM_RECORDS_H

#include <cstdint>
#include <random>

#include "mintcore.h"

namespace mint_test {

// A record with a random subset of its twelve fields set (valid values,
// marked as the setters mark them), biased towards the two keys, so that
// every pairing of patient key, policy key, zero identifier and unusable
// record turns up.
inline uuid_hash_data random_record(std::mt19937_64& random) {
    uuid_hash_data d;
    uuid_initialize(&d);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<uint64_t>(n)); };
    for (auto& code : d.patient_name) code = static_cast<unsigned char>(pick(27));
    for (auto& code : d.policy_name) code = static_cast<unsigned char>(pick(27));
    for (auto& digit : d.patient_ssn) digit = static_cast<unsigned char>(pick(10));
    for (auto& digit : d.policy_ssn) digit = static_cast<unsigned char>(pick(10));
    d.patient_gender = 1 + pick(2);
    d.policy_gender = 1 + pick(2);
    d.patient_birth_year = 1851 + pick(249);
    d.policy_birth_year = 1851 + pick(249);
    d.patient_birth_month = 1 + pick(12);
    d.policy_birth_month = 1 + pick(12);
    d.patient_birth_day = 1 + pick(31);
    d.policy_birth_day = 1 + pick(31);
    switch (pick(4)) {
        case 0:
            d.flags = PATIENT_FIELDS;
            break;
        case 1:
            d.flags = POLICY_KEY_FLAGS;
            break;
        default:
            d.flags = static_cast<uint32_t>(random()) & (PATIENT_FIELDS | POLICY_FIELDS);
            break;
    }
    return d;
}

}  // namespace mint_test

#endif
