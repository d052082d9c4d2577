// Every SHA-256 backend built into the library, forced one at a time: the
// NIST vectors and random messages in random splits must give the reference
// digests.
#include <gtest/gtest.h>

#include <fstream>
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

// Blocks given as message words compress exactly like the same bytes.
TEST_P(Backend, WordsCompressLikeTheirBytes) {
    std::mt19937_64 random(77);
    for (uint64_t blocks = 1; blocks <= 3; ++blocks) {
        for (int round = 0; round < 50; ++round) {
            std::vector<unsigned char> bytes(64 * blocks);
            for (auto& byte : bytes) byte = static_cast<unsigned char>(random());
            std::vector<uint32_t> words(16 * blocks);
            for (size_t i = 0; i < words.size(); ++i) {
                words[i] = (uint32_t{bytes[4 * i]} << 24) | (uint32_t{bytes[4 * i + 1]} << 16) |
                           (uint32_t{bytes[4 * i + 2]} << 8) | bytes[4 * i + 3];
            }
            uint32_t from_bytes[8];
            uint32_t from_words[8];
            for (int i = 0; i < 8; ++i) from_bytes[i] = from_words[i] = initial_hash[i] ^ static_cast<uint32_t>(round);
            compress_portable(from_bytes, bytes.data(), blocks);
            GetParam().compress_words(from_words, words.data(), blocks);
            ASSERT_EQ(std::vector<uint32_t>(from_words, from_words + 8),
                      std::vector<uint32_t>(from_bytes, from_bytes + 8))
                << blocks << " blocks, round " << round;
        }
    }
}

// Two blocks compressed side by side come out as each would alone, from
// different chaining values, and also when both lanes share their input.
TEST_P(Backend, PairCompressesEachLaneAlone) {
    std::mt19937_64 random(91);
    for (int round = 0; round < 100; ++round) {
        uint32_t words_a[16];
        uint32_t words_b[16];
        uint32_t hash_a[8];
        uint32_t hash_b[8];
        for (auto& w : words_a) w = static_cast<uint32_t>(random());
        for (auto& w : words_b) w = static_cast<uint32_t>(random());
        for (auto& h : hash_a) h = static_cast<uint32_t>(random());
        for (auto& h : hash_b) h = static_cast<uint32_t>(random());
        const bool same_input = round % 10 == 0;
        const uint32_t* lane_b_words = same_input ? words_a : words_b;
        if (same_input) std::memcpy(hash_b, hash_a, sizeof hash_b);

        uint32_t alone_a[8];
        uint32_t alone_b[8];
        std::memcpy(alone_a, hash_a, sizeof alone_a);
        std::memcpy(alone_b, hash_b, sizeof alone_b);
        compress_words_portable(alone_a, words_a, 1);
        compress_words_portable(alone_b, lane_b_words, 1);

        GetParam().compress_word_pair(hash_a, words_a, hash_b, lane_b_words);
        ASSERT_EQ(std::vector<uint32_t>(hash_a, hash_a + 8), std::vector<uint32_t>(alone_a, alone_a + 8))
            << "lane a, round " << round;
        ASSERT_EQ(std::vector<uint32_t>(hash_b, hash_b + 8), std::vector<uint32_t>(alone_b, alone_b + 8))
            << "lane b, round " << round;
    }
}

// Four blocks compressed at once come out as each would alone, from
// different chaining values, and also when lanes share their input.
TEST_P(Backend, QuadCompressesEachLaneAlone) {
    std::mt19937_64 random(93);
    for (int round = 0; round < 100; ++round) {
        uint32_t words[4][16];
        uint32_t hash[4][8];
        for (auto& lane : words) for (auto& w : lane) w = static_cast<uint32_t>(random());
        for (auto& lane : hash) for (auto& h : lane) h = static_cast<uint32_t>(random());
        if (round % 10 == 0) {
            std::memcpy(words[3], words[0], sizeof words[3]);
            std::memcpy(hash[3], hash[0], sizeof hash[3]);
        }
        uint32_t alone[4][8];
        std::memcpy(alone, hash, sizeof alone);
        for (int lane = 0; lane < 4; ++lane) compress_words_portable(alone[lane], words[lane], 1);

        uint32_t* const hashes[4] = {hash[0], hash[1], hash[2], hash[3]};
        const uint32_t* const lanes[4] = {words[0], words[1], words[2], words[3]};
        GetParam().compress_word_quad(hashes, lanes);
        for (int lane = 0; lane < 4; ++lane) {
            ASSERT_EQ(std::vector<uint32_t>(hash[lane], hash[lane] + 8), std::vector<uint32_t>(alone[lane], alone[lane] + 8))
                << "lane " << lane << ", round " << round;
        }
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
    const backend& selected = selected_backend();
    bool listed = false;
    for (const backend& b : backends()) {
        if (&b == &selected) {
            listed = true;
            EXPECT_TRUE(b.supported()) << b.name;
        }
    }
    EXPECT_TRUE(listed);
    EXPECT_EQ(&selected_backend(), &selected);
    EXPECT_EQ(selected_compress(), selected.compress);
#if MINTCORE_HAVE_SHA_NI
    if (sha_ni_supported()) {
        EXPECT_EQ(selected.compress, compress_sha_ni);
    }
#endif
}

}  // namespace
