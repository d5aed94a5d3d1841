#include "client/storage/Crypto.h"

#include <cstring>

namespace storage {
namespace {

uint8_t sbox[256], inv_sbox[256];

uint8_t Xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1b : 0)); }

uint8_t Mul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b) {
        if (b & 1) r ^= a;
        a = Xtime(a);
        b >>= 1;
    }
    return r;
}

// The S-box follows from the field inverse and the affine map; built once.
struct SboxInit {
    SboxInit() {
        for (int i = 0; i < 256; ++i) {
            uint8_t inv = 0;
            if (i) {
                for (int j = 1; j < 256; ++j) {
                    if (Mul(static_cast<uint8_t>(i), static_cast<uint8_t>(j)) == 1) {
                        inv = static_cast<uint8_t>(j);
                        break;
                    }
                }
            }
            uint8_t s = inv, x = inv;
            for (int k = 0; k < 4; ++k) {
                x = static_cast<uint8_t>((x << 1) | (x >> 7));
                s ^= x;
            }
            s ^= 0x63;
            sbox[i] = s;
            inv_sbox[s] = static_cast<uint8_t>(i);
        }
    }
} sbox_init;

uint32_t SubWord(uint32_t w) {
    return (uint32_t(sbox[w >> 24]) << 24) | (uint32_t(sbox[(w >> 16) & 255]) << 16) |
           (uint32_t(sbox[(w >> 8) & 255]) << 8) | sbox[w & 255];
}

void AddRoundKey(uint8_t s[16], const uint32_t* k) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) s[c * 4 + r] ^= static_cast<uint8_t>(k[c] >> (24 - 8 * r));
}

}  // namespace

int AesCbc::Init(int direction, const uint8_t key[32], const uint8_t iv[16]) {
    m_bValid = false;
    if (direction != kEncipher && direction != kDecipher) return -2;
    if (!key) return -4;
    m_nDirection = direction;
    m_nRounds = 14;
    if (iv)
        std::memcpy(m_chain, iv, 16);
    else
        std::memset(m_chain, 0, 16);
    const int nk = 8, total = 4 * (m_nRounds + 1);
    for (int i = 0; i < nk; ++i)
        m_encryptKey[i] = (uint32_t(key[4 * i]) << 24) | (uint32_t(key[4 * i + 1]) << 16) |
                          (uint32_t(key[4 * i + 2]) << 8) | key[4 * i + 3];
    uint8_t rcon = 1;
    for (int i = nk; i < total; ++i) {
        uint32_t t = m_encryptKey[i - 1];
        if (i % nk == 0) {
            t = SubWord((t << 8) | (t >> 24)) ^ (uint32_t(rcon) << 24);
            rcon = Xtime(rcon);
        } else if (i % nk == 4) {
            t = SubWord(t);
        }
        m_encryptKey[i] = m_encryptKey[i - nk] ^ t;
    }
    std::memcpy(m_decryptKey, m_encryptKey, sizeof m_encryptKey);
    m_bValid = true;
    return 0;
}

void AesCbc::EncryptBlock(const uint8_t in[16], uint8_t out[16]) const {
    uint8_t s[16];
    std::memcpy(s, in, 16);
    AddRoundKey(s, m_encryptKey);
    for (int round = 1; round <= m_nRounds; ++round) {
        uint8_t t[16];
        for (int i = 0; i < 16; ++i) t[i] = sbox[s[i]];
        // ShiftRows: row r moves left by r columns.
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r) s[c * 4 + r] = t[((c + r) % 4) * 4 + r];
        if (round != m_nRounds) {
            for (int c = 0; c < 4; ++c) {
                uint8_t* col = s + c * 4;
                uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
                uint8_t all = a0 ^ a1 ^ a2 ^ a3;
                col[0] ^= all ^ Xtime(a0 ^ a1);
                col[1] ^= all ^ Xtime(a1 ^ a2);
                col[2] ^= all ^ Xtime(a2 ^ a3);
                col[3] ^= all ^ Xtime(a3 ^ a0);
            }
        }
        AddRoundKey(s, m_encryptKey + 4 * round);
    }
    std::memcpy(out, s, 16);
}

void AesCbc::DecryptBlock(const uint8_t in[16], uint8_t out[16]) const {
    uint8_t s[16];
    std::memcpy(s, in, 16);
    AddRoundKey(s, m_decryptKey + 4 * m_nRounds);
    for (int round = m_nRounds - 1; round >= 0; --round) {
        uint8_t t[16];
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r) t[((c + r) % 4) * 4 + r] = s[c * 4 + r];
        for (int i = 0; i < 16; ++i) s[i] = inv_sbox[t[i]];
        AddRoundKey(s, m_decryptKey + 4 * round);
        if (round != 0) {
            for (int c = 0; c < 4; ++c) {
                uint8_t* col = s + c * 4;
                uint8_t a0 = col[0], a1 = col[1], a2 = col[2], a3 = col[3];
                col[0] = Mul(a0, 14) ^ Mul(a1, 11) ^ Mul(a2, 13) ^ Mul(a3, 9);
                col[1] = Mul(a0, 9) ^ Mul(a1, 14) ^ Mul(a2, 11) ^ Mul(a3, 13);
                col[2] = Mul(a0, 13) ^ Mul(a1, 9) ^ Mul(a2, 14) ^ Mul(a3, 11);
                col[3] = Mul(a0, 11) ^ Mul(a1, 13) ^ Mul(a2, 9) ^ Mul(a3, 14);
            }
        }
    }
    std::memcpy(out, s, 16);
}

int AesCbc::Encipher(const uint8_t* in, long bits, uint8_t* out) {
    if (!m_bValid) return -5;
    if (m_nDirection != kEncipher) return -6;
    if (!in || bits <= 0) return 0;
    long blocks = bits / 128;
    for (long b = 0; b < blocks; ++b) {
        uint8_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = in[16 * b + i] ^ m_chain[i];
        EncryptBlock(x, m_chain);
        std::memcpy(out + 16 * b, m_chain, 16);
    }
    return static_cast<int>(128 * blocks);
}

int AesCbc::Decipher(const uint8_t* in, long bits, uint8_t* out) {
    if (!m_bValid) return -5;
    if (m_nDirection != kDecipher) return -6;
    if (!in || bits <= 0) return 0;
    long blocks = bits / 128;
    for (long b = 0; b < blocks; ++b) {
        uint8_t c[16], p[16];
        std::memcpy(c, in + 16 * b, 16);  // in and out may be the same buffer
        DecryptBlock(c, p);
        for (int i = 0; i < 16; ++i) out[16 * b + i] = p[i] ^ m_chain[i];
        std::memcpy(m_chain, c, 16);
    }
    return static_cast<int>(128 * blocks);
}

// ---- SHA-256 ----
namespace {
const uint32_t K256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void Sha256Block(uint32_t h[8], const uint8_t* p) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] =
            (uint32_t(p[4 * i]) << 24) | (uint32_t(p[4 * i + 1]) << 16) | (uint32_t(p[4 * i + 2]) << 8) | p[4 * i + 3];
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = Rotr(w[i - 15], 7) ^ Rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = Rotr(w[i - 2], 17) ^ Rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t t1 = hh + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + K256[i] + w[i];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        hh = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
    h[4] += e;
    h[5] += f;
    h[6] += g;
    h[7] += hh;
}

// MD-style padding shared by both digests: 0x80, zeros, the bit count in the last 8 bytes.
template <typename Block>
void Digest(const uint8_t* data, size_t length, bool bigEndian, Block block) {
    size_t full = length / 64;
    for (size_t i = 0; i < full; ++i) block(data + 64 * i);
    uint8_t tail[128] = {};
    size_t rest = length % 64;
    std::memcpy(tail, data + 64 * full, rest);
    tail[rest] = 0x80;
    size_t tailLen = rest < 56 ? 64 : 128;
    uint64_t bits = uint64_t(length) * 8;
    for (int i = 0; i < 8; ++i) {
        uint8_t byte = static_cast<uint8_t>(bits >> (8 * i));
        if (bigEndian)
            tail[tailLen - 1 - i] = byte;
        else
            tail[tailLen - 8 + i] = byte;
    }
    block(tail);
    if (tailLen == 128) block(tail + 64);
}
}  // namespace

void Sha256(const void* data, size_t length, uint8_t out[32]) {
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Digest(static_cast<const uint8_t*>(data), length, true, [&](const uint8_t* p) { Sha256Block(h, p); });
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(h[i] >> (24 - 8 * j));
}

// ---- MD5 ----
namespace {
const uint32_t KMd5[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
const int SMd5[16] = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

void Md5Block(uint32_t h[4], const uint8_t* p) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] =
            p[4 * i] | (uint32_t(p[4 * i + 1]) << 8) | (uint32_t(p[4 * i + 2]) << 16) | (uint32_t(p[4 * i + 3]) << 24);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t t = a + f + KMd5[i] + m[g];
        int s = SMd5[(i / 16) * 4 + i % 4];
        a = d;
        d = c;
        c = b;
        b = b + ((t << s) | (t >> (32 - s)));
    }
    h[0] += a;
    h[1] += b;
    h[2] += c;
    h[3] += d;
}
}  // namespace

void Md5(const void* data, size_t length, uint8_t out[16]) {
    uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    Digest(static_cast<const uint8_t*>(data), length, false, [&](const uint8_t* p) { Md5Block(h, p); });
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<uint8_t>(h[i] >> (8 * j));
}

}  // namespace storage
