// Page codec of the local database: key derivation and the per-page AES-256-CBC transform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/storage/Crypto.h"

namespace storage {

struct Codec {
    bool encrypted = false;
    bool hasReadKey = false;
    bool hasWriteKey = false;
    uint8_t readKey[32] = {};
    uint8_t writeKey[32] = {};
    AesCbc aes;
    // Holds the enciphered copy of a page on its way out; grown to the page size in use.
    std::vector<uint8_t> pageBuffer;
};

void CodecDeriveKey(const void* key, int nKey, uint8_t out[32]);
void CodecPageIV(uint32_t pgno, uint8_t out[16]);
void CodecPageKey(const uint8_t baseKey[32], uint32_t pgno, uint8_t out[32]);
void CodecEncryptPage(Codec* codec, uint32_t pgno, uint8_t* data, int length, bool useWriteKey);
void CodecDecryptPage(Codec* codec, uint32_t pgno, uint8_t* data, int length);
// Copies flags and keys of another record; the target's cipher state starts uninitialised.
void CodecCopy(Codec* target, const Codec* source);

}  // namespace storage
