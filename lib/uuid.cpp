// Derivation of the 12-character identifier from a filled identity record.
#include <cstring>
#include <cstdio>

#include "mintcore.h"
#include "sha256_internal.h"

using mint::sha256_detail::digest_words;

namespace {

constexpr char alphabet[] = "0123456789abcdefghijklmnopqrstuv";
static_assert(sizeof alphabet == 33);

int uuid_digit(int value) {
    return value >= 0 && value < 32 ? alphabet[value] : -1;
}

// The hash messages are built as SHA-256 message words: each word holds four
// consecutive message bytes, the first in its top byte. An integer field
// contributes its low byte; a year two bytes, its remainder and its quotient
// by 100 (1970 gives 70 and 19).

uint32_t word_of(uint32_t b0, uint32_t b1, uint32_t b2, uint32_t b3) {
    return (b0 << 24) | (b1 << 16) | (b2 << 8) | b3;
}

uint32_t word_at(const unsigned char* bytes) {
    return word_of(bytes[0], bytes[1], bytes[2], bytes[3]);
}

uint32_t low_byte(int32_t value) {
    return static_cast<unsigned char>(value);
}

uint32_t year_remainder(int32_t year) {
    return static_cast<unsigned char>(year % 100);
}

uint32_t year_quotient(int32_t year) {
    return static_cast<unsigned char>(year / 100);
}

constexpr uint32_t end_marker = 0x80;  // the byte that follows every message

// Digest byte i, from the digest's hash words.
unsigned digest_byte(const uint32_t (&hash)[8], int i) {
    return (hash[i / 4] >> (24 - 8 * (i % 4))) & 0xFF;
}

// Character 0 selects from half the alphabet: 'g'..'v' marks a patient key,
// '0'..'f' a policy key.
void write_uuid(char* uuid, const uint32_t (&hash)[8], unsigned first_high_bit) {
    uuid[0] = static_cast<char>(uuid_digit(static_cast<int>((digest_byte(hash, 0) & 0x0F) | first_high_bit)));
    for (int i = 1; i < 12; ++i) {
        uuid[i] = static_cast<char>(uuid_digit(static_cast<int>(digest_byte(hash, i) & 0x1F)));
    }
    uuid[12] = '\0';
}

// Stage 1 hashes the 30 bytes name (20), SSN (9), birth day; stage 2 the 13
// bytes of the first nine stage 1 digest bytes cut to their low 4 bits,
// gender, month and year.
void uuid_create_from_patient(uuid_hash_data* data) {
    const unsigned char* name = data->patient_name;
    const unsigned char* ssn = data->patient_ssn;
    uint32_t hash[8];

    uint32_t stage1[16] = {};
    for (int i = 0; i < 5; ++i) {
        stage1[i] = word_at(name + 4 * i);
    }
    stage1[5] = word_at(ssn);
    stage1[6] = word_at(ssn + 4);
    stage1[7] = word_of(ssn[8], low_byte(data->patient_birth_day), end_marker, 0);
    stage1[15] = 30 * 8;
    digest_words<1>(stage1, hash);

    uint32_t stage2[16] = {};
    stage2[0] = hash[0] & 0x0F0F0F0F;
    stage2[1] = hash[1] & 0x0F0F0F0F;
    stage2[2] = word_of(digest_byte(hash, 8) & 0x0F, low_byte(data->patient_gender),
                        low_byte(data->patient_birth_month), year_remainder(data->patient_birth_year));
    stage2[3] = word_of(year_quotient(data->patient_birth_year), end_marker, 0, 0);
    stage2[15] = 13 * 8;
    digest_words<1>(stage2, hash);

    write_uuid(data->uuid, hash, 0x10);
}

// One 59-byte message: the policy holder's segment, name (20), SSN (9),
// gender, day, month, year (34 bytes), then the patient's, name (20), gender,
// day, month, year (25 bytes). Two blocks once padded.
void uuid_create_from_policy(uuid_hash_data* data) {
    const unsigned char* policy_name = data->policy_name;
    const unsigned char* policy_ssn = data->policy_ssn;
    const unsigned char* name = data->patient_name;
    uint32_t hash[8];

    uint32_t message[32] = {};
    for (int i = 0; i < 5; ++i) {
        message[i] = word_at(policy_name + 4 * i);
    }
    message[5] = word_at(policy_ssn);
    message[6] = word_at(policy_ssn + 4);
    message[7] = word_of(policy_ssn[8], low_byte(data->policy_gender), low_byte(data->policy_birth_day),
                         low_byte(data->policy_birth_month));
    message[8] = word_of(year_remainder(data->policy_birth_year), year_quotient(data->policy_birth_year), name[0],
                         name[1]);
    for (int i = 0; i < 4; ++i) {
        message[9 + i] = word_at(name + 2 + 4 * i);
    }
    message[13] = word_of(name[18], name[19], low_byte(data->patient_gender), low_byte(data->patient_birth_day));
    message[14] = word_of(low_byte(data->patient_birth_month), year_remainder(data->patient_birth_year),
                          year_quotient(data->patient_birth_year), end_marker);
    message[31] = 59 * 8;
    digest_words<2>(message, hash);

    write_uuid(data->uuid, hash, 0x00);
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
