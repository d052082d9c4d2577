// Internal pieces of the SHA-256 engine shared by its front end and backends.
#ifndef MINTCORE_SHA256_INTERNAL_H
#define MINTCORE_SHA256_INTERNAL_H

#include <array>
#include <cstdint>
#include <cstring>
#include <span>

#include "mintcore.h"

namespace mint::sha256_detail {

constexpr std::array<uint32_t, 8> initial_hash = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
    0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

alignas(16) constexpr std::array<uint32_t, 64> round_constants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

inline uint32_t load_be32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline void store_be32(uint32_t value, unsigned char* p) {
    p[0] = static_cast<unsigned char>(value >> 24);
    p[1] = static_cast<unsigned char>(value >> 16);
    p[2] = static_cast<unsigned char>(value >> 8);
    p[3] = static_cast<unsigned char>(value);
}

inline void store_be64(uint64_t value, unsigned char* p) {
    store_be32(static_cast<uint32_t>(value >> 32), p);
    store_be32(static_cast<uint32_t>(value), p + 4);
}

// A backend compresses `blocks` consecutive 64-byte blocks at p into
// hash_words and touches nothing else.
using compress_fn = void (*)(uint32_t hash_words[8], const unsigned char* p, uint64_t blocks);

// The same for blocks given as message words (16 a block, each the value of
// four message bytes read big-endian): for messages built from numbers.
using compress_words_fn = void (*)(uint32_t hash_words[8], const uint32_t* words, uint64_t blocks);

// Two independent one-block compressions, of (hash_a, words_a) and (hash_b,
// words_b), at once: a backend can overlap their rounds, where one chain of
// rounds waits on itself.
using compress_word_pair_fn = void (*)(uint32_t hash_a[8], const uint32_t* words_a, uint32_t hash_b[8],
                                       const uint32_t* words_b);

// Four independent one-block compressions at once, of (hashes[i], words[i]):
// for a backend whose vectors hold four words, where pairs leave half idle.
using compress_word_quad_fn = void (*)(uint32_t* const hashes[4], const uint32_t* const words[4]);

struct backend {
    const char* name;
    compress_fn compress;
    compress_words_fn compress_words;
    compress_word_pair_fn compress_word_pair;
    compress_word_quad_fn compress_word_quad;
    bool (*supported)();  // whether this CPU can run it
};

// The reference backend; it runs on every CPU.
void compress_portable(uint32_t hash_words[8], const unsigned char* p, uint64_t blocks);
void compress_words_portable(uint32_t hash_words[8], const uint32_t* words, uint64_t blocks);
void compress_word_pair_portable(uint32_t hash_a[8], const uint32_t* words_a, uint32_t hash_b[8],
                                 const uint32_t* words_b);

// Four compressions as two pairs, for backends without a four-way one.
template <compress_word_pair_fn Pair>
void compress_word_quad_by_pairs(uint32_t* const hashes[4], const uint32_t* const words[4]) {
    Pair(hashes[0], words[0], hashes[1], words[1]);
    Pair(hashes[2], words[2], hashes[3], words[3]);
}

#if MINTCORE_HAVE_SHA_NI
// x86 SHA extensions.
void compress_sha_ni(uint32_t hash_words[8], const unsigned char* p, uint64_t blocks);
void compress_words_sha_ni(uint32_t hash_words[8], const uint32_t* words, uint64_t blocks);
void compress_word_pair_sha_ni(uint32_t hash_a[8], const uint32_t* words_a, uint32_t hash_b[8],
                               const uint32_t* words_b);
bool sha_ni_supported();
#endif

#if defined(__wasm_simd128__)
// WebAssembly's 128-bit vectors (the browser page's engine): pairs and
// fours, one block in each lane.
void compress_word_pair_wasm_simd(uint32_t hash_a[8], const uint32_t* words_a, uint32_t hash_b[8],
                                  const uint32_t* words_b);
void compress_word_quad_wasm_simd(uint32_t* const hashes[4], const uint32_t* const words[4]);
bool wasm_simd_supported();
#endif

// Every backend built into the library, the portable one first.
std::span<const backend> backends();

// The fastest backend this CPU supports, chosen on first use.
const backend& selected_backend();
compress_fn selected_compress();

// The streaming engine with an explicit backend; the exported sha256 and
// sha256finish use selected_compress(). Tests use these to force a backend.
void update_with(SHA256state* state, const unsigned char* data, uint32_t length, compress_fn compress);
void finish_with(SHA256state* state, unsigned char* digest, compress_fn compress);

// The digest, as hash words, of a message given as whole padded blocks of
// message words (padding and bit length included by the caller).
template <size_t Blocks>
void digest_words_with(const uint32_t (&words)[16 * Blocks], uint32_t (&hash)[8], compress_words_fn compress) {
    std::memcpy(hash, initial_hash.data(), sizeof hash);
    compress(hash, words, Blocks);
}

template <size_t Blocks>
void digest_words(const uint32_t (&words)[16 * Blocks], uint32_t (&hash)[8]) {
    digest_words_with<Blocks>(words, hash, selected_backend().compress_words);
}

}  // namespace mint::sha256_detail

#endif
