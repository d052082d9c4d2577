// Every SHA-256 backend built into the library, forced one at a time: the
// NIST vectors and random messages in random splits must give the reference
// digests.
#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <utility>
#include <random>
#include <string>
#include <vector>

#include "sha256_internal.h"
#include "test_support.h"

using namespace mint::sha256_detail;
using mint_test::data_path;
using mint_test::from_hex;
using mint_test::to_hex;

namespace {

std::string digest_with(compress_fn compress, const std::vector<unsigned char>& message,
                        const std::vector<size_t>& pieces = {}) {
    SHA256state state;
    sha256init(&state);
    size_t offset = 0;
    for (size_t piece : pieces) {
        update_with(&state, message.data() + offset, static_cast<uint32_t>(piece), compress);
        offset += piece;
    }
    update_with(&state, message.data() + offset, static_cast<uint32_t>(message.size() - offset), compress);
    unsigned char digest[32];
    finish_with(&state, digest, compress);
    return to_hex(digest, 32);
}

class Backend : public testing::TestWithParam<backend> {
protected:
    void SetUp() override {
        if (!GetParam().supported()) GTEST_SKIP() << GetParam().name << " is not supported by this CPU";
    }
};

TEST_P(Backend, NistVectors) {
    for (const char* file : {"SHA256ShortMsg.rsp", "SHA256LongMsg.rsp"}) {
        std::ifstream in(data_path(std::string("sha256/") + file));
        ASSERT_TRUE(in) << file;
        std::string line;
        long bits = 0;
        std::vector<unsigned char> message;
        int checked = 0;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("Len = ", 0) == 0) bits = std::stol(line.substr(6));
            if (line.rfind("Msg = ", 0) == 0) {
                message = from_hex(line.substr(6));
                message.resize(static_cast<size_t>(bits / 8));
            }
            if (line.rfind("MD = ", 0) == 0) {
                EXPECT_EQ(digest_with(GetParam().compress, message), line.substr(5)) << file << " " << bits;
                ++checked;
            }
        }
        EXPECT_GT(checked, 60) << file;
    }
}

TEST_P(Backend, MatchesThePortableBackendOnRandomMessages) {
    std::mt19937_64 random(0x5eed);
    for (int round = 0; round < 300; ++round) {
        std::vector<unsigned char> message(random() % 2000);
        for (auto& byte : message) byte = static_cast<unsigned char>(random());
        std::vector<size_t> pieces;
        size_t offset = 0;
        while (offset < message.size() && random() % 4 != 0) {
            const size_t piece = std::min<size_t>(message.size() - offset, random() % 300);
            pieces.push_back(piece);
            offset += piece;
        }
        ASSERT_EQ(digest_with(GetParam().compress, message, pieces), digest_with(compress_portable, message))
            << "round " << round;
    }
}

TEST_P(Backend, CompressesManyBlocksInOneCall) {
    std::vector<unsigned char> blocks(64 * 9);
    for (size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<unsigned char>(i * 31);
    uint32_t one_call[8];
    uint32_t block_by_block[8];
    for (int i = 0; i < 8; ++i) one_call[i] = block_by_block[i] = initial_hash[i];
    GetParam().compress(one_call, blocks.data(), 9);
    for (int b = 0; b < 9; ++b) compress_portable(block_by_block, blocks.data() + 64 * b, 1);
    EXPECT_EQ(std::vector<uint32_t>(one_call, one_call + 8), std::vector<uint32_t>(block_by_block, block_by_block + 8));
}

// The one-call digest of short messages agrees with the streaming engine for
// every length it takes, across the one- and two-block boundary.
template <size_t... Lengths>
constexpr auto short_digests(std::index_sequence<Lengths...>) {
    return std::array<void (*)(const unsigned char*, unsigned char*, compress_fn), sizeof...(Lengths)>{
        digest_short_with<Lengths>...};
}

TEST_P(Backend, ShortMessageDigestMatchesStreaming) {
    constexpr auto by_length = short_digests(std::make_index_sequence<short_message_limit + 1>());
    std::vector<unsigned char> message(short_message_limit);
    for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<unsigned char>(i * 13 + 5);
    for (size_t length = 0; length <= short_message_limit; ++length) {
        const std::vector<unsigned char> prefix(message.begin(), message.begin() + static_cast<long>(length));
        unsigned char digest[32];
        by_length[length](message.data(), digest, GetParam().compress);
        ASSERT_EQ(to_hex(digest, 32), digest_with(compress_portable, prefix)) << "length " << length;
    }
}

INSTANTIATE_TEST_SUITE_P(AllBuilt, Backend, testing::ValuesIn(backends().begin(), backends().end()),
                         [](const testing::TestParamInfo<backend>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

TEST(BackendSelection, PicksASupportedBackendAndKeepsIt) {
    const compress_fn selected = selected_compress();
    bool listed = false;
    for (const backend& b : backends()) {
        if (b.compress == selected) {
            listed = true;
            EXPECT_TRUE(b.supported()) << b.name;
        }
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(selected_compress(), selected);
#if MINTCORE_HAVE_SHA_NI
    if (sha_ni_supported()) {
        EXPECT_EQ(selected, compress_sha_ni);
    }
#endif
}

}  // namespace
