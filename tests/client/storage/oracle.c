/* Independent reference for the database file format, on the system's libcrypto (native only).
 *   oracle derive HEXKEY              -> derived 32-byte key
 *   oracle iv PGNO                    -> page IV
 *   oracle pagekey HEXBASE PGNO       -> page key
 *   oracle decrypt|encrypt HEXKEY PAGESIZE IN OUT  -> whole file, page by page */
#include <openssl/evp.h>
#include <openssl/md5.h>
#include <openssl/sha.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const unsigned char pad[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                      0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                      0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

static int unhex(const char* s, unsigned char* out) {
    int n = 0;
    while (s[0] && s[1]) { sscanf(s, "%2hhx", &out[n++]); s += 2; }
    return n;
}
static void hex(const unsigned char* p, int n) { for (int i = 0; i < n; ++i) printf("%02x", p[i]); printf("\n"); }

static void derive(const unsigned char* key, int n, unsigned char out[32]) {
    unsigned char buf[32];
    if (n > 32) n = 32;
    memcpy(buf, key, n);
    memcpy(buf + n, pad, 32 - n);
    SHA256(buf, 32, out);
    for (int i = 0; i < 4001; ++i) SHA256(out, 32, out);
}
static void iv(uint32_t pgno, unsigned char out[16]) {
    unsigned char seed[16];
    uint64_t z = pgno + 1;
    for (int i = 0; i < 4; ++i) {
        z = (40692 * z) % 2147483399u; /* plain 64-bit arithmetic, not Schrage */
        for (int b = 0; b < 4; ++b) seed[4 * i + b] = (unsigned char)(z >> (8 * b));
    }
    MD5(seed, 16, out);
}
static void pagekey(const unsigned char base[32], uint32_t pgno, unsigned char out[32]) {
    unsigned char buf[40];
    memcpy(buf, base, 32);
    for (int b = 0; b < 4; ++b) buf[32 + b] = (unsigned char)(pgno >> (8 * b));
    memcpy(buf + 36, "qVmR", 4);
    SHA256(buf, 40, out);
}

int main(int argc, char** argv) {
    unsigned char key[64], out[32];
    if (argc == 3 && !strcmp(argv[1], "derive")) { derive(key, unhex(argv[2], key), out); hex(out, 32); return 0; }
    if (argc == 3 && !strcmp(argv[1], "iv")) { iv((uint32_t)strtoul(argv[2], 0, 10), out); hex(out, 16); return 0; }
    if (argc == 4 && !strcmp(argv[1], "pagekey")) {
        unhex(argv[2], key);
        pagekey(key, (uint32_t)strtoul(argv[3], 0, 10), out);
        hex(out, 32);
        return 0;
    }
    if (argc == 6 && (!strcmp(argv[1], "decrypt") || !strcmp(argv[1], "encrypt"))) {
        int enc = argv[1][0] == 'e';
        unsigned char base[32];
        derive(key, unhex(argv[2], key), base);
        int size = atoi(argv[3]);
        FILE* in = fopen(argv[4], "rb");
        FILE* o = fopen(argv[5], "wb");
        if (!in || !o) return 2;
        unsigned char* page = malloc(size);
        unsigned char* res = malloc(size);
        for (uint32_t pgno = 1; fread(page, 1, size, in) == (size_t)size; ++pgno) {
            unsigned char k[32], v[16];
            int len = 0, fin = 0;
            pagekey(base, pgno, k);
            iv(pgno, v);
            EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
            EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), 0, k, v, enc);
            EVP_CIPHER_CTX_set_padding(ctx, 0);
            EVP_CipherUpdate(ctx, res, &len, page, size);
            EVP_CipherFinal_ex(ctx, res + len, &fin);
            EVP_CIPHER_CTX_free(ctx);
            fwrite(res, 1, size, o);
        }
        free(page);
        free(res);
        fclose(in);
        fclose(o);
        return 0;
    }
    return 1;
}
