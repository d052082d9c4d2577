// Picks the SHA-256 compression backend.
#include "sha256_internal.h"

namespace mint::sha256_detail {

void sha256_transform(SHA256state* state, const unsigned char* p, uint64_t blocks) {
    compress_portable(state->hash_words, p, blocks);
    state->compressed_bytes += static_cast<int64_t>(64 * blocks);
}

}  // namespace mint::sha256_detail
