// Any message fed in any split through every backend gives the digest of one
// call with the portable backend, and every backend compresses message words
// like the bytes they stand for.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "sha256_internal.h"

using namespace mint::sha256_detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte picks how many split points follow; each split point is a
    // byte giving a piece length. The rest is the message.
    size_t splits = size > 0 ? data[0] % 8 : 0;
    if (size < 1 + splits) return 0;
    const uint8_t* lengths = data + 1;
    const uint8_t* message = data + 1 + splits;
    const size_t message_size = size - 1 - splits;

    unsigned char expected[32];
    SHA256state state;
    sha256init(&state);
    update_with(&state, message, static_cast<uint32_t>(message_size), compress_portable);
    finish_with(&state, expected, compress_portable);

    for (const backend& b : backends()) {
        if (!b.supported()) continue;
        sha256init(&state);
        size_t offset = 0;
        for (size_t i = 0; i < splits; ++i) {
            const size_t piece = std::min<size_t>(lengths[i], message_size - offset);
            update_with(&state, message + offset, static_cast<uint32_t>(piece), b.compress);
            offset += piece;
            FUZZ_CHECK(state.buffered_bytes >= 0 && state.buffered_bytes < 64);
            FUZZ_CHECK(state.compressed_bytes % 64 == 0);
            FUZZ_CHECK(static_cast<size_t>(state.compressed_bytes + state.buffered_bytes) == offset);
        }
        update_with(&state, message + offset, static_cast<uint32_t>(message_size - offset), b.compress);
        unsigned char digest[32];
        finish_with(&state, digest, b.compress);
        FUZZ_CHECK(std::memcmp(digest, expected, 32) == 0);
    }

    // Whole blocks given as message words compress like their bytes.
    const size_t blocks = message_size / 64;
    if (blocks > 0) {
        std::vector<uint32_t> words(16 * blocks);
        for (size_t i = 0; i < words.size(); ++i) words[i] = load_be32(message + 4 * i);
        uint32_t from_bytes[8];
        std::memcpy(from_bytes, initial_hash.data(), sizeof from_bytes);
        compress_portable(from_bytes, message, blocks);
        for (const backend& b : backends()) {
            if (!b.supported()) continue;
            uint32_t from_words[8];
            std::memcpy(from_words, initial_hash.data(), sizeof from_words);
            b.compress_words(from_words, words.data(), blocks);
            FUZZ_CHECK(std::memcmp(from_words, from_bytes, sizeof from_bytes) == 0);
        }
    }

    // The exported calls agree as well.
    std::vector<unsigned char> copy(message, message + message_size);
    unsigned char digest[32];
    sha256init(&state);
    sha256(&state, copy.data(), static_cast<uint32_t>(copy.size()));
    sha256finish(&state, digest);
    FUZZ_CHECK(std::memcmp(digest, expected, 32) == 0);
    return 0;
}
