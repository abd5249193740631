#include "engine/encryption/PageDecoder.h"

#include <algorithm>
#include <cstring>

#include "platform/TextCodec.h"

namespace talmera::encryption {

namespace {

constexpr size_t kMaxPasswordCharacters = 255;
// Key derivation of the Office standard (AES) encryption: a fixed spin.
constexpr uint32_t kStandardSpinCount = 50000;
constexpr uint8_t kInnerPad = 0x36, kOuterPad = 0x5C;
// The agile key derivation's block keys, one per derived key.
constexpr std::array<uint8_t, 8> kVerifierInputBlock = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
constexpr std::array<uint8_t, 8> kVerifierValueBlock = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
constexpr std::array<uint8_t, 8> kKeyValueBlock = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

// The 4 bytes that key one page: the header's page key with the page number
// (least significant byte first) mixed in by XOR.
std::array<uint8_t, 4> pageBlockKey(const std::array<uint8_t, 4>& pageKey, uint32_t page) {
    std::array<uint8_t, 4> key = littleEndian32(page);
    for (size_t i = 0; i < key.size(); ++i) key[i] ^= pageKey[i];
    return key;
}

bool sameBytes(const Bytes& a, const Bytes& b, size_t count) {
    return a.size() >= count && b.size() >= count && std::equal(a.begin(), a.begin() + long(count), b.begin());
}

// The binary providers' password check: the verifier and its hash, decrypted
// one after the other by `decrypt`, must agree (SHA-1 of the verifier).
template <typename Decrypt>
bool verifierMatches(const BinaryProvider& p, Decrypt&& decrypt) {
    Bytes verifier(p.encryptedVerifier.size()), hash(p.encryptedVerifierHash.size());
    decrypt(p.encryptedVerifier.data(), verifier.data(), verifier.size());
    decrypt(p.encryptedVerifierHash.data(), hash.data(), hash.size());
    return sameBytes(digest(HashAlgorithm::Sha1, {verifier}), hash, p.verifierHashSize);
}

// ---- Jet: RC4 keyed by the page key and the page number -----------------------
class JetRc4Decoder : public PageDecoder {
public:
    explicit JetRc4Decoder(const std::array<uint8_t, 4>& pageKey) : pageKey_(pageKey) {}

protected:
    void decodePage(uint32_t page, const uint8_t* in, uint8_t* out, size_t size) const override {
        const auto key = pageBlockKey(pageKey_, page);
        Rc4(key).apply(in, out, size);
    }

private:
    std::array<uint8_t, 4> pageKey_;
};

// ---- Office RC4 CryptoAPI: RC4 keyed by SHA-1 of the password hash and the block --
class OfficeRc4Decoder : public PageDecoder {
public:
    OfficeRc4Decoder(const EncryptionFacts& facts, const Bytes& password)
        : pageKey_(facts.pageKey), keyBits_(facts.binary.keyBits),
          baseHash_(digest(HashAlgorithm::Sha1, {facts.binary.salt, password})) {}

    bool verify(const BinaryProvider& p) const {
        // One RC4 stream runs on from the verifier into its hash.
        Rc4 stream(blockKey(littleEndian32(0)));
        return verifierMatches(p, [&](const uint8_t* in, uint8_t* out, size_t n) { stream.apply(in, out, n); });
    }

protected:
    void decodePage(uint32_t page, const uint8_t* in, uint8_t* out, size_t size) const override {
        Rc4(blockKey(pageBlockKey(pageKey_, page))).apply(in, out, size);
    }

private:
    Bytes blockKey(const std::array<uint8_t, 4>& block) const {
        Bytes key = resized(digest(HashAlgorithm::Sha1, {baseHash_, block}), keyBits_ / 8, 0);
        // A 40-bit key is used as 128 bits with the rest zero, as CryptoAPI does.
        if (keyBits_ == 40) key.resize(16, 0);
        return key;
    }

    std::array<uint8_t, 4> pageKey_;
    uint32_t keyBits_;
    Bytes baseHash_;
};

// ---- Office standard: AES block by block, a key per page --------------------------
class OfficeAesStandardDecoder : public PageDecoder {
public:
    OfficeAesStandardDecoder(const EncryptionFacts& facts, const Bytes& password)
        : pageKey_(facts.pageKey), keyBytes_(facts.binary.keyBits / 8),
          spun_(iteratedDigest(HashAlgorithm::Sha1, digest(HashAlgorithm::Sha1, {facts.binary.salt, password}),
                               kStandardSpinCount)) {}

    bool verify(const BinaryProvider& p) const {
        AesDecryptor aes;
        if (!aes.setKey(blockKey(littleEndian32(0)))) return false;
        return verifierMatches(p, [&](const uint8_t* in, uint8_t* out, size_t n) { aes.decryptEcb(in, out, n); });
    }

protected:
    void decodePage(uint32_t page, const uint8_t* in, uint8_t* out, size_t size) const override {
        AesDecryptor aes;
        if (!aes.setKey(blockKey(pageBlockKey(pageKey_, page)))) return;
        if (in != out) std::memcpy(out, in, size);
        aes.decryptEcb(out, out, size);
    }

private:
    // The key of one block: the spun hash with the block bytes, then spread
    // over two padded hashes and cut to the key size.
    Bytes blockKey(const std::array<uint8_t, 4>& block) const {
        const Bytes final = digest(HashAlgorithm::Sha1, {spun_, block});
        Bytes inner(64, kInnerPad), outer(64, kOuterPad);
        for (size_t i = 0; i < final.size(); ++i) {
            inner[i] ^= final[i];
            outer[i] ^= final[i];
        }
        Bytes key = digest(HashAlgorithm::Sha1, {inner});
        const Bytes second = digest(HashAlgorithm::Sha1, {outer});
        key.insert(key.end(), second.begin(), second.end());
        return resized(std::move(key), keyBytes_, 0);
    }

    std::array<uint8_t, 4> pageKey_;
    size_t keyBytes_;
    Bytes spun_;
};

// ---- Office agile: AES-CBC, one key, an IV per page ---------------------------------
class OfficeAgileDecoder : public PageDecoder {
public:
    OfficeAgileDecoder(const EncryptionFacts& facts, Bytes key) : pageKey_(facts.pageKey), keyData_(facts.agile.keyData) {
        aes_.setKey(key);
    }

protected:
    void decodePage(uint32_t page, const uint8_t* in, uint8_t* out, size_t size) const override {
        const auto block = pageBlockKey(pageKey_, page);
        const Bytes iv = resized(digest(keyData_.hash, {keyData_.salt, block}), keyData_.blockSize, kInnerPad);
        if (in != out) std::memcpy(out, in, size);
        aes_.decryptCbc(iv, out, out, size);
    }

private:
    std::array<uint8_t, 4> pageKey_;
    AgileCipher keyData_;
    AesDecryptor aes_;
};

// The agile password check and the key it unlocks; nullopt when the password
// is not the file's.
std::optional<Bytes> agileKey(const AgileProvider& p, const Bytes& password) {
    const AgileCipher& c = p.passwordKey;
    const Bytes spun = iteratedDigest(c.hash, digest(c.hash, {c.salt, password}), p.spinCount);
    const Bytes iv = resized(c.salt, c.blockSize, kInnerPad);
    const auto open = [&](const std::array<uint8_t, 8>& block, const Bytes& encrypted) {
        AesDecryptor aes;
        aes.setKey(resized(digest(c.hash, {spun, block}), c.keyBits / 8, kInnerPad));
        Bytes plain(encrypted.size());
        aes.decryptCbc(iv, encrypted.data(), plain.data(), plain.size());
        return plain;
    };
    Bytes input = open(kVerifierInputBlock, p.encryptedVerifierHashInput);
    input.resize(c.salt.size());
    const Bytes expected = open(kVerifierValueBlock, p.encryptedVerifierHashValue);
    if (!sameBytes(digest(c.hash, {input}), expected, digestSize(c.hash))) return std::nullopt;
    return resized(open(kKeyValueBlock, p.encryptedKeyValue), p.keyData.keyBits / 8, 0);
}

}  // namespace

void PageDecoder::decode(uint32_t page, const uint8_t* in, uint8_t* out, size_t size) const {
    if (page == 0) {
        if (in != out) std::memmove(out, in, size);
        return;
    }
    decodePage(page, in, out, size);
}

Bytes passwordBytes(const std::string& password) {
    std::string utf16 = utf8ToUcs2(password);
    utf16.resize(std::min(utf16.size(), 2 * kMaxPasswordCharacters));
    return Bytes(utf16.begin(), utf16.end());
}

Unlock MakePageDecoder(const EncryptionFacts& facts, const std::string& password) {
    Unlock unlock;
    const Bytes secret = passwordBytes(password);
    switch (facts.protection) {
        case Protection::JetRc4:
            unlock.decoder = std::make_unique<JetRc4Decoder>(facts.pageKey);
            break;
        case Protection::OfficeRc4CryptoApi: {
            auto decoder = std::make_unique<OfficeRc4Decoder>(facts, secret);
            if (!decoder->verify(facts.binary)) return {UnlockResult::PasswordRejected, nullptr};
            unlock.decoder = std::move(decoder);
            break;
        }
        case Protection::OfficeAesStandard: {
            auto decoder = std::make_unique<OfficeAesStandardDecoder>(facts, secret);
            if (!decoder->verify(facts.binary)) return {UnlockResult::PasswordRejected, nullptr};
            unlock.decoder = std::move(decoder);
            break;
        }
        case Protection::OfficeAgile: {
            std::optional<Bytes> key = agileKey(facts.agile, secret);
            if (!key) return {UnlockResult::PasswordRejected, nullptr};
            unlock.decoder = std::make_unique<OfficeAgileDecoder>(facts, std::move(*key));
            break;
        }
        default:
            return unlock;
    }
    unlock.result = UnlockResult::Unlocked;
    return unlock;
}

}  // namespace talmera::encryption
