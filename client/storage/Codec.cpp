#include "client/storage/Codec.h"

#include <algorithm>
#include <cstring>

namespace storage {
namespace {
const uint8_t kPadding[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                              0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                              0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};
const int kIterations = 4001;
const uint32_t kSalt = 0x526D5671;

void PutLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

void CodecDeriveKey(const void* key, int nKey, uint8_t out[32]) {
    uint8_t buffer[32];
    int n = std::min(nKey, 32);
    if (n < 0 || !key) n = 0;
    if (n) std::memcpy(buffer, key, n);
    std::memcpy(buffer + n, kPadding, 32 - n);
    uint8_t digest[32];
    Sha256(buffer, 32, digest);
    for (int i = 0; i < kIterations; ++i) Sha256(digest, 32, digest);
    std::memcpy(out, digest, 32);
}

void CodecPageIV(uint32_t pgno, uint8_t out[16]) {
    int32_t z = static_cast<int32_t>(pgno + 1);
    uint8_t seed[16];
    for (int i = 0; i < 4; ++i) {
        // Schrage's method keeps 40692 * z mod 2147483399 inside 32 signed bits.
        int32_t k = z / 52774;
        z = 40692 * (z - 52774 * k) - 3791 * k;
        if (z < 0) z += 2147483399;
        PutLe32(seed + 4 * i, static_cast<uint32_t>(z));
    }
    Md5(seed, 16, out);
}

void CodecPageKey(const uint8_t baseKey[32], uint32_t pgno, uint8_t out[32]) {
    uint8_t buffer[40];
    std::memcpy(buffer, baseKey, 32);
    PutLe32(buffer + 32, pgno);
    PutLe32(buffer + 36, kSalt);
    Sha256(buffer, 40, out);
}

void CodecEncryptPage(Codec* codec, uint32_t pgno, uint8_t* data, int length, bool useWriteKey) {
    uint8_t key[32], iv[16];
    CodecPageKey(useWriteKey ? codec->writeKey : codec->readKey, pgno, key);
    CodecPageIV(pgno, iv);
    codec->aes.Init(AesCbc::kEncipher, key, iv);
    codec->aes.Encipher(data, static_cast<long>(length) * 8, data);
}

void CodecDecryptPage(Codec* codec, uint32_t pgno, uint8_t* data, int length) {
    uint8_t key[32], iv[16];
    CodecPageKey(codec->readKey, pgno, key);
    CodecPageIV(pgno, iv);
    codec->aes.Init(AesCbc::kDecipher, key, iv);
    codec->aes.Decipher(data, static_cast<long>(length) * 8, data);
}

void CodecCopy(Codec* target, const Codec* source) {
    target->encrypted = source->encrypted;
    target->hasReadKey = source->hasReadKey;
    target->hasWriteKey = source->hasWriteKey;
    std::memcpy(target->readKey, source->readKey, 32);
    std::memcpy(target->writeKey, source->writeKey, 32);
    target->aes.Reset();
}

}  // namespace storage
