// Encrypting a written image: Jet RC4 page encoding, and the Office methods
// of ACE files (CryptoAPI RC4, AES standard, agile) with their provider block
// in the header. Written from the public format descriptions, apart from the
// engine's decoders, so that each checks the other; nettle does the ciphers.
#include <nettle/aes.h>
#include <nettle/arcfour.h>
#include <nettle/base64.h>
#include <nettle/cbc.h>
#include <nettle/nettle-meta.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <cstring>
#include <memory>
#include <stdexcept>

#include "jetwriter/Internal.h"

namespace jetwriter::detail {

namespace {

// Header places (offsets in page 0, the masked block's fields before masking).
constexpr size_t kPageKeyAt = 0x3E;
constexpr size_t kPasswordAt = 0x42;
constexpr size_t kCreationDateAt = 0x72;
constexpr size_t kProviderLengthAt = 0x299;
constexpr size_t kProviderAt = 0x29B;
constexpr double kCreationDate = 44568.6769;  // a January 2022 afternoon, as in Access's own files

constexpr uint8_t kPad36 = 0x36;
constexpr size_t kSalt = 16;
constexpr size_t kBlock = 16;

const nettle_hash* hashNamed(const std::string& name) {
    if (name == "SHA1") return &nettle_sha1;
    if (name == "SHA256") return &nettle_sha256;
    if (name == "SHA384") return &nettle_sha384;
    if (name == "SHA512") return &nettle_sha512;
    throw std::invalid_argument("unknown agile hash \"" + name + "\" (SHA1, SHA256, SHA384 or SHA512)");
}

Bytes hashOf(const nettle_hash& h, const std::vector<Bytes>& parts) {
    std::vector<uint8_t> context(h.context_size);
    h.init(context.data());
    for (const Bytes& part : parts) h.update(context.data(), part.size(), part.data());
    Bytes out(h.digest_size);
    h.digest(context.data(), out.size(), out.data());
    return out;
}

Bytes fitted(Bytes b, size_t size, uint8_t pad) {
    b.resize(size, pad);
    return b;
}

Bytes numberBytes(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

// The page's block key: the page key with the page number XORed in.
Bytes blockKey(uint32_t pageKey, uint32_t page) { return numberBytes(pageKey ^ page); }

void rc4Over(const Bytes& key, uint8_t* data, size_t n) {
    arcfour_ctx ctx;
    arcfour_set_key(&ctx, key.size(), key.data());
    arcfour_crypt(&ctx, n, data, data);
}

// AES of whole blocks in place, chained (CBC with `iv`) or block by block.
void aesOver(const Bytes& key, const Bytes* iv, uint8_t* data, size_t n) {
    const nettle_cipher* cipher = key.size() == 16 ? &nettle_aes128 : key.size() == 24 ? &nettle_aes192 : &nettle_aes256;
    if (key.size() != cipher->key_size) throw std::invalid_argument("AES keys are 128, 192 or 256 bits");
    std::vector<uint8_t> ctx(cipher->context_size);
    cipher->set_encrypt_key(ctx.data(), key.data());
    const size_t whole = n - n % kBlock;
    if (iv) {
        Bytes chain = fitted(*iv, kBlock, kPad36);
        cbc_encrypt(ctx.data(), cipher->encrypt, kBlock, chain.data(), whole, data, data);
    } else {
        cipher->encrypt(ctx.data(), whole, data, data);
    }
}

Bytes aesCopy(const Bytes& key, const Bytes* iv, Bytes plain) {
    plain.resize((plain.size() + kBlock - 1) / kBlock * kBlock, 0);
    aesOver(key, iv, plain.data(), plain.size());
    return plain;
}

std::string base64(const Bytes& b) {
    std::string out(BASE64_ENCODE_RAW_LENGTH(b.size()), '\0');
    base64_encode_raw(out.data(), b.size(), b.data());
    return out;
}

// Deterministic bytes for salts, verifiers and keys: SHA-256 of the seed, a
// label and a counter.
class Stream {
public:
    explicit Stream(uint64_t seed) : seed_(seed) {}
    Bytes take(const char* label, size_t n) {
        Bytes out;
        for (uint32_t i = 0; out.size() < n; ++i) {
            Bytes s;
            for (int k = 0; k < 8; ++k) s.push_back(uint8_t(seed_ >> (8 * k)));
            s.insert(s.end(), label, label + std::strlen(label));
            Bytes c = numberBytes(i);
            Bytes d = hashOf(nettle_sha256, {s, c});
            out.insert(out.end(), d.begin(), d.end());
        }
        out.resize(n);
        return out;
    }

private:
    uint64_t seed_;
};

Bytes utf16(const std::string& s) {
    Bytes out;
    for (char16_t c : utf8ToUtf16(s)) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    if (out.size() > 510) out.resize(510);  // Office hashes at most 255 characters
    return out;
}

Bytes spin(const nettle_hash& h, Bytes value, uint32_t rounds) {
    for (uint32_t i = 0; i < rounds; ++i) value = hashOf(h, {numberBytes(i), value});
    return value;
}

void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// ---- The binary providers: EncryptionHeader and EncryptionVerifier -----------
Bytes binaryProvider(uint32_t flags, uint32_t algorithm, uint32_t keyBits, uint32_t providerType,
                     const std::string& providerName, const Bytes& salt, const Bytes& encryptedVerifier,
                     const Bytes& encryptedHash) {
    Bytes header;
    put32(header, flags);
    put32(header, 0);           // size of extra data
    put32(header, algorithm);
    put32(header, 0x8004);      // SHA-1
    put32(header, keyBits);
    put32(header, providerType);
    put32(header, 0);
    put32(header, 0);
    append(header, utf16(providerName));
    put16(header, 0);
    Bytes block;
    put16(block, 4);
    put16(block, 2);
    put32(block, flags);
    put32(block, uint32_t(header.size()));
    append(block, header);
    put32(block, uint32_t(salt.size()));
    append(block, salt);
    append(block, encryptedVerifier);
    put32(block, 20);           // the SHA-1 verifier hash
    append(block, encryptedHash);
    return block;
}

struct PageCoder {
    virtual ~PageCoder() = default;
    virtual void encode(uint32_t page, uint8_t* data, size_t n) const = 0;
};

struct JetRc4Coder : PageCoder {
    uint32_t pageKey;
    explicit JetRc4Coder(uint32_t k) : pageKey(k) {}
    void encode(uint32_t page, uint8_t* data, size_t n) const override { rc4Over(blockKey(pageKey, page), data, n); }
};

struct CryptoApiRc4Coder : PageCoder {
    uint32_t pageKey, keyBits;
    Bytes base;
    Bytes keyFor(const Bytes& block) const {
        Bytes key = fitted(hashOf(nettle_sha1, {base, block}), keyBits / 8, 0);
        if (keyBits == 40) key.resize(16, 0);  // CryptoAPI's 40-bit keys are 128 bits long
        return key;
    }
    void encode(uint32_t page, uint8_t* data, size_t n) const override {
        rc4Over(keyFor(blockKey(pageKey, page)), data, n);
    }
};

struct AesStandardCoder : PageCoder {
    uint32_t pageKey, keyBits;
    Bytes spun;
    Bytes keyFor(const Bytes& block) const {
        Bytes final = hashOf(nettle_sha1, {spun, block});
        Bytes x1(64, 0x36), x2(64, 0x5C);
        for (size_t i = 0; i < final.size(); ++i) {
            x1[i] ^= final[i];
            x2[i] ^= final[i];
        }
        Bytes key = hashOf(nettle_sha1, {x1});
        append(key, hashOf(nettle_sha1, {x2}));
        return fitted(key, keyBits / 8, 0);
    }
    void encode(uint32_t page, uint8_t* data, size_t n) const override {
        aesOver(keyFor(blockKey(pageKey, page)), nullptr, data, n);
    }
};

struct AgileCoder : PageCoder {
    uint32_t pageKey;
    const nettle_hash* hash;
    Bytes salt, secret;
    void encode(uint32_t page, uint8_t* data, size_t n) const override {
        Bytes iv = fitted(hashOf(*hash, {salt, blockKey(pageKey, page)}), kBlock, kPad36);
        aesOver(secret, &iv, data, n);
    }
};

std::string agileDescriptor(const EncryptionSettings& e, const nettle_hash& h, uint32_t bits, const Bytes& dataSalt,
                            const Bytes& keySalt, const Bytes& input, const Bytes& value, const Bytes& key) {
    const std::string cipher = "saltSize=\"16\" blockSize=\"16\" keyBits=\"" + std::to_string(bits) + "\" hashSize=\"" +
                               std::to_string(h.digest_size) +
                               "\" cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"" +
                               e.agileHash + "\"";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
           "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
           "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">"
           "<keyData " + cipher + " saltValue=\"" + base64(dataSalt) + "\"/>"
           "<keyEncryptors><keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
           "<p:encryptedKey spinCount=\"" + std::to_string(e.spinCount) + "\" " + cipher +
           " saltValue=\"" + base64(keySalt) + "\" encryptedVerifierHashInput=\"" + base64(input) +
           "\" encryptedVerifierHashValue=\"" + base64(value) + "\" encryptedKeyValue=\"" + base64(key) +
           "\"/></keyEncryptor></keyEncryptors></encryption>";
}

}  // namespace

void writeProtectionFields(uint8_t* header, const Database& db, const Fmt& f) {
    const EncryptionSettings& e = db.encryption;
    const bool office = e.method == Encryption::OfficeRc4CryptoApi || e.method == Encryption::OfficeAesStandard ||
                        e.method == Encryption::OfficeAgile;
    if (office != (db.format == Format::Ace) && e.method != Encryption::None)
        throw std::invalid_argument(db.format == Format::Ace ? "ACE files are encrypted with an Office method"
                                                             : "Jet files are encrypted with RC4 pages");
    if (db.format == Format::Ace && e.method == Encryption::None && !e.password.empty())
        throw std::invalid_argument("an ACE password needs an Office encryption method");
    if (e.method != Encryption::None) {
        if (e.pageKey == 0) throw std::invalid_argument("the page key of an encrypted file is not 0");
        set32(header + kPageKeyAt, e.pageKey);
    }
    if (db.format == Format::Ace || e.password.empty()) return;
    // Jet: the password as the header keeps it, 20 characters at most (Jet 4
    // UCS-2 masked again with the creation date's whole days, Jet 3 8-bit).
    Bytes stored;
    if (f.jet3) {
        const std::string text = utf8ToCodePage(e.password, db.codePage);
        stored.assign(text.begin(), text.end());
    } else {
        stored = utf16(e.password);
    }
    const size_t room = f.jet3 ? 20 : 40;
    if (stored.size() > room) throw std::invalid_argument("a Jet password has at most 20 characters");
    stored.resize(room, 0);
    if (!f.jet3) {
        std::memcpy(header + kCreationDateAt, &kCreationDate, sizeof kCreationDate);
        const Bytes mask = numberBytes(uint32_t(int32_t(kCreationDate)));
        for (size_t i = 0; i < room; ++i) stored[i] ^= mask[i % 4];
    }
    std::memcpy(header + kPasswordAt, stored.data(), room);
}

void encryptImage(std::vector<uint8_t>& image, const Database& db, const Fmt& f) {
    const EncryptionSettings& e = db.encryption;
    if (e.method == Encryption::None) return;
    Stream random(e.seed);
    const Bytes password = utf16(e.password);
    std::unique_ptr<PageCoder> coder;
    Bytes provider;
    switch (e.method) {
        case Encryption::None:
            return;
        case Encryption::JetRc4:
            coder = std::make_unique<JetRc4Coder>(e.pageKey);
            break;
        case Encryption::OfficeRc4CryptoApi: {
            auto c = std::make_unique<CryptoApiRc4Coder>();
            c->pageKey = e.pageKey;
            c->keyBits = e.keyBits ? e.keyBits : 128;
            if (c->keyBits < 40 || c->keyBits > 128 || c->keyBits % 8) throw std::invalid_argument("RC4 keys are 40 to 128 bits");
            const Bytes salt = random.take("salt", kSalt), verifier = random.take("verifier", 16);
            c->base = hashOf(nettle_sha1, {salt, password});
            // The verifier and its hash, one RC4 stream keyed for block 0.
            Bytes sealed = verifier;
            append(sealed, hashOf(nettle_sha1, {verifier}));
            rc4Over(c->keyFor(numberBytes(0)), sealed.data(), sealed.size());
            provider = binaryProvider(0x0C, 0x6801, c->keyBits, 1, "Microsoft Enhanced Cryptographic Provider v1.0", salt,
                                      Bytes(sealed.begin(), sealed.begin() + 16), Bytes(sealed.begin() + 16, sealed.end()));
            coder = std::move(c);
            break;
        }
        case Encryption::OfficeAesStandard: {
            auto c = std::make_unique<AesStandardCoder>();
            c->pageKey = e.pageKey;
            c->keyBits = e.keyBits ? e.keyBits : 128;
            const uint32_t algorithm = c->keyBits == 128 ? 0x660E : c->keyBits == 192 ? 0x660F : c->keyBits == 256 ? 0x6610 : 0;
            if (!algorithm) throw std::invalid_argument("AES keys are 128, 192 or 256 bits");
            const Bytes salt = random.take("salt", kSalt), verifier = random.take("verifier", 16);
            c->spun = spin(nettle_sha1, hashOf(nettle_sha1, {salt, password}), 50000);
            const Bytes key0 = c->keyFor(numberBytes(0));
            provider = binaryProvider(0x24, algorithm, c->keyBits, 0x18,
                                      "Microsoft Enhanced RSA and AES Cryptographic Provider", salt,
                                      aesCopy(key0, nullptr, verifier),
                                      aesCopy(key0, nullptr, hashOf(nettle_sha1, {verifier})));
            coder = std::move(c);
            break;
        }
        case Encryption::OfficeAgile: {
            const nettle_hash& h = *hashNamed(e.agileHash);
            const uint32_t bits = e.keyBits ? e.keyBits : 256;
            if (bits != 128 && bits != 192 && bits != 256) throw std::invalid_argument("AES keys are 128, 192 or 256 bits");
            auto c = std::make_unique<AgileCoder>();
            c->pageKey = e.pageKey;
            c->hash = &h;
            c->salt = random.take("data salt", kSalt);
            c->secret = random.take("secret key", bits / 8);
            const Bytes keySalt = random.take("key salt", kSalt), input = random.take("verifier", kSalt);
            const Bytes spun = spin(h, hashOf(h, {keySalt, password}), e.spinCount);
            const auto keyOf = [&](const Bytes& block) { return fitted(hashOf(h, {spun, block}), bits / 8, kPad36); };
            const Bytes input1 = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
            const Bytes value1 = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
            const Bytes key1 = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};
            const std::string xml = agileDescriptor(e, h, bits, c->salt, keySalt, aesCopy(keyOf(input1), &keySalt, input),
                                                    aesCopy(keyOf(value1), &keySalt, hashOf(h, {input})),
                                                    aesCopy(keyOf(key1), &keySalt, c->secret));
            put16(provider, 4);
            put16(provider, 4);
            put32(provider, 0x40);
            provider.insert(provider.end(), xml.begin(), xml.end());
            coder = std::move(c);
            break;
        }
    }
    if (!provider.empty()) {
        if (kProviderAt + provider.size() > f.pageSize) throw std::invalid_argument("the encryption provider block does not fit the header");
        set16(image.data() + kProviderLengthAt, uint16_t(provider.size()));
        std::memcpy(image.data() + kProviderAt, provider.data(), provider.size());
    }
    const size_t pages = image.size() / f.pageSize;
    for (size_t p = 1; p < pages; ++p) coder->encode(uint32_t(p), image.data() + p * f.pageSize, f.pageSize);
}

}  // namespace jetwriter::detail
