#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/storage/Crypto.h"
#include "tests/support/StorageTestUtil.h"

using storage::AesCbc;
using storage_test::Hex;
using storage_test::Unhex;

TEST(Digest, KnownAnswers) {
    const std::string million(1000000, 'a');
    struct Case {
        std::string input, sha256, md5;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f7846f55cf23e14eebeab5b4e1550cad5b509e3348fbc4efa3a1413d393cb650",
         "f96b697d7cb7938d525a2f31aaf161d0"},
        // 56 bytes: the padding spills into a second block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1", "8215ef0796a20bcaaae116d3876c664a"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "f371bc4a311f2b009eef952dd83ca80e2b60026c8e935592d0f9c308453c813e", "57edf4a22be3c955ac49da2e2107b67a"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
         "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const Case& c : cases) {
        uint8_t sha[32], md5[16];
        storage::Sha256(c.input.data(), c.input.size(), sha);
        storage::Md5(c.input.data(), c.input.size(), md5);
        EXPECT_EQ(Hex(sha, 32), c.sha256) << c.input.substr(0, 20);
        EXPECT_EQ(Hex(md5, 16), c.md5) << c.input.substr(0, 20);
    }
}

TEST(Aes256Cbc, KnownAnswersBothWays) {
    struct Case {
        const char *key, *iv, *plain, *cipher;
    } cases[] = {
        // Single block with a zero chaining value: the cipher itself.
        {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", "00000000000000000000000000000000",
         "00112233445566778899aabbccddeeff", "8ea2b7ca516745bfeafc49904b496089"},
        // Four chained blocks.
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", "000102030405060708090a0b0c0d0e0f",
         "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9"
         "b17ad2b417be66c3710",
         "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be"
         "9fcda6c19078c6a9d1b"},
    };
    for (const Case& c : cases) {
        auto key = Unhex(c.key), iv = Unhex(c.iv), plain = Unhex(c.plain), cipher = Unhex(c.cipher);
        std::vector<uint8_t> out(plain.size());
        AesCbc aes;
        ASSERT_EQ(aes.Init(AesCbc::kEncipher, key.data(), iv.data()), 0);
        EXPECT_EQ(aes.Encipher(plain.data(), long(plain.size() * 8), out.data()), int(plain.size() * 8));
        EXPECT_EQ(Hex(out.data(), out.size()), c.cipher);
        ASSERT_EQ(aes.Init(AesCbc::kDecipher, key.data(), iv.data()), 0);
        // In place, as the codec uses it.
        EXPECT_EQ(aes.Decipher(cipher.data(), long(cipher.size() * 8), cipher.data()), int(cipher.size() * 8));
        EXPECT_EQ(Hex(cipher.data(), cipher.size()), c.plain);
    }
}

TEST(Aes256Cbc, AnswerCodes) {
    uint8_t key[32] = {}, iv[16] = {}, block[16] = {};
    AesCbc aes;
    EXPECT_EQ(aes.Encipher(block, 128, block), -5);
    EXPECT_EQ(aes.Init(7, key, iv), -2);
    EXPECT_EQ(aes.Init(AesCbc::kEncipher, nullptr, iv), -4);
    ASSERT_EQ(aes.Init(AesCbc::kEncipher, key, iv), 0);
    EXPECT_EQ(aes.Decipher(block, 128, block), -6);
    EXPECT_EQ(aes.Encipher(block, 0, block), 0);
}
