// Any key and any two records: keyed derivation decides as the plain one,
// two at once are two single calls, and a keyed identifier is what the
// documented construction gives, with HMAC-SHA-256 through every backend.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "hmac_sha256.h"
#include "mintcore.h"
#include "sha256_internal.h"
#include "uuid_keyed.h"

using namespace mint::sha256_detail;

namespace {

// Reads the input a byte at a time; zeros once it runs out.
struct byte_reader {
    const uint8_t* data;
    size_t size;
    size_t position;

    uint8_t byte() { return position < size ? data[position++] : 0; }
    uint32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = value << 8 | byte();
        return value;
    }
    void bytes(unsigned char* out, size_t count) {
        for (size_t i = 0; i < count; ++i) out[i] = byte();
    }
};

// Any stored values, with flags that mostly select one of the two keys.
uuid_hash_data read_record(byte_reader* in) {
    uuid_hash_data d;
    std::memset(&d, 0, sizeof d);
    const uint8_t selector = in->byte();
    const uint32_t bits = in->word();
    switch (selector % 4) {
        case 0:
            d.flags = PATIENT_FIELDS | (bits & POLICY_FIELDS);
            break;
        case 1:
            d.flags = POLICY_KEY_FLAGS;
            break;
        case 2:
            d.flags = bits & (PATIENT_FIELDS | POLICY_FIELDS);
            break;
        default:
            d.flags = bits;
            break;
    }
    in->bytes(d.patient_name, sizeof d.patient_name);
    in->bytes(d.patient_ssn, sizeof d.patient_ssn);
    in->bytes(d.policy_name, sizeof d.policy_name);
    in->bytes(d.policy_ssn, sizeof d.policy_ssn);
    for (int32_t* field : {&d.patient_gender, &d.patient_birth_year, &d.patient_birth_month, &d.patient_birth_day,
                           &d.policy_gender, &d.policy_birth_year, &d.policy_birth_month, &d.policy_birth_day}) {
        *field = static_cast<int32_t>(in->word());
    }
    std::memset(d.uuid, 'x', sizeof d.uuid);
    return d;
}

unsigned char low_byte(int32_t value) {
    return static_cast<unsigned char>(value);
}

// The message of the last hash computation, byte by byte as the README
// lays it out; stage 1 of a patient key is plain SHA-256 with `compress`.
std::vector<unsigned char> last_message(const uuid_hash_data& d, bool patient_key, compress_fn compress) {
    const auto year_bytes = [](int32_t year) {
        return std::vector<unsigned char>{low_byte(year % 100), low_byte(year / 100)};
    };
    std::vector<unsigned char> m;
    const auto append = [&m](const unsigned char* p, size_t n) { m.insert(m.end(), p, p + n); };
    if (patient_key) {
        std::vector<unsigned char> stage1(d.patient_name, d.patient_name + 20);
        stage1.insert(stage1.end(), d.patient_ssn, d.patient_ssn + 9);
        stage1.push_back(low_byte(d.patient_birth_day));
        SHA256state state;
        sha256init(&state);
        update_with(&state, stage1.data(), static_cast<uint32_t>(stage1.size()), compress);
        unsigned char digest[32];
        finish_with(&state, digest, compress);
        for (int i = 0; i < 9; ++i) m.push_back(digest[i] & 0x0F);
        m.push_back(low_byte(d.patient_gender));
        m.push_back(low_byte(d.patient_birth_month));
    } else {
        append(d.policy_name, 20);
        append(d.policy_ssn, 9);
        m.push_back(low_byte(d.policy_gender));
        m.push_back(low_byte(d.policy_birth_day));
        m.push_back(low_byte(d.policy_birth_month));
        for (unsigned char b : year_bytes(d.policy_birth_year)) m.push_back(b);
        append(d.patient_name, 20);
        m.push_back(low_byte(d.patient_gender));
        m.push_back(low_byte(d.patient_birth_day));
        m.push_back(low_byte(d.patient_birth_month));
    }
    for (unsigned char b : year_bytes(d.patient_birth_year)) m.push_back(b);
    return m;
}

// The keyed identifier by the documented construction, with one backend.
void construct(const uuid_hash_data& d, bool patient_key, const unsigned char* secret, size_t secret_length,
               compress_fn compress, char* uuid) {
    static constexpr char alphabet[] = "0123456789abcdefghijklmnopqrstuv";
    const std::vector<unsigned char> message = last_message(d, patient_key, compress);
    mint::hmac_sha256_key key;
    mint::hmac_sha256_init_with(&key, secret, secret_length, compress);
    unsigned char mac[32];
    mint::hmac_sha256_with(&key, message.data(), message.size(), mac, compress);
    uuid[0] = alphabet[(mac[0] & 0x0F) | (patient_key ? 0x10 : 0)];
    for (int i = 1; i < 12; ++i) uuid[i] = alphabet[mac[i] & 0x1F];
    uuid[12] = '\0';
}

// Everything but the identifier.
bool same_fields(const uuid_hash_data& a, const uuid_hash_data& b) {
    return std::memcmp(&a, &b, offsetof(uuid_hash_data, uuid)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    silence_stdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    byte_reader in{data, size, 0};
    unsigned char secret[255];
    const size_t secret_length = in.byte();
    in.bytes(secret, secret_length);
    mint::uuid_key key;
    mint::uuid_key_init(&key, secret, secret_length);

    uuid_hash_data records[2] = {read_record(&in), read_record(&in)};
    uuid_hash_data keyed[2] = {records[0], records[1]};
    int keyed_results[2];
    for (int i = 0; i < 2; ++i) {
        uuid_hash_data plain = records[i];
        const int plain_result = uuid_create(&plain);
        keyed_results[i] = mint::uuid_create_keyed(&keyed[i], &key);
        FUZZ_CHECK(keyed_results[i] == plain_result);
        FUZZ_CHECK(same_fields(keyed[i], records[i]));
        FUZZ_CHECK(is_uuid_text(keyed[i].uuid));
        const bool plain_zero = std::strcmp(plain.uuid, "000000000000") == 0;
        const bool keyed_zero = std::strcmp(keyed[i].uuid, "000000000000") == 0;
        FUZZ_CHECK(plain_zero == keyed_zero);
        FUZZ_CHECK((plain.uuid[0] >= 'g') == (keyed[i].uuid[0] >= 'g'));

        const uint32_t flags = records[i].flags;
        const bool patient_key = (flags & PATIENT_FIELDS) == PATIENT_FIELDS;
        if (patient_key || flags == POLICY_KEY_FLAGS) {
            for (const backend& b : backends()) {
                if (!b.supported()) continue;
                char expected[13];
                construct(records[i], patient_key, secret, secret_length, b.compress, expected);
                FUZZ_CHECK(std::strcmp(keyed[i].uuid, expected) == 0);
            }
        }
    }

    uuid_hash_data pair[2] = {records[0], records[1]};
    const int pair_result = mint::uuid_create_pair_keyed(&pair[0], &pair[1], &key);
    FUZZ_CHECK(pair_result == (keyed_results[0] | keyed_results[1] << 1));
    FUZZ_CHECK(std::memcmp(pair, keyed, sizeof pair) == 0);

    // The rest of the input as a message: the same MAC through every backend.
    const unsigned char* rest = data + in.position;
    const size_t rest_size = size - in.position;
    mint::hmac_sha256_key portable_key;
    mint::hmac_sha256_init_with(&portable_key, secret, secret_length, compress_portable);
    unsigned char expected_mac[32];
    mint::hmac_sha256_with(&portable_key, rest, rest_size, expected_mac, compress_portable);
    for (const backend& b : backends()) {
        if (!b.supported()) continue;
        mint::hmac_sha256_key backend_key;
        mint::hmac_sha256_init_with(&backend_key, secret, secret_length, b.compress);
        unsigned char mac[32];
        mint::hmac_sha256_with(&backend_key, rest, rest_size, mac, b.compress);
        FUZZ_CHECK(std::memcmp(mac, expected_mac, sizeof mac) == 0);
    }
    return 0;
}
