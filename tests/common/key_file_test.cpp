// Reading the key file of keyed identifiers: what it accepts, the one line it
// prints for each fault, and the warning about loose permissions.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "key_file.h"
#include "test_support.h"
#include "uuid_keyed.h"

using mint_test::from_hex;
using mint_test::stdout_of;

namespace {

const std::string key64 = "7b9d7e32dfd43f365be501ab42424e46caeb516d3467649b686bb0b8dda50d7d";
const std::string key32 = "00112233445566778899aabbccddeeff";

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string digits(size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) text += "0123456789abcdef"[(i * 7) % 16];
    return text;
}

class KeyFile : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = testing::TempDir() + "mint_key_XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }

    void TearDown() override {
        for (const std::string& file : files_) unlink(file.c_str());
        rmdir(dir_.c_str());
    }

    // A new file holding `content` with exactly the permissions `mode`.
    std::string write_file(const std::string& name, const std::string& content, mode_t mode = 0600) {
        const std::string path = dir_ + "/" + std::to_string(files_.size()) + "-" + name;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        EXPECT_GE(fd, 0) << path;
        EXPECT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
        EXPECT_EQ(fchmod(fd, mode), 0);
        close(fd);
        files_.push_back(path);
        return path;
    }

    struct Reading {
        bool result = false;
        std::string errors;   // standard error
        std::string printed;  // standard output
        mint::uuid_key key{};
    };

    static Reading read(const std::string& path) {
        Reading r;
        std::memset(&r.key, 0xee, sizeof r.key);
        testing::internal::CaptureStderr();
        r.printed = stdout_of([&] { r.result = read_key_file(path.c_str(), &r.key); });
        r.errors = testing::internal::GetCapturedStderr();
        return r;
    }

    static mint::uuid_key key_of(const std::string& hex) {
        const std::vector<unsigned char> secret = from_hex(hex);
        mint::uuid_key key;
        mint::uuid_key_init(&key, secret.data(), secret.size());
        return key;
    }

    std::string dir_;
    std::vector<std::string> files_;
};

TEST_F(KeyFile, AcceptsHexInEitherCaseWithWhitespaceAnywhere) {
    struct Case {
        const char* name;
        std::string content;
        std::string secret;
    };
    const Case cases[] = {
        {"64 digits and a newline", key64 + "\n", key64},
        {"64 digits, no newline", key64, key64},
        {"upper case", upper(key64) + "\r\n", key64},
        {"mixed case", upper(key64.substr(0, 32)) + key64.substr(32), key64},
        {"32 digits", key32 + "\n", key32},
        {"whitespace everywhere", " \t" + key32.substr(0, 5) + "\r\n" + key32.substr(5, 20) + "  \n\n\t" +
                                      key32.substr(25) + "\r",
         key32},
        // Across the reader's buffer: whitespace first, a pair split.
        {"long whitespace", std::string(1000, ' ') + key32.substr(0, 1) + std::string(300, '\n') + key32.substr(1),
         key32},
        {"1024 digits", digits(1024) + "\n", digits(1024)},
    };
    for (const Case& c : cases) {
        const Reading r = read(write_file("key", c.content));
        EXPECT_TRUE(r.result) << c.name;
        EXPECT_EQ(r.errors, "") << c.name;
        EXPECT_EQ(r.printed, "") << c.name;
        const mint::uuid_key expected = key_of(c.secret);
        EXPECT_EQ(0, std::memcmp(&r.key, &expected, sizeof expected)) << c.name;
    }
}

TEST_F(KeyFile, RefusesWhatIsNotAKey) {
    struct Case {
        const char* name;
        std::string content;
        const char* why;
    };
    const char* const not_hex = "it holds a character other than hex digits and whitespace";
    const Case cases[] = {
        {"empty", "", "it is empty"},
        {"only whitespace", " \r\n\t\n", "it is empty"},
        {"30 digits", key32.substr(0, 30) + "\n", "it holds fewer than 32 hex digits"},
        {"31 digits", key32.substr(0, 31), "it holds an odd number of hex digits"},
        {"65 digits", key64 + "a", "it holds an odd number of hex digits"},
        {"a letter beyond f", key32.substr(0, 10) + "g" + key32.substr(11), not_hex},
        {"0x prefix", "0x" + key64, not_hex},
        {"colons", "00:11:22:33:44:55:66:77:88:99:aa:bb:cc:dd:ee:ff", not_hex},
        {"form feed", key32 + "\f", not_hex},
        {"zero byte", key32 + std::string(1, '\0'), not_hex},
        {"1025 digits", digits(1025), "it holds more than 1024 hex digits"},
        {"a megabyte of digits", digits(1 << 20), "it holds more than 1024 hex digits"},
    };
    for (const Case& c : cases) {
        const std::string path = write_file("key", c.content);
        const Reading r = read(path);
        EXPECT_FALSE(r.result) << c.name;
        EXPECT_EQ(r.errors, "Key file '" + path + "' is not a key: " + c.why + ".\n") << c.name;
        EXPECT_EQ(r.printed, "") << c.name;
    }
}

TEST_F(KeyFile, NamesAFileItCannotOpenOrRead) {
    const std::string missing = dir_ + "/missing.key";
    Reading r = read(missing);
    EXPECT_FALSE(r.result);
    EXPECT_EQ(r.errors, "Unable to open key file '" + missing + "'.\n");

    r = read(dir_);
    EXPECT_FALSE(r.result);
    EXPECT_EQ(r.errors, "Unable to read key file '" + dir_ + "'.\n");

    if (geteuid() != 0) {  // permissions do not stop root
        const std::string locked = write_file("locked.key", key64, 0);
        r = read(locked);
        EXPECT_FALSE(r.result);
        EXPECT_EQ(r.errors, "Unable to open key file '" + locked + "'.\n");
    }
}

TEST_F(KeyFile, WarnsWhenOthersMayReadOrWriteItAndStillUsesIt) {
    struct Case {
        mode_t mode;
        bool warns;
    };
    const Case cases[] = {
        {0600, false}, {0400, false}, {0700, false}, {0640, true},
        {0604, true},  {0620, true},  {0602, true},  {0644, true},
    };
    const mint::uuid_key expected = key_of(key64);
    for (const Case& c : cases) {
        const std::string path = write_file("key", key64 + "\n", c.mode);
        const Reading r = read(path);
        EXPECT_TRUE(r.result) << std::oct << c.mode;
        EXPECT_EQ(0, std::memcmp(&r.key, &expected, sizeof expected)) << std::oct << c.mode;
        EXPECT_EQ(r.errors, c.warns ? "Warning: key file '" + path +
                                          "' is open to other users; keep it to its owner (chmod 600).\n"
                                    : "")
            << std::oct << c.mode;
    }
    // A key file that is no key gives its error alone.
    const std::string path = write_file("short.key", key32.substr(0, 30), 0644);
    const Reading r = read(path);
    EXPECT_FALSE(r.result);
    EXPECT_EQ(r.errors, "Key file '" + path + "' is not a key: it holds fewer than 32 hex digits.\n");
}

// The holder of a program's key leaves nothing of it when it ends, though
// the compiler may drop stores to an object whose life is over. (The
// programs' memory as they end is looked through in key_wiping.sh.)
TEST_F(KeyFile, HeldKeyIsWipedWhenItEnds) {
    alignas(held_key) unsigned char storage[sizeof(held_key)];
    held_key* held = new (storage) held_key;
    ASSERT_TRUE(read_key_file(write_file("key", key64).c_str(), &held->key));
    const mint::uuid_key expected = key_of(key64);
    ASSERT_EQ(std::memcmp(&held->key, &expected, sizeof expected), 0);
    held->~held_key();
    for (const unsigned char byte : storage) ASSERT_EQ(byte, 0);
}

}  // namespace
