// SHA-256 compression with WebAssembly's 128-bit vectors, for the browser
// page's engine: two or four blocks at once, one in each of the vectors'
// lanes, so that every round's operations serve them all; the records
// mintbatch's converter derives together take little longer than one. Single
// blocks go the portable way. Compiled only for WebAssembly with SIMD.
#include "sha256_internal.h"

#if defined(__wasm_simd128__)
#include <wasm_simd128.h>

namespace mint::sha256_detail {

namespace {

inline v128_t rotr(v128_t x, int n) {
    return wasm_v128_or(wasm_u32x4_shr(x, n), wasm_i32x4_shl(x, 32 - n));
}
inline v128_t big_sigma0(v128_t x) { return wasm_v128_xor(wasm_v128_xor(rotr(x, 2), rotr(x, 13)), rotr(x, 22)); }
inline v128_t big_sigma1(v128_t x) { return wasm_v128_xor(wasm_v128_xor(rotr(x, 6), rotr(x, 11)), rotr(x, 25)); }
inline v128_t small_sigma0(v128_t x) {
    return wasm_v128_xor(wasm_v128_xor(rotr(x, 7), rotr(x, 18)), wasm_u32x4_shr(x, 3));
}
inline v128_t small_sigma1(v128_t x) {
    return wasm_v128_xor(wasm_v128_xor(rotr(x, 17), rotr(x, 19)), wasm_u32x4_shr(x, 10));
}
// (e & f) ^ (~e & g), as bitselect: f where e has a one, g elsewhere.
inline v128_t choose(v128_t e, v128_t f, v128_t g) { return wasm_v128_bitselect(f, g, e); }
// (a & b) ^ (a & c) ^ (b & c): where a and b agree, b; where they differ, c.
inline v128_t majority(v128_t a, v128_t b, v128_t c) { return wasm_v128_bitselect(c, b, wasm_v128_xor(a, b)); }

// The 64 rounds on the blocks in the vectors' lanes (up to four).
inline void compress_lanes(v128_t s[8], v128_t w[16]) {
    v128_t a = s[0], b = s[1], c = s[2], d = s[3], e = s[4], f = s[5], g = s[6], h = s[7];
    // Unrolled, the schedule's ring is indexed by constants and the round
    // constants are immediate.
#pragma clang loop unroll(full)
    for (int t = 0; t < 64; ++t) {
        if (t >= 16) {
            w[t & 15] = wasm_i32x4_add(wasm_i32x4_add(small_sigma1(w[(t - 2) & 15]), w[(t - 7) & 15]),
                                       wasm_i32x4_add(small_sigma0(w[(t - 15) & 15]), w[t & 15]));
        }
        const v128_t t1 = wasm_i32x4_add(wasm_i32x4_add(h, big_sigma1(e)),
                                         wasm_i32x4_add(wasm_i32x4_add(choose(e, f, g), wasm_i32x4_splat(
                                                                           static_cast<int>(round_constants[t]))),
                                                        w[t & 15]));
        const v128_t t2 = wasm_i32x4_add(big_sigma0(a), majority(a, b, c));
        h = g;
        g = f;
        f = e;
        e = wasm_i32x4_add(d, t1);
        d = c;
        c = b;
        b = a;
        a = wasm_i32x4_add(t1, t2);
    }
    const v128_t out[8] = {a, b, c, d, e, f, g, h};
    for (int i = 0; i < 8; ++i) s[i] = wasm_i32x4_add(s[i], out[i]);
}

}  // namespace

void compress_word_pair_wasm_simd(uint32_t hash_a[8], const uint32_t* words_a, uint32_t hash_b[8],
                                  const uint32_t* words_b) {
    v128_t w[16];
    for (int t = 0; t < 16; ++t) w[t] = wasm_u32x4_make(words_a[t], words_b[t], 0, 0);
    v128_t s[8];
    for (int i = 0; i < 8; ++i) s[i] = wasm_u32x4_make(hash_a[i], hash_b[i], 0, 0);
    compress_lanes(s, w);
    for (int i = 0; i < 8; ++i) {
        hash_a[i] = wasm_u32x4_extract_lane(s[i], 0);
        hash_b[i] = wasm_u32x4_extract_lane(s[i], 1);
    }
}

void compress_word_quad_wasm_simd(uint32_t* const hashes[4], const uint32_t* const words[4]) {
    v128_t w[16];
    for (int t = 0; t < 16; ++t) w[t] = wasm_u32x4_make(words[0][t], words[1][t], words[2][t], words[3][t]);
    v128_t s[8];
    for (int i = 0; i < 8; ++i) s[i] = wasm_u32x4_make(hashes[0][i], hashes[1][i], hashes[2][i], hashes[3][i]);
    compress_lanes(s, w);
    for (int i = 0; i < 8; ++i) {
        hashes[0][i] = wasm_u32x4_extract_lane(s[i], 0);
        hashes[1][i] = wasm_u32x4_extract_lane(s[i], 1);
        hashes[2][i] = wasm_u32x4_extract_lane(s[i], 2);
        hashes[3][i] = wasm_u32x4_extract_lane(s[i], 3);
    }
}

bool wasm_simd_supported() {
    return true;
}

}  // namespace mint::sha256_detail

#endif
