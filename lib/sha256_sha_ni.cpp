// SHA-256 compression with the x86 SHA extensions.
#include "sha256_internal.h"

#if MINTCORE_HAVE_SHA_NI

#include <cpuid.h>
#include <immintrin.h>

namespace mint::sha256_detail {

bool sha_ni_supported() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool ssse3 = (ecx & bit_SSSE3) != 0;
    const bool sse41 = (ecx & bit_SSE4_1) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const bool sha = (ebx & bit_SHA) != 0;
    return ssse3 && sse41 && sha;
}

#define MINT_SHA_NI_TARGET __attribute__((target("sha,ssse3,sse4.1")))

namespace {

// The instructions keep the state as ABEF and CDGH.
MINT_SHA_NI_TARGET inline void load_state(const uint32_t hash_words[8], __m128i& abef, __m128i& cdgh) {
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hash_words));
    cdgh = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hash_words + 4));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);
    cdgh = _mm_shuffle_epi32(cdgh, 0x1B);
    abef = _mm_alignr_epi8(tmp, cdgh, 8);
    cdgh = _mm_blend_epi16(cdgh, tmp, 0xF0);
}

MINT_SHA_NI_TARGET inline void store_state(__m128i abef, __m128i cdgh, uint32_t hash_words[8]) {
    const __m128i tmp = _mm_shuffle_epi32(abef, 0x1B);
    cdgh = _mm_shuffle_epi32(cdgh, 0xB1);
    abef = _mm_blend_epi16(tmp, cdgh, 0xF0);
    cdgh = _mm_alignr_epi8(cdgh, tmp, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hash_words), abef);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(hash_words + 4), cdgh);
}

// Group i of the sixteen groups of four rounds of one block. The message
// schedule is a ring of four vectors: w[i & 3] holds words 4i..4i+3.
MINT_SHA_NI_TARGET inline void schedule(__m128i w[4], int i) {
    if (i >= 4) {
        const __m128i w_minus_7 = _mm_alignr_epi8(w[(i - 1) & 3], w[(i - 2) & 3], 4);
        __m128i next = _mm_sha256msg1_epu32(w[i & 3], w[(i - 3) & 3]);
        next = _mm_add_epi32(next, w_minus_7);
        w[i & 3] = _mm_sha256msg2_epu32(next, w[(i - 1) & 3]);
    }
}

MINT_SHA_NI_TARGET inline void four_rounds(__m128i& abef, __m128i& cdgh, const __m128i w[4], int i) {
    const auto* k = reinterpret_cast<const __m128i*>(round_constants.data());
    __m128i message = _mm_add_epi32(w[i & 3], _mm_load_si128(k + i));
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
    message = _mm_shuffle_epi32(message, 0x0E);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
}

// The 64 rounds of one block whose message words are w[0..3], four a vector.
MINT_SHA_NI_TARGET inline void compress_block(__m128i& abef, __m128i& cdgh, __m128i w[4]) {
    const __m128i abef_saved = abef;
    const __m128i cdgh_saved = cdgh;
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
        schedule(w, i);
        four_rounds(abef, cdgh, w, i);
    }
    abef = _mm_add_epi32(abef, abef_saved);
    cdgh = _mm_add_epi32(cdgh, cdgh_saved);
}

// Word by word: each load then matches the store that wrote the word, where
// one wide load over several fresh narrow stores would stall.
MINT_SHA_NI_TARGET inline void load_words(const uint32_t* words, __m128i w[4]) {
    for (int i = 0; i < 4; ++i) {
        w[i] = _mm_set_epi32(static_cast<int>(words[4 * i + 3]), static_cast<int>(words[4 * i + 2]),
                             static_cast<int>(words[4 * i + 1]), static_cast<int>(words[4 * i]));
    }
}

}  // namespace

MINT_SHA_NI_TARGET
void compress_sha_ni(uint32_t hash_words[8], const unsigned char* p, uint64_t blocks) {
    // Big-endian message words.
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i abef, cdgh;
    load_state(hash_words, abef, cdgh);
    for (; blocks > 0; --blocks, p += 64) {
        __m128i w[4];
        for (int i = 0; i < 4; ++i) {
            w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)), byte_swap);
        }
        compress_block(abef, cdgh, w);
    }
    store_state(abef, cdgh, hash_words);
}

MINT_SHA_NI_TARGET
void compress_words_sha_ni(uint32_t hash_words[8], const uint32_t* words, uint64_t blocks) {
    __m128i abef, cdgh;
    load_state(hash_words, abef, cdgh);
    for (; blocks > 0; --blocks, words += 16) {
        __m128i w[4];
        load_words(words, w);
        compress_block(abef, cdgh, w);
    }
    store_state(abef, cdgh, hash_words);
}

MINT_SHA_NI_TARGET
void compress_word_pair_sha_ni(uint32_t hash_a[8], const uint32_t* words_a, uint32_t hash_b[8],
                               const uint32_t* words_b) {
    __m128i abef_a, cdgh_a, abef_b, cdgh_b;
    load_state(hash_a, abef_a, cdgh_a);
    load_state(hash_b, abef_b, cdgh_b);
    __m128i w_a[4], w_b[4];
    load_words(words_a, w_a);
    load_words(words_b, w_b);
    const __m128i abef_a_saved = abef_a, cdgh_a_saved = cdgh_a;
    const __m128i abef_b_saved = abef_b, cdgh_b_saved = cdgh_b;
    // The two chains side by side, so that each fills the other's waits.
#pragma GCC unroll 16
    for (int i = 0; i < 16; ++i) {
        schedule(w_a, i);
        schedule(w_b, i);
        four_rounds(abef_a, cdgh_a, w_a, i);
        four_rounds(abef_b, cdgh_b, w_b, i);
    }
    store_state(_mm_add_epi32(abef_a, abef_a_saved), _mm_add_epi32(cdgh_a, cdgh_a_saved), hash_a);
    store_state(_mm_add_epi32(abef_b, abef_b_saved), _mm_add_epi32(cdgh_b, cdgh_b_saved), hash_b);
}

}  // namespace mint::sha256_detail

#endif
