// Picks the SHA-256 compression backend once, on first use.
#include "sha256_internal.h"

namespace mint::sha256_detail {

namespace {

bool always_supported() {
    return true;
}

constexpr backend all_backends[] = {
    {"portable", compress_portable, always_supported},
#if MINTCORE_HAVE_SHA_NI
    {"sha-ni", compress_sha_ni, sha_ni_supported},
#endif
};

compress_fn detect() {
    compress_fn best = compress_portable;
    for (const backend& b : all_backends) {
        if (b.supported()) best = b.compress;
    }
    return best;
}

}  // namespace

std::span<const backend> backends() {
    return all_backends;
}

compress_fn selected_compress() {
    // Initialised on the first call, once and thread-safely; loading the
    // library runs nothing.
    static const compress_fn selected = detect();
    return selected;
}

}  // namespace mint::sha256_detail
