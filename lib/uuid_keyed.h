// Keyed identifiers: derived as uuid_create derives them, except that the
// last SHA-256 computation (the second of a patient key, the only one of a
// policy key) is HMAC-SHA-256 under a shared secret, over the same message.
// Internal to the library and its programs (not exported, not installed).
#ifndef MINTCORE_UUID_KEYED_H
#define MINTCORE_UUID_KEYED_H

#include <cstddef>

#include "hmac_sha256.h"
#include "mintcore.h"

namespace mint {

// A prepared secret; it stands in for the secret, so keep it as secret.
struct uuid_key {
    hmac_sha256_key mac;
};

// Prepares `secret` (`length` bytes, any length) for the calls below.
void uuid_key_init(uuid_key* key, const unsigned char* secret, size_t length);

// uuid_create, with the last SHA-256 computation replaced by HMAC-SHA-256
// under `key`; a null key gives exactly uuid_create. Same return values and
// messages; the zero identifier stays the zero identifier.
int uuid_create_keyed(uuid_hash_data* data, const uuid_key* key);

// uuid_create_keyed(first, key) then uuid_create_keyed(second, key), messages
// included; bit 0 of the result is what the first call returns, bit 1 the
// second. As uuid_create_pair does, it runs the two records' compressions
// side by side when both are filled for a key.
int uuid_create_pair_keyed(uuid_hash_data* first, uuid_hash_data* second, const uuid_key* key);

// uuid_create_keyed on each of four records in turn, messages included; bit
// i of the result is what the call on records[i] returns. When all four are
// filled for a key, their compressions run side by side (four at once where
// the SHA-256 backend has vectors of four words, else as two pairs).
int uuid_create_quad_keyed(uuid_hash_data* const records[4], const uuid_key* key);

}  // namespace mint

#endif
