// Picks the SHA-256 compression backend once, on first use.
#include "sha256_internal.h"

namespace mint::sha256_detail {

namespace {

bool always_supported() {
    return true;
}

constexpr backend all_backends[] = {
    {"portable", compress_portable, compress_words_portable, compress_word_pair_portable,
     compress_word_quad_by_pairs<compress_word_pair_portable>, always_supported},
#if defined(__wasm_simd128__)
    {"wasm-simd", compress_portable, compress_words_portable, compress_word_pair_wasm_simd,
     compress_word_quad_wasm_simd, wasm_simd_supported},
#endif
#if MINTCORE_HAVE_SHA_NI
    {"sha-ni", compress_sha_ni, compress_words_sha_ni, compress_word_pair_sha_ni,
     compress_word_quad_by_pairs<compress_word_pair_sha_ni>, sha_ni_supported},
#endif
};

const backend* detect() {
    const backend* best = &all_backends[0];
    for (const backend& b : all_backends) {
        if (b.supported()) best = &b;
    }
    return best;
}

}  // namespace

std::span<const backend> backends() {
    return all_backends;
}

const backend& selected_backend() {
    // Initialised on the first call, once and thread-safely; loading the
    // library runs nothing.
    static const backend* const selected = detect();
    return *selected;
}

compress_fn selected_compress() {
    return selected_backend().compress;
}

}  // namespace mint::sha256_detail
