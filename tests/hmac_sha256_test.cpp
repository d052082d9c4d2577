// HMAC-SHA-256 through every SHA-256 backend, forced one at a time: the
// RFC 4231 test vectors, and keys and messages at the block boundaries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hmac_sha256.h"
#include "sha256_internal.h"
#include "test_support.h"

using namespace mint::sha256_detail;
using mint_test::from_hex;
using mint_test::to_hex;

namespace {

struct mac_case {
    const char* name;
    std::string key_hex;
    std::string message_hex;
    std::string mac_hex;  // as many leading bytes as the case checks
};

std::string hex_of(const std::string& text) {
    return to_hex(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

std::string repeated(const char* byte_hex, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += byte_hex;
    return text;
}

std::string counting(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(i);
        text += to_hex(&byte, 1);
    }
    return text;
}

const std::vector<mac_case>& rfc4231_cases() {
    static const std::vector<mac_case> cases = {
        {"case 1", repeated("0b", 20), hex_of("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {"case 2", hex_of("Jefe"), hex_of("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {"case 3", repeated("aa", 20), repeated("dd", 50),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {"case 4", "0102030405060708090a0b0c0d0e0f10111213141516171819", repeated("cd", 50),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        // Case 5 gives only the first 128 bits.
        {"case 5", repeated("0c", 20), hex_of("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
        {"case 6", repeated("aa", 131), hex_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {"case 7", repeated("aa", 131),
         hex_of("This is a test using a larger than block-size key and a larger than block-size data. The key "
                "needs to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
    return cases;
}

// Computed with Python's hmac module: a key of exactly one block is used as
// it is, one byte more is hashed first; messages around the padding limits.
const std::vector<mac_case>& boundary_cases() {
    static const std::vector<mac_case> cases = {
        {"64-byte key, empty message", counting(64), "",
         "3499f163f48604c0b15ac89e4e7c66f314fb3b203b8ac2f564828e62f6be9d9d"},
        {"64-byte key, 55 bytes", counting(64), repeated("61", 55),
         "9b5169bed02434ee54cff1147388169500f7242400ec15761a0d29a2ebed4091"},
        {"64-byte key, 56 bytes", counting(64), repeated("61", 56),
         "d7935e7c5fbbf3127caea658f45d6ad19ba98c6d0d746f6152c173a5bdd2d3bd"},
        {"64-byte key, 119 bytes", counting(64), repeated("61", 119),
         "bb900b9a01c3463c043d6e9c02c75a5d1e55034cd53f62e494cedd01531766d2"},
        {"65-byte key, empty message", counting(65), "",
         "93ff3114f20ef700222fc1c0334737a51a88740dc0dd2ce0ab3151f0a4a0e85a"},
    };
    return cases;
}

std::string mac_with(compress_fn compress, const mac_case& c) {
    const std::vector<unsigned char> key_bytes = from_hex(c.key_hex);
    const std::vector<unsigned char> message = from_hex(c.message_hex);
    mint::hmac_sha256_key key;
    mint::hmac_sha256_init_with(&key, key_bytes.data(), key_bytes.size(), compress);
    unsigned char mac[mint::hmac_sha256_mac_bytes];
    std::memset(mac, 0xee, sizeof mac);
    mint::hmac_sha256_with(&key, message.data(), message.size(), mac, compress);
    return to_hex(mac, c.mac_hex.size() / 2);
}

class HmacBackend : public testing::TestWithParam<backend> {
protected:
    void SetUp() override {
        if (!GetParam().supported()) GTEST_SKIP() << GetParam().name << " is not supported by this CPU";
    }
};

TEST_P(HmacBackend, Rfc4231Vectors) {
    for (const mac_case& c : rfc4231_cases()) {
        EXPECT_EQ(mac_with(GetParam().compress, c), c.mac_hex) << c.name;
    }
}

TEST_P(HmacBackend, KeysAndMessagesAtBlockBoundaries) {
    for (const mac_case& c : boundary_cases()) {
        EXPECT_EQ(mac_with(GetParam().compress, c), c.mac_hex) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(AllBuilt, HmacBackend, testing::ValuesIn(backends().begin(), backends().end()),
                         [](const testing::TestParamInfo<backend>& info) {
                             std::string name = info.param.name;
                             for (char& c : name) {
                                 if (c == '-') c = '_';
                             }
                             return name;
                         });

// The calls without a backend use the selected one.
TEST(Hmac, DefaultBackendGivesTheVectors) {
    const mac_case& c = rfc4231_cases()[1];
    const std::vector<unsigned char> key_bytes = from_hex(c.key_hex);
    const std::vector<unsigned char> message = from_hex(c.message_hex);
    mint::hmac_sha256_key key;
    mint::hmac_sha256_init(&key, key_bytes.data(), key_bytes.size());
    unsigned char mac[mint::hmac_sha256_mac_bytes];
    mint::hmac_sha256(&key, message.data(), message.size(), mac);
    EXPECT_EQ(to_hex(mac, sizeof mac), c.mac_hex);
}

}  // namespace
