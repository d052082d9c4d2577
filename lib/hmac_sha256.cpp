// HMAC-SHA-256 over the streaming engine, with the key blocks compressed once.
#include "hmac_sha256.h"

#include <cstring>

namespace mint {

using sha256_detail::compress_fn;

namespace {

constexpr unsigned char inner_pad = 0x36;
constexpr unsigned char outer_pad = 0x5c;
constexpr uint32_t max_piece = uint32_t{1} << 30;  // update_with takes 32-bit lengths

// A state that has already compressed one block into `chaining`.
void resume(SHA256state* state, const uint32_t (&chaining)[8]) {
    state->compressed_bytes = hmac_sha256_block_bytes;
    std::memcpy(state->hash_words, chaining, sizeof state->hash_words);
    state->buffered_bytes = 0;
}

void update(SHA256state* state, const unsigned char* data, size_t length, compress_fn compress) {
    while (length > 0) {
        const uint32_t piece = length < max_piece ? static_cast<uint32_t>(length) : max_piece;
        sha256_detail::update_with(state, data, piece, compress);
        data += piece;
        length -= piece;
    }
}

void chaining_of_block(uint32_t (&chaining)[8], const unsigned char* block, compress_fn compress) {
    std::memcpy(chaining, sha256_detail::initial_hash.data(), sizeof chaining);
    compress(chaining, block, 1);
}

}  // namespace

void wipe_secret(void* data, size_t length) {
    // Stores through a volatile pointer are observable behaviour.
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    for (size_t i = 0; i < length; ++i) p[i] = 0;
}

void hmac_sha256_init_with(hmac_sha256_key* key, const unsigned char* secret, size_t length, compress_fn compress) {
    unsigned char block[hmac_sha256_block_bytes] = {};
    if (length > hmac_sha256_block_bytes) {
        SHA256state state;
        sha256init(&state);
        update(&state, secret, length, compress);
        sha256_detail::finish_with(&state, block, compress);
        wipe_secret(&state, sizeof state);
    } else if (length > 0) {
        std::memcpy(block, secret, length);
    }
    for (unsigned char& byte : block) byte ^= inner_pad;
    chaining_of_block(key->inner, block, compress);
    for (unsigned char& byte : block) byte ^= inner_pad ^ outer_pad;
    chaining_of_block(key->outer, block, compress);
    wipe_secret(block, sizeof block);
}

void hmac_sha256_with(const hmac_sha256_key* key, const unsigned char* message, size_t length, unsigned char* mac,
                      compress_fn compress) {
    SHA256state state;
    unsigned char inner_digest[hmac_sha256_mac_bytes];
    resume(&state, key->inner);
    update(&state, message, length, compress);
    sha256_detail::finish_with(&state, inner_digest, compress);
    resume(&state, key->outer);
    sha256_detail::update_with(&state, inner_digest, sizeof inner_digest, compress);
    sha256_detail::finish_with(&state, mac, compress);
}

void hmac_sha256_init(hmac_sha256_key* key, const unsigned char* secret, size_t length) {
    hmac_sha256_init_with(key, secret, length, sha256_detail::selected_compress());
}

void hmac_sha256(const hmac_sha256_key* key, const unsigned char* message, size_t length, unsigned char* mac) {
    hmac_sha256_with(key, message, length, mac, sha256_detail::selected_compress());
}

}  // namespace mint
