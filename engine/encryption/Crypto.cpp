#include "engine/encryption/Crypto.h"

#include <nettle/base64.h>
#include <nettle/cbc.h>
#include <nettle/nettle-meta.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace talmera::encryption {

namespace {
const nettle_hash& hashOf(HashAlgorithm algorithm) {
    switch (algorithm) {
        case HashAlgorithm::Sha1: return nettle_sha1;
        case HashAlgorithm::Sha256: return nettle_sha256;
        case HashAlgorithm::Sha384: return nettle_sha384;
        case HashAlgorithm::Sha512: return nettle_sha512;
    }
    return nettle_sha1;
}

// Large enough for the context of every hash above (SHA-512's is the largest).
constexpr size_t kHashContextSize = 256;
}  // namespace

size_t digestSize(HashAlgorithm algorithm) { return hashOf(algorithm).digest_size; }

Bytes digest(HashAlgorithm algorithm, std::initializer_list<ByteView> parts) {
    const nettle_hash& hash = hashOf(algorithm);
    alignas(16) uint8_t context[kHashContextSize];
    static_assert(sizeof(sha512_ctx) <= kHashContextSize);
    hash.init(context);
    for (ByteView part : parts) hash.update(context, part.size(), part.data());
    Bytes out(hash.digest_size);
    hash.digest(context, out.size(), out.data());
    return out;
}

Bytes iteratedDigest(HashAlgorithm algorithm, Bytes start, uint32_t count) {
    const nettle_hash& hash = hashOf(algorithm);
    alignas(16) uint8_t context[kHashContextSize];
    Bytes value = resized(std::move(start), hash.digest_size, 0);
    for (uint32_t round = 0; round < count; ++round) {
        const auto number = littleEndian32(round);
        hash.init(context);
        hash.update(context, number.size(), number.data());
        hash.update(context, value.size(), value.data());
        hash.digest(context, value.size(), value.data());
    }
    return value;
}

Bytes resized(Bytes bytes, size_t size, uint8_t fill) {
    bytes.resize(size, fill);
    return bytes;
}

std::array<uint8_t, 4> littleEndian32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

Rc4::Rc4(ByteView key) {
    static const uint8_t kZero = 0;
    if (key.empty()) key = ByteView(&kZero, 1);
    arcfour_set_key(&context_, std::min<size_t>(key.size(), ARCFOUR_MAX_KEY_SIZE), key.data());
}

void Rc4::apply(const uint8_t* in, uint8_t* out, size_t size) { arcfour_crypt(&context_, size, out, in); }

bool AesDecryptor::setKey(ByteView key) {
    switch (key.size()) {
        case AES128_KEY_SIZE:
            aes128_set_decrypt_key(&context_.aes128, key.data());
            decrypt_ = [](const void* c, size_t n, uint8_t* out, const uint8_t* in) {
                aes128_decrypt(static_cast<const aes128_ctx*>(c), n, out, in);
            };
            return true;
        case AES192_KEY_SIZE:
            aes192_set_decrypt_key(&context_.aes192, key.data());
            decrypt_ = [](const void* c, size_t n, uint8_t* out, const uint8_t* in) {
                aes192_decrypt(static_cast<const aes192_ctx*>(c), n, out, in);
            };
            return true;
        case AES256_KEY_SIZE:
            aes256_set_decrypt_key(&context_.aes256, key.data());
            decrypt_ = [](const void* c, size_t n, uint8_t* out, const uint8_t* in) {
                aes256_decrypt(static_cast<const aes256_ctx*>(c), n, out, in);
            };
            return true;
        default:
            decrypt_ = nullptr;
            return false;
    }
}

void AesDecryptor::decryptCbc(ByteView iv, const uint8_t* in, uint8_t* out, size_t size) const {
    const size_t whole = size - size % kAesBlock;
    if (!decrypt_ || whole == 0) return;
    uint8_t chain[kAesBlock] = {};
    std::copy_n(iv.begin(), std::min(iv.size(), kAesBlock), chain);
    cbc_decrypt(&context_, decrypt_, kAesBlock, chain, whole, out, in);
}

void AesDecryptor::decryptEcb(const uint8_t* in, uint8_t* out, size_t size) const {
    const size_t whole = size - size % kAesBlock;
    if (!decrypt_ || whole == 0) return;
    decrypt_(&context_, whole, out, in);
}

std::optional<Bytes> base64Decode(std::string_view text) {
    std::string compact;
    compact.reserve(text.size());
    for (char c : text) {
        if (!std::isspace(static_cast<unsigned char>(c))) compact.push_back(c);
    }
    base64_decode_ctx context;
    base64_decode_init(&context);
    Bytes out(BASE64_DECODE_LENGTH(compact.size()));
    size_t produced = out.size();
    if (!base64_decode_update(&context, &produced, out.data(), compact.size(), compact.data()) ||
        !base64_decode_final(&context)) {
        return std::nullopt;
    }
    out.resize(produced);
    return out;
}

}  // namespace talmera::encryption
