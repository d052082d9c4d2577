// SHA-256 engine: NIST CAVP vectors, split feeding and the state record.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mintcore.h"
#include "test_support.h"

using mint_test::data_path;
using mint_test::from_hex;
using mint_test::to_hex;

namespace {

std::string digest_of(const std::vector<unsigned char>& message) {
    SHA256state state;
    sha256init(&state);
    sha256(&state, const_cast<unsigned char*>(message.data()), static_cast<uint32_t>(message.size()));
    unsigned char digest[32];
    sha256finish(&state, digest);
    return to_hex(digest, 32);
}

std::string digest_of(std::string_view text) {
    return digest_of(std::vector<unsigned char>(text.begin(), text.end()));
}

struct HashVector {
    std::vector<unsigned char> message;
    std::string digest;
};

// Reads the Len/Msg/MD triples of a CAVP response file.
std::vector<HashVector> read_vectors(const std::string& name) {
    std::ifstream in(data_path("sha256/" + name));
    EXPECT_TRUE(in) << name;
    std::vector<HashVector> vectors;
    std::string line;
    long bits = -1;
    std::vector<unsigned char> message;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Len = ", 0) == 0) {
            bits = std::stol(line.substr(6));
        } else if (line.rfind("Msg = ", 0) == 0) {
            message = from_hex(line.substr(6));
            message.resize(static_cast<size_t>(bits / 8));  // Len 0 lists the message as "00"
        } else if (line.rfind("MD = ", 0) == 0) {
            vectors.push_back({message, line.substr(5)});
        }
    }
    return vectors;
}

TEST(Sha256, ShortMessageVectors) {
    const auto vectors = read_vectors("SHA256ShortMsg.rsp");
    ASSERT_EQ(vectors.size(), 65u);
    for (const auto& v : vectors) {
        EXPECT_EQ(digest_of(v.message), v.digest) << "length " << v.message.size();
    }
}

TEST(Sha256, LongMessageVectors) {
    const auto vectors = read_vectors("SHA256LongMsg.rsp");
    ASSERT_EQ(vectors.size(), 64u);
    for (const auto& v : vectors) {
        EXPECT_EQ(digest_of(v.message), v.digest) << "length " << v.message.size();
    }
}

TEST(Sha256, MonteCarloVectors) {
    std::ifstream in(data_path("sha256/SHA256Monte.rsp"));
    ASSERT_TRUE(in);
    std::string line;
    std::vector<unsigned char> seed;
    std::vector<std::string> checkpoints;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("Seed = ", 0) == 0) seed = from_hex(line.substr(7));
        if (line.rfind("MD = ", 0) == 0) checkpoints.push_back(line.substr(5));
    }
    ASSERT_EQ(seed.size(), 32u);
    ASSERT_EQ(checkpoints.size(), 100u);
    for (const auto& expected : checkpoints) {
        std::array<std::array<unsigned char, 32>, 3> md;
        md.fill({});
        for (auto& m : md) std::memcpy(m.data(), seed.data(), 32);
        for (int i = 3; i < 1003; ++i) {
            unsigned char message[96];
            std::memcpy(message, md[0].data(), 32);
            std::memcpy(message + 32, md[1].data(), 32);
            std::memcpy(message + 64, md[2].data(), 32);
            SHA256state state;
            sha256init(&state);
            sha256(&state, message, 96);
            md[0] = md[1];
            md[1] = md[2];
            sha256finish(&state, md[2].data());
        }
        ASSERT_EQ(to_hex(md[2].data(), 32), expected);
        std::memcpy(seed.data(), md[2].data(), 32);
    }
}

TEST(Sha256, StandardSampleMessages) {
    EXPECT_EQ(digest_of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest_of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digest_of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest_of(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

std::vector<unsigned char> counting_bytes(size_t n) {
    std::vector<unsigned char> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
    return bytes;
}

TEST(Sha256, AnySplitGivesTheSameDigest) {
    struct Case {
        size_t total;
        std::vector<uint32_t> pieces;
    };
    const Case cases[] = {
        {200, {1, 62, 1, 64, 72}},
        {128, {0, 128, 0}},
        {64, {63, 1}},
        {64, {32, 0, 32}},
        {300, {5, 5, 5, 100, 0, 185}},
        {1, {0, 0, 1, 0}},
        {0, {0, 0}},
    };
    for (const auto& c : cases) {
        auto message = counting_bytes(c.total);
        SHA256state state;
        sha256init(&state);
        size_t offset = 0;
        for (uint32_t piece : c.pieces) {
            sha256(&state, message.data() + offset, piece);
            offset += piece;
        }
        ASSERT_EQ(offset, c.total);
        unsigned char digest[32];
        sha256finish(&state, digest);
        EXPECT_EQ(to_hex(digest, 32), digest_of(message)) << "total " << c.total;
    }

    std::mt19937 random(12345);
    for (int round = 0; round < 200; ++round) {
        const size_t total = random() % 700;
        auto message = counting_bytes(total);
        SHA256state state;
        sha256init(&state);
        size_t offset = 0;
        while (offset < total) {
            const size_t piece = std::min<size_t>(total - offset, random() % 150);
            sha256(&state, message.data() + offset, static_cast<uint32_t>(piece));
            offset += piece;
        }
        unsigned char digest[32];
        sha256finish(&state, digest);
        ASSERT_EQ(to_hex(digest, 32), digest_of(message)) << "total " << total;
    }
}

// How many bytes sha256finish compresses for a message of each length.
TEST(Sha256, FinishCompressesTheExpectedTrailer) {
    struct Case {
        size_t length;
        int64_t compressed_before_finish;
        int64_t compressed_after_finish;
    };
    const Case cases[] = {{0, 0, 64}, {1, 0, 64}, {55, 0, 64}, {56, 0, 128},
                          {63, 0, 128}, {64, 64, 128}, {65, 64, 128}, {119, 64, 128}, {120, 64, 192}};
    for (const auto& c : cases) {
        auto message = counting_bytes(c.length);
        SHA256state state;
        sha256init(&state);
        sha256(&state, message.data(), static_cast<uint32_t>(c.length));
        EXPECT_EQ(state.compressed_bytes, c.compressed_before_finish) << c.length;
        EXPECT_EQ(state.buffered_bytes, static_cast<int64_t>(c.length % 64)) << c.length;
        unsigned char digest[32];
        sha256finish(&state, digest);
        EXPECT_EQ(state.compressed_bytes, c.compressed_after_finish) << c.length;
        EXPECT_EQ(state.buffered_bytes, 0) << c.length;
    }
}

TEST(Sha256, ZeroLengthCallChangesNothing) {
    auto message = counting_bytes(40);
    SHA256state state;
    std::memset(&state, 0x5A, sizeof state);
    sha256init(&state);
    sha256(&state, message.data(), 40);
    SHA256state before;
    std::memcpy(&before, &state, sizeof state);
    sha256(&state, nullptr, 0);
    sha256(&state, message.data(), 0);
    EXPECT_EQ(std::memcmp(&before, &state, sizeof state), 0);
}

TEST(Sha256, FlushedBlockIsZeroed) {
    auto message = counting_bytes(200);
    SHA256state state;
    sha256init(&state);
    sha256(&state, message.data(), 10);
    sha256(&state, message.data() + 10, 54);  // completes the block exactly
    EXPECT_EQ(state.buffered_bytes, 0);
    EXPECT_EQ(state.compressed_bytes, 64);
    for (unsigned char byte : state.block) ASSERT_EQ(byte, 0);

    sha256(&state, message.data() + 64, 10);
    sha256(&state, message.data() + 74, 60);  // flush, then 6 bytes copied in
    EXPECT_EQ(state.buffered_bytes, 6);
    EXPECT_EQ(std::memcmp(state.block, message.data() + 128, 6), 0);
    for (size_t i = 6; i < 64; ++i) ASSERT_EQ(state.block[i], 0) << i;
}

TEST(Sha256, HashWordsHoldTheDigestAfterFinish) {
    auto message = counting_bytes(77);
    SHA256state state;
    sha256init(&state);
    sha256(&state, message.data(), 77);
    unsigned char digest[32];
    sha256finish(&state, digest);
    for (int i = 0; i < 8; ++i) {
        const uint32_t word = (uint32_t{digest[4 * i]} << 24) | (uint32_t{digest[4 * i + 1]} << 16) |
                              (uint32_t{digest[4 * i + 2]} << 8) | digest[4 * i + 3];
        EXPECT_EQ(state.hash_words[i], word) << i;
    }
}

TEST(Sha256, InitStartsAFreshMessage) {
    auto message = counting_bytes(100);
    SHA256state state;
    sha256init(&state);
    sha256(&state, message.data(), 100);
    unsigned char digest[32];
    sha256finish(&state, digest);
    sha256init(&state);
    sha256(&state, message.data(), 3);
    sha256finish(&state, digest);
    EXPECT_EQ(to_hex(digest, 32), digest_of(std::vector<unsigned char>(message.begin(), message.begin() + 3)));
}

}  // namespace
