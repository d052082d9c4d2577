// Streaming SHA-256 over a caller-owned SHA256state.
#include <cstring>

#include "sha256_internal.h"

namespace mint::sha256_detail {

namespace {

void transform(SHA256state* state, const unsigned char* p, uint64_t blocks, compress_fn compress) {
    compress(state->hash_words, p, blocks);
    state->compressed_bytes += static_cast<int64_t>(64 * blocks);
}

}  // namespace

void update_with(SHA256state* state, const unsigned char* data, uint32_t length, compress_fn compress) {
    uint64_t remaining = length;
    if (state->buffered_bytes > 0 && static_cast<uint64_t>(state->buffered_bytes) + remaining >= 64) {
        const auto fill = static_cast<uint64_t>(64 - state->buffered_bytes);
        std::memcpy(state->block + state->buffered_bytes, data, fill);
        data += fill;
        remaining -= fill;
        transform(state, state->block, 1, compress);
        state->buffered_bytes = 0;
        std::memset(state->block, 0, sizeof state->block);
    }
    if (remaining >= 64) {
        // Whole blocks are compressed straight from the caller's buffer.
        const uint64_t blocks = remaining / 64;
        transform(state, data, blocks, compress);
        data += blocks * 64;
        remaining -= blocks * 64;
    }
    if (remaining > 0) {
        std::memcpy(state->block + state->buffered_bytes, data, remaining);
        state->buffered_bytes += static_cast<int64_t>(remaining);
    }
}

void finish_with(SHA256state* state, unsigned char* digest, compress_fn compress) {
    // The trailer is 0x80, zeros, then the 64-bit bit length, so that the
    // total is a multiple of 64.
    const int64_t buffered = state->buffered_bytes;
    const uint64_t bit_length = static_cast<uint64_t>(state->compressed_bytes + buffered) * 8;
    if (buffered > 0 && buffered < 56) {
        // The trailer fits the partial block: complete it in place, leaving
        // the state as feeding the trailer would (block zeroed after the flush).
        state->block[buffered] = 0x80;
        std::memset(state->block + buffered + 1, 0, static_cast<size_t>(55 - buffered));
        store_be64(bit_length, state->block + 56);
        transform(state, state->block, 1, compress);
        state->buffered_bytes = 0;
        std::memset(state->block, 0, sizeof state->block);
    } else {
        unsigned char trailer[72] = {};
        const auto zeros = static_cast<uint32_t>((119 - buffered) % 64);
        trailer[0] = 0x80;
        store_be64(bit_length, trailer + 1 + zeros);
        update_with(state, trailer, zeros + 9, compress);
    }
    for (int i = 0; i < 8; ++i) {
        store_be32(state->hash_words[i], digest + 4 * i);
    }
}

}  // namespace mint::sha256_detail

using namespace mint::sha256_detail;

void sha256init(SHA256state* state) {
    state->compressed_bytes = 0;
    for (int i = 0; i < 8; ++i) {
        state->hash_words[i] = initial_hash[i];
    }
    state->buffered_bytes = 0;
}

void sha256(SHA256state* state, unsigned char* data, uint32_t length) {
    update_with(state, data, length, selected_compress());
}

void sha256finish(SHA256state* state, unsigned char* digest) {
    finish_with(state, digest, selected_compress());
}
