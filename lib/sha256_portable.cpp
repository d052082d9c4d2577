// Portable SHA-256 compression: the reference every other backend must match.
#include <bit>

#include "sha256_internal.h"

namespace mint::sha256_detail {

namespace {

constexpr uint32_t big_sigma0(uint32_t x) { return std::rotr(x, 2) ^ std::rotr(x, 13) ^ std::rotr(x, 22); }
constexpr uint32_t big_sigma1(uint32_t x) { return std::rotr(x, 6) ^ std::rotr(x, 11) ^ std::rotr(x, 25); }
constexpr uint32_t small_sigma0(uint32_t x) { return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3); }
constexpr uint32_t small_sigma1(uint32_t x) { return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10); }
constexpr uint32_t choose(uint32_t e, uint32_t f, uint32_t g) { return (e & f) ^ (~e & g); }
constexpr uint32_t majority(uint32_t a, uint32_t b, uint32_t c) { return (a & b) ^ (a & c) ^ (b & c); }

// Compresses one block given as its sixteen message words.
void compress_block(uint32_t hash_words[8], const uint32_t* message) {
    // The message schedule is kept as a ring of 32 words indexed by t mod 32.
    uint32_t w[32];
    for (int t = 0; t < 16; ++t) {
        w[t] = message[t];
    }
    uint32_t a = hash_words[0], b = hash_words[1], c = hash_words[2], d = hash_words[3];
    uint32_t e = hash_words[4], f = hash_words[5], g = hash_words[6], h = hash_words[7];
    for (int t = 0; t < 64; ++t) {
        if (t >= 16) {
            w[t & 31] = small_sigma1(w[(t - 2) & 31]) + w[(t - 7) & 31] +
                        small_sigma0(w[(t - 15) & 31]) + w[(t - 16) & 31];
        }
        const uint32_t t1 = h + big_sigma1(e) + choose(e, f, g) + round_constants[t] + w[t & 31];
        const uint32_t t2 = big_sigma0(a) + majority(a, b, c);
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    hash_words[0] += a;
    hash_words[1] += b;
    hash_words[2] += c;
    hash_words[3] += d;
    hash_words[4] += e;
    hash_words[5] += f;
    hash_words[6] += g;
    hash_words[7] += h;
}

}  // namespace

void compress_portable(uint32_t hash_words[8], const unsigned char* p, uint64_t blocks) {
    for (; blocks > 0; --blocks, p += 64) {
        uint32_t message[16];
        for (int t = 0; t < 16; ++t) {
            message[t] = load_be32(p + 4 * t);
        }
        compress_block(hash_words, message);
    }
}

void compress_words_portable(uint32_t hash_words[8], const uint32_t* words, uint64_t blocks) {
    for (; blocks > 0; --blocks, words += 16) {
        compress_block(hash_words, words);
    }
}

void compress_word_pair_portable(uint32_t hash_a[8], const uint32_t* words_a, uint32_t hash_b[8],
                                 const uint32_t* words_b) {
    compress_block(hash_a, words_a);
    compress_block(hash_b, words_b);
}

}  // namespace mint::sha256_detail
