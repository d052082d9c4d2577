// Derivation of the 12-character identifier from a filled identity record.
#include <cstring>
#include <cstdio>

#include "mintcore.h"
#include "sha256_internal.h"

using mint::sha256_detail::digest_short;

namespace {

constexpr char alphabet[] = "0123456789abcdefghijklmnopqrstuv";
static_assert(sizeof alphabet == 33);

int uuid_digit(int value) {
    return value >= 0 && value < 32 ? alphabet[value] : -1;
}

// A year enters the hash as two bytes: remainder and quotient by 100.
void put_year(unsigned char* p, int32_t year) {
    p[0] = static_cast<unsigned char>(year % 100);
    p[1] = static_cast<unsigned char>(year / 100);
}

unsigned char low_byte(int32_t value) {
    return static_cast<unsigned char>(value);
}

// Character 0 selects from half the alphabet: 'g'..'v' marks a patient key,
// '0'..'f' a policy key.
void write_uuid(char* uuid, const unsigned char* digest, int first_high_bit) {
    uuid[0] = static_cast<char>(uuid_digit((digest[0] & 0x0F) | first_high_bit));
    for (int i = 1; i < 12; ++i) {
        uuid[i] = static_cast<char>(uuid_digit(digest[i] & 0x1F));
    }
    uuid[12] = '\0';
}

// Both derivations hash short messages (30 and 13 bytes, or 59), so each
// digest is one call that pads the message in place.
void uuid_create_from_patient(uuid_hash_data* data) {
    unsigned char message[30];
    unsigned char digest[32];

    std::memcpy(message, data->patient_name, 20);
    std::memcpy(message + 20, data->patient_ssn, 9);
    message[29] = low_byte(data->patient_birth_day);
    digest_short<30>(message, digest);

    for (int i = 0; i < 9; ++i) {
        message[i] = digest[i] & 0x0F;
    }
    message[9] = low_byte(data->patient_gender);
    message[10] = low_byte(data->patient_birth_month);
    put_year(message + 11, data->patient_birth_year);
    digest_short<13>(message, digest);

    write_uuid(data->uuid, digest, 0x10);
}

// The policy holder's segment (34 bytes) followed by the patient's (25 bytes).
void uuid_create_from_policy(uuid_hash_data* data) {
    unsigned char message[59];
    unsigned char digest[32];

    std::memcpy(message, data->policy_name, 20);
    std::memcpy(message + 20, data->policy_ssn, 9);
    message[29] = low_byte(data->policy_gender);
    message[30] = low_byte(data->policy_birth_day);
    message[31] = low_byte(data->policy_birth_month);
    put_year(message + 32, data->policy_birth_year);

    unsigned char* patient = message + 34;
    std::memcpy(patient, data->patient_name, 20);
    patient[20] = low_byte(data->patient_gender);
    patient[21] = low_byte(data->patient_birth_day);
    patient[22] = low_byte(data->patient_birth_month);
    put_year(patient + 23, data->patient_birth_year);
    digest_short<59>(message, digest);

    write_uuid(data->uuid, digest, 0x00);
}

}  // namespace

int uuid_create(uuid_hash_data* data) {
    if (data == nullptr) return 0;
    std::memset(data->uuid, '0', 12);
    data->uuid[12] = '\0';
    if ((data->flags & PATIENT_FIELDS) == PATIENT_FIELDS) {
        uuid_create_from_patient(data);
        return 1;
    }
    if (data->flags == POLICY_KEY_FLAGS) {
        uuid_create_from_policy(data);
        return 1;
    }
    if ((data->flags & ANY_SSN) != 0) {
        std::printf("Error in uuid_create(), structure not properly filled out.  Flags %04x.\n",
                    static_cast<unsigned>(data->flags));
        return 0;
    }
    return 1;
}
