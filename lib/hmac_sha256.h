// HMAC-SHA-256 (RFC 2104) on the library's own SHA-256 engine: internal to
// the library and its programs (not exported, not installed).
#ifndef MINTCORE_HMAC_SHA256_H
#define MINTCORE_HMAC_SHA256_H

#include <cstddef>
#include <cstdint>

#include "sha256_internal.h"

namespace mint {

// A prepared key: the chaining values after compressing the key's inner
// block (key XOR 0x36...) and outer block (key XOR 0x5c...) from the initial
// hash. Each MAC then starts from these, so it costs one compression more
// than the plain hash of its message. The values stand in for the key: keep
// them as secret as the key itself.
struct hmac_sha256_key {
    uint32_t inner[8];
    uint32_t outer[8];
};

constexpr size_t hmac_sha256_block_bytes = 64;
constexpr size_t hmac_sha256_mac_bytes = 32;

// Prepares `secret` (any length; a secret longer than one block is hashed
// first, as RFC 2104 says). The padded key blocks are wiped before return.
void hmac_sha256_init(hmac_sha256_key* key, const unsigned char* secret, size_t length);

// The MAC of `message` under `key`, 32 bytes.
void hmac_sha256(const hmac_sha256_key* key, const unsigned char* message, size_t length, unsigned char* mac);

// The same with an explicit backend, so that tests can force each one.
void hmac_sha256_init_with(hmac_sha256_key* key, const unsigned char* secret, size_t length,
                           sha256_detail::compress_fn compress);
void hmac_sha256_with(const hmac_sha256_key* key, const unsigned char* message, size_t length, unsigned char* mac,
                      sha256_detail::compress_fn compress);

// Overwrites `length` bytes at `data` with zeros in a way the compiler may
// not drop as a dead store: for secrets that are about to go out of scope.
void wipe_secret(void* data, size_t length);

}  // namespace mint

#endif
