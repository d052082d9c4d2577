// Derivation of the 12-character identifier from a filled identity record.
#include <cstring>
#include <utility>
#include <cstdio>

#include "mintcore.h"
#include "sha256_internal.h"
#include "uuid_keyed.h"
#include "uuid_mode.h"
#include "uuid_pair.h"

using namespace mint::sha256_detail;
using mint::uuid_mode;

namespace {

constexpr char alphabet[] = "0123456789abcdefghijklmnopqrstuv";
static_assert(sizeof alphabet == 33);

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

// The identifier characters of four digest bytes, given as the hash word
// that holds them (first byte on top) already cut to values 0..31: four
// characters of the alphabet, in the same order. Values 10 and up become
// letters, all four at once without a lookup.
constexpr uint32_t characters_of(uint32_t values) {
    const uint32_t letters = ((values + 0x76767676u) >> 7) & 0x01010101u;  // 1 where the value is 10 or more
    return values + 0x30303030u + letters * ('a' - '0' - 10);
}

constexpr bool characters_match_alphabet() {
    for (uint32_t value = 0; value < 32; ++value) {
        const uint32_t word = value << 24 | (31 - value) << 16 | value << 8 | (value ^ 21);
        const uint32_t chars = characters_of(word);
        if (static_cast<char>(chars >> 24) != alphabet[value] || static_cast<char>(chars >> 16) != alphabet[31 - value] ||
            static_cast<char>(chars >> 8) != alphabet[value] || static_cast<char>(chars) != alphabet[value ^ 21]) {
            return false;
        }
    }
    return true;
}
static_assert(characters_match_alphabet());

void store_characters(char* out, uint32_t chars) {
    out[0] = static_cast<char>(chars >> 24);
    out[1] = static_cast<char>(chars >> 16);
    out[2] = static_cast<char>(chars >> 8);
    out[3] = static_cast<char>(chars);
}

// From the low 5 bits of digest bytes 0 to 11, except that character 0
// selects from half the alphabet: its low 4 bits and `first_high_bit`,
// 'g'..'v' marking a patient key and '0'..'f' a policy key.
void write_uuid(char* uuid, const uint32_t (&hash)[8], unsigned first_high_bit) {
    const uint32_t first = (hash[0] & 0x0F1F1F1Fu) | (uint32_t{first_high_bit} << 24);
    store_characters(uuid, characters_of(first));
    store_characters(uuid + 4, characters_of(hash[1] & 0x1F1F1F1Fu));
    store_characters(uuid + 8, characters_of(hash[2] & 0x1F1F1F1Fu));
    uuid[12] = '\0';
}

uuid_mode mode_of(const uuid_hash_data* data) {
    return mint::uuid_mode_of(data->flags);
}

// Both keys take two compressions, one after the other:
// - patient key: stage 1 hashes the 30 bytes name (20), SSN (9), birth day;
//   stage 2 the 13 bytes of the first nine stage 1 digest bytes cut to their
//   low 4 bits, gender, month and year.
// - policy key: one 59-byte message, two blocks once padded: the policy
//   holder's segment, name (20), SSN (9), gender, day, month, year (34
//   bytes), then the patient's, name (20), gender, day, month, year (25).
// A keyed derivation computes its last hash (stage 2, or the policy key's
// one) as HMAC-SHA-256: the same message blocks, compressed from the key's
// inner chaining value and with the key block counted in the message length,
// then one outer compression of that digest from the key's outer chaining
// value. `Keyed` chooses at compile time, so the plain path keeps its code.
// A derivation is the chaining value and the block to compress next.
struct derivation {
    uint32_t hash[8];
    uint32_t block[16];
};

// Words `From` to 15 of a block: zeros, then the message's bit length.
// Written as single stores on purpose: as a loop or a copy of a constant
// block, compilers turn them into string instructions whose start-up costs
// more than the stores.
template <size_t From, size_t... Zero>
void finish_block(uint32_t* block, uint32_t bytes, std::index_sequence<Zero...>) {
    ((block[From + Zero] = 0), ...);
    block[15] = bytes * 8;
}

template <size_t From>
void finish_block(uint32_t* block, uint32_t bytes) {
    finish_block<From>(block, bytes, std::make_index_sequence<15 - From>{});
}

void start_patient_key(const uuid_hash_data* data, derivation* d) {
    const unsigned char* name = data->patient_name;
    const unsigned char* ssn = data->patient_ssn;
    std::memcpy(d->hash, initial_hash.data(), sizeof d->hash);
    uint32_t* block = d->block;
    for (int i = 0; i < 5; ++i) {
        block[i] = word_at(name + 4 * i);
    }
    block[5] = word_at(ssn);
    block[6] = word_at(ssn + 4);
    block[7] = word_of(ssn[8], low_byte(data->patient_birth_day), end_marker, 0);
    finish_block<8>(block, 30);
}

// Where the last hash computation starts, and the bytes of key material it
// has compressed before the message.
template <bool Keyed>
const uint32_t* last_hash_start(const mint::uuid_key* key) {
    if constexpr (Keyed) {
        return key->mac.inner;
    } else {
        return initial_hash.data();
    }
}

template <bool Keyed>
constexpr uint32_t last_hash_prefix_bytes = Keyed ? mint::hmac_sha256_block_bytes : 0;

template <bool Keyed>
void continue_patient_key(const uuid_hash_data* data, const mint::uuid_key* key, derivation* d) {
    const uint32_t (&stage1)[8] = d->hash;
    uint32_t* block = d->block;
    block[0] = stage1[0] & 0x0F0F0F0F;
    block[1] = stage1[1] & 0x0F0F0F0F;
    block[2] = word_of(digest_byte(stage1, 8) & 0x0F, low_byte(data->patient_gender),
                       low_byte(data->patient_birth_month), year_remainder(data->patient_birth_year));
    block[3] = word_of(year_quotient(data->patient_birth_year), end_marker, 0, 0);
    finish_block<4>(block, last_hash_prefix_bytes<Keyed> + 13);
    std::memcpy(d->hash, last_hash_start<Keyed>(key), sizeof d->hash);
}

template <bool Keyed>
void start_policy_key(const uuid_hash_data* data, const mint::uuid_key* key, derivation* d) {
    const unsigned char* policy_name = data->policy_name;
    const unsigned char* policy_ssn = data->policy_ssn;
    const unsigned char* name = data->patient_name;
    std::memcpy(d->hash, last_hash_start<Keyed>(key), sizeof d->hash);
    uint32_t* block = d->block;
    for (int i = 0; i < 5; ++i) {
        block[i] = word_at(policy_name + 4 * i);
    }
    block[5] = word_at(policy_ssn);
    block[6] = word_at(policy_ssn + 4);
    block[7] = word_of(policy_ssn[8], low_byte(data->policy_gender), low_byte(data->policy_birth_day),
                       low_byte(data->policy_birth_month));
    block[8] = word_of(year_remainder(data->policy_birth_year), year_quotient(data->policy_birth_year), name[0],
                       name[1]);
    for (int i = 0; i < 4; ++i) {
        block[9 + i] = word_at(name + 2 + 4 * i);
    }
    block[13] = word_of(name[18], name[19], low_byte(data->patient_gender), low_byte(data->patient_birth_day));
    block[14] = word_of(low_byte(data->patient_birth_month), year_remainder(data->patient_birth_year),
                        year_quotient(data->patient_birth_year), end_marker);
    block[15] = 0;
}

// The second block holds only the length; the chaining value runs on.
template <bool Keyed>
void continue_policy_key(derivation* d) {
    finish_block<0>(d->block, last_hash_prefix_bytes<Keyed> + 59);
}

template <bool Keyed>
void start(const uuid_hash_data* data, uuid_mode mode, const mint::uuid_key* key, derivation* d) {
    if (mode == uuid_mode::patient_key) {
        start_patient_key(data, d);
    } else {
        start_policy_key<Keyed>(data, key, d);
    }
}

template <bool Keyed>
void continue_with(const uuid_hash_data* data, uuid_mode mode, const mint::uuid_key* key, derivation* d) {
    if (mode == uuid_mode::patient_key) {
        continue_patient_key<Keyed>(data, key, d);
    } else {
        continue_policy_key<Keyed>(d);
    }
}

// HMAC's outer hash: the key's outer block (already compressed), then the
// inner digest, 32 bytes, as the one block left.
void start_outer_hash(const mint::uuid_key* key, derivation* d) {
    std::memcpy(d->block, d->hash, sizeof d->hash);
    d->block[8] = end_marker << 24;
    finish_block<9>(d->block, mint::hmac_sha256_block_bytes + mint::hmac_sha256_mac_bytes);
    std::memcpy(d->hash, key->mac.outer, sizeof d->hash);
}

void finish(uuid_hash_data* data, uuid_mode mode, const derivation& d) {
    write_uuid(data->uuid, d.hash, mode == uuid_mode::patient_key ? 0x10 : 0x00);
}

using mint::derivable;

// uuid_create's body without its message: the identifier, or the zero one.
template <bool Keyed>
uuid_mode derive(uuid_hash_data* data, const mint::uuid_key* key) {
    std::memset(data->uuid, '0', 12);
    data->uuid[12] = '\0';
    const uuid_mode mode = mode_of(data);
    if (derivable(mode)) {
        const compress_words_fn compress = selected_backend().compress_words;
        derivation d;
        start<Keyed>(data, mode, key, &d);
        compress(d.hash, d.block, 1);
        continue_with<Keyed>(data, mode, key, &d);
        compress(d.hash, d.block, 1);
        if constexpr (Keyed) {
            start_outer_hash(key, &d);
            compress(d.hash, d.block, 1);
        }
        finish(data, mode, d);
    }
    return mode;
}

template <bool Keyed>
int create(uuid_hash_data* data, const mint::uuid_key* key) {
    if (data == nullptr) return 0;
    if (derive<Keyed>(data, key) == uuid_mode::unusable) {
        std::printf("Error in uuid_create(), structure not properly filled out.  Flags %04x.\n",
                    static_cast<unsigned>(data->flags));
        return 0;
    }
    return 1;
}

// The pair's way out for records it cannot take together, kept out of line:
// inlined twice, it would crowd the pair's own code.
template <bool Keyed>
[[gnu::noinline]] int create_alone(uuid_hash_data* data, const mint::uuid_key* key) {
    return create<Keyed>(data, key);
}

template <bool Keyed>
int create_pair(uuid_hash_data* first, uuid_hash_data* second, const mint::uuid_key* key) {
    const uuid_mode first_mode = mode_of(first);
    const uuid_mode second_mode = mode_of(second);
    if (!derivable(first_mode) || !derivable(second_mode)) {
        const int first_result = create_alone<Keyed>(first, key);
        return first_result | (create_alone<Keyed>(second, key) << 1);
    }
    const compress_word_pair_fn compress_pair = selected_backend().compress_word_pair;
    derivation a;
    derivation b;
    start<Keyed>(first, first_mode, key, &a);
    start<Keyed>(second, second_mode, key, &b);
    compress_pair(a.hash, a.block, b.hash, b.block);
    continue_with<Keyed>(first, first_mode, key, &a);
    continue_with<Keyed>(second, second_mode, key, &b);
    compress_pair(a.hash, a.block, b.hash, b.block);
    if constexpr (Keyed) {
        start_outer_hash(key, &a);
        start_outer_hash(key, &b);
        compress_pair(a.hash, a.block, b.hash, b.block);
    }
    for (uuid_hash_data* data : {first, second}) {
        std::memset(data->uuid, '0', 12);
        data->uuid[12] = '\0';
    }
    finish(first, first_mode, a);
    finish(second, second_mode, b);
    return 3;
}

// Four records: their compressions in the four lanes of a backend that has
// them (two pairs elsewhere). Records that are not all derivable go in
// pairs, which take them one by one.
template <bool Keyed>
int create_quad(uuid_hash_data* const records[4], const mint::uuid_key* key) {
    uuid_mode modes[4];
    for (int i = 0; i < 4; ++i) modes[i] = mode_of(records[i]);
    if (!derivable(modes[0]) || !derivable(modes[1]) || !derivable(modes[2]) || !derivable(modes[3])) {
        const int first = create_pair<Keyed>(records[0], records[1], key);
        return first | (create_pair<Keyed>(records[2], records[3], key) << 2);
    }
    const compress_word_quad_fn compress_quad = selected_backend().compress_word_quad;
    derivation d[4];
    uint32_t* const hashes[4] = {d[0].hash, d[1].hash, d[2].hash, d[3].hash};
    const uint32_t* const blocks[4] = {d[0].block, d[1].block, d[2].block, d[3].block};
    for (int i = 0; i < 4; ++i) start<Keyed>(records[i], modes[i], key, &d[i]);
    compress_quad(hashes, blocks);
    for (int i = 0; i < 4; ++i) continue_with<Keyed>(records[i], modes[i], key, &d[i]);
    compress_quad(hashes, blocks);
    if constexpr (Keyed) {
        for (int i = 0; i < 4; ++i) start_outer_hash(key, &d[i]);
        compress_quad(hashes, blocks);
    }
    for (int i = 0; i < 4; ++i) {
        std::memset(records[i]->uuid, '0', 12);
        records[i]->uuid[12] = '\0';
        finish(records[i], modes[i], d[i]);
    }
    return 15;
}

}  // namespace

int uuid_create(uuid_hash_data* data) {
    return create<false>(data, nullptr);
}

namespace mint {

int uuid_create_pair(uuid_hash_data* first, uuid_hash_data* second) {
    return create_pair<false>(first, second, nullptr);
}

void uuid_key_init(uuid_key* key, const unsigned char* secret, size_t length) {
    hmac_sha256_init(&key->mac, secret, length);
}

uuid_mode uuid_derive(uuid_hash_data* data, const uuid_key* key) {
    return key == nullptr ? derive<false>(data, nullptr) : derive<true>(data, key);
}

int uuid_create_keyed(uuid_hash_data* data, const uuid_key* key) {
    return key == nullptr ? create<false>(data, nullptr) : create<true>(data, key);
}

int uuid_create_pair_keyed(uuid_hash_data* first, uuid_hash_data* second, const uuid_key* key) {
    return key == nullptr ? create_pair<false>(first, second, nullptr) : create_pair<true>(first, second, key);
}

int uuid_create_quad_keyed(uuid_hash_data* const records[4], const uuid_key* key) {
    return key == nullptr ? create_quad<false>(records, nullptr) : create_quad<true>(records, key);
}

}  // namespace mint
