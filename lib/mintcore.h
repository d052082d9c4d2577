// mintcore: deterministic 12-character patient identifiers derived with SHA-256.
//
// A caller clears a uuid_hash_data with uuid_initialize, hands each known field
// to its setter (which validates, normalises, stores and marks it), then calls
// uuid_create and copies the 13 bytes of `uuid` (12 characters and a zero byte).
//
// The record layouts and the function signatures below are the library's binary
// interface: callers allocate the records themselves and bind to these exact
// C++ symbols, so neither may change.
#ifndef MINTCORE_H
#define MINTCORE_H

#include <cstddef>
#include <cstdint>

// A build that carries the library's code inside another library (libmint)
// defines MINTCORE_API empty, keeping these functions its own.
#ifndef MINTCORE_API
#if defined(__GNUC__) || defined(__clang__)
#define MINTCORE_API __attribute__((visibility("default")))
#else
#define MINTCORE_API
#endif
#endif

// Set-marks in uuid_hash_data::flags; the policy holder's bits are the
// patient's shifted left by 8.
constexpr uint32_t PATIENT_SSN_SET = 0x0001;
constexpr uint32_t PATIENT_NAME_SET = 0x0002;
constexpr uint32_t PATIENT_BIRTH_DAY_SET = 0x0004;
constexpr uint32_t PATIENT_GENDER_SET = 0x0008;
constexpr uint32_t PATIENT_BIRTH_YEAR_SET = 0x0010;
constexpr uint32_t PATIENT_BIRTH_MONTH_SET = 0x0020;
constexpr uint32_t POLICY_SSN_SET = PATIENT_SSN_SET << 8;
constexpr uint32_t POLICY_NAME_SET = PATIENT_NAME_SET << 8;
constexpr uint32_t POLICY_BIRTH_DAY_SET = PATIENT_BIRTH_DAY_SET << 8;
constexpr uint32_t POLICY_GENDER_SET = PATIENT_GENDER_SET << 8;
constexpr uint32_t POLICY_BIRTH_YEAR_SET = PATIENT_BIRTH_YEAR_SET << 8;
constexpr uint32_t POLICY_BIRTH_MONTH_SET = PATIENT_BIRTH_MONTH_SET << 8;

constexpr uint32_t PATIENT_FIELDS = 0x003F;
constexpr uint32_t POLICY_FIELDS = 0x3F00;
constexpr uint32_t ANY_SSN = PATIENT_SSN_SET | POLICY_SSN_SET;
constexpr uint32_t POLICY_KEY_FLAGS = POLICY_FIELDS | (PATIENT_FIELDS & ~PATIENT_SSN_SET);

// Identity record. Names hold letter codes 1..26 and SSNs digit values 0..9,
// one per position from 0, zero-filled; they are not text.
struct uuid_hash_data {
    uint32_t flags;
    unsigned char policy_name[20];
    unsigned char policy_ssn[9];
    int32_t policy_birth_day;
    int32_t policy_gender;
    int32_t policy_birth_year;
    int32_t policy_birth_month;
    unsigned char patient_name[20];
    unsigned char patient_ssn[9];
    int32_t patient_birth_day;
    int32_t patient_gender;
    int32_t patient_birth_year;
    int32_t patient_birth_month;
    char uuid[13];
};

// Running state of one SHA-256 computation, owned by the caller.
struct SHA256state {
    int64_t compressed_bytes;  // bytes already compressed, a multiple of 64
    uint32_t hash_words[8];    // chaining value H0..H7
    unsigned char block[64];   // partial block: the first buffered_bytes wait
    int64_t buffered_bytes;    // 0..63 between calls
};

#if defined(__x86_64__) || defined(_M_X64)
static_assert(sizeof(uuid_hash_data) == 116, "uuid_hash_data layout is part of the ABI");
static_assert(offsetof(uuid_hash_data, policy_name) == 4, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, policy_ssn) == 24, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, policy_birth_day) == 36, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, policy_gender) == 40, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, policy_birth_year) == 44, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, policy_birth_month) == 48, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, patient_name) == 52, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, patient_ssn) == 72, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, patient_birth_day) == 84, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, patient_gender) == 88, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, patient_birth_year) == 92, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, patient_birth_month) == 96, "uuid_hash_data layout");
static_assert(offsetof(uuid_hash_data, uuid) == 100, "uuid_hash_data layout");
static_assert(sizeof(SHA256state) == 112, "SHA256state layout is part of the ABI");
static_assert(offsetof(SHA256state, hash_words) == 8, "SHA256state layout");
static_assert(offsetof(SHA256state, block) == 40, "SHA256state layout");
static_assert(offsetof(SHA256state, buffered_bytes) == 104, "SHA256state layout");
#endif

// Identity record. Setters return 1 when the value was stored and marked, 0
// (after printing one line on standard output) when it was rejected.
MINTCORE_API void uuid_initialize(uuid_hash_data* data);
MINTCORE_API int uuid_hash_set_patient_name(uuid_hash_data* data, char* name);
MINTCORE_API int uuid_hash_set_patient_ssn(uuid_hash_data* data, char* ssn);
MINTCORE_API int uuid_hash_set_patient_gender(uuid_hash_data* data, int gender);
MINTCORE_API int uuid_hash_set_patient_birth_year(uuid_hash_data* data, int year);
MINTCORE_API int uuid_hash_set_patient_birth_month(uuid_hash_data* data, int month);
MINTCORE_API int uuid_hash_set_patient_birth_day(uuid_hash_data* data, int day);
MINTCORE_API int uuid_hash_set_policy_name(uuid_hash_data* data, char* name);
MINTCORE_API int uuid_hash_set_policy_ssn(uuid_hash_data* data, char* ssn);
MINTCORE_API int uuid_hash_set_policy_gender(uuid_hash_data* data, int gender);
MINTCORE_API int uuid_hash_set_policy_birth_year(uuid_hash_data* data, int year);
MINTCORE_API int uuid_hash_set_policy_birth_month(uuid_hash_data* data, int month);
MINTCORE_API int uuid_hash_set_policy_birth_day(uuid_hash_data* data, int day);

// Writes the identifier into data->uuid. Returns 1 for a derived or the zero
// identifier, 0 for a null record or a record with an SSN that no mode can use.
MINTCORE_API int uuid_create(uuid_hash_data* data);

// Streaming SHA-256: init, any number of feeds, finish (which does not reset).
MINTCORE_API void sha256init(SHA256state* state);
MINTCORE_API void sha256(SHA256state* state, unsigned char* data, uint32_t length);
MINTCORE_API void sha256finish(SHA256state* state, unsigned char* digest);

// Hex codec. hex writes 2*length lowercase digits and a zero byte, returns text.
// unhex returns a null pointer on success, else a constant message.
// unhex_char returns 0..15, or 255 for a non-digit.
MINTCORE_API char* hex(unsigned char* data, uint32_t length, char* text);
MINTCORE_API const char* unhex(const char* text, unsigned char* out, uint32_t capacity);
MINTCORE_API unsigned int unhex_char(int c);

#endif
