// AesCbc: the block cipher and digests the page codec is built on; plain portable C++.
#pragma once
#include <cstddef>
#include <cstdint>

namespace storage {

// AES with a 256-bit key in CBC mode. Answers follow the codec's conventions: Init 0 on success,
// -2 for an unknown direction, -4 without a key; Process the number of bits done, 0 without
// input, -5 when not initialised, -6 for the wrong direction.
class AesCbc {
public:
    enum Direction { kEncipher = 0, kDecipher = 1 };
    int Init(int direction, const uint8_t key[32], const uint8_t iv[16]);
    int Encipher(const uint8_t* in, long bits, uint8_t* out);
    int Decipher(const uint8_t* in, long bits, uint8_t* out);
    bool valid() const { return m_bValid; }
    void Reset() { m_bValid = false; }

private:
    void EncryptBlock(const uint8_t in[16], uint8_t out[16]) const;
    void DecryptBlock(const uint8_t in[16], uint8_t out[16]) const;
    bool m_bValid = false;
    int m_nDirection = 0;
    int m_nRounds = 14;
    uint8_t m_chain[16] = {};
    uint32_t m_encryptKey[60] = {};  // expanded key
    uint32_t m_decryptKey[60] = {};  // expanded key for the inverse cipher
};

void Sha256(const void* data, size_t length, uint8_t out[32]);
void Md5(const void* data, size_t length, uint8_t out[16]);

}  // namespace storage
