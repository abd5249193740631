// The few cryptographic operations the page decoders need: digests, RC4, AES
// and base64, all done by nettle. Nothing here knows the Access formats.
#pragma once

#include <nettle/aes.h>
#include <nettle/arcfour.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace talmera::encryption {

using Bytes = std::vector<uint8_t>;
using ByteView = std::span<const uint8_t>;

enum class HashAlgorithm { Sha1, Sha256, Sha384, Sha512 };

size_t digestSize(HashAlgorithm algorithm);

// The digest of the parts taken one after the other.
Bytes digest(HashAlgorithm algorithm, std::initializer_list<ByteView> parts);

// The spin of a password-based key derivation: `count` times, the digest of
// the round number (4 bytes, least significant first) and the previous digest.
Bytes iteratedDigest(HashAlgorithm algorithm, Bytes start, uint32_t count);

// `bytes` cut to `size`, or padded to it with `fill`.
Bytes resized(Bytes bytes, size_t size, uint8_t fill);

// The four bytes of a 32-bit number, least significant first.
std::array<uint8_t, 4> littleEndian32(uint32_t value);

// An RC4 key stream; each apply() continues where the last one stopped.
class Rc4 {
public:
    // The key is cut to 256 bytes; an empty key counts as one zero byte.
    explicit Rc4(ByteView key);
    void apply(const uint8_t* in, uint8_t* out, size_t size);

private:
    arcfour_ctx context_;
};

// AES decryption with a key of 16, 24 or 32 bytes.
class AesDecryptor {
public:
    // False (and nothing usable) when the key has another length.
    bool setKey(ByteView key);
    // Decrypts the whole 16-byte blocks of [in, in + size); a rest shorter
    // than a block is left as it is in `out`.
    void decryptCbc(ByteView iv, const uint8_t* in, uint8_t* out, size_t size) const;
    void decryptEcb(const uint8_t* in, uint8_t* out, size_t size) const;

private:
    union {
        aes128_ctx aes128;
        aes192_ctx aes192;
        aes256_ctx aes256;
    } context_{};
    nettle_cipher_func* decrypt_ = nullptr;
};

inline constexpr size_t kAesBlock = 16;

// Standard base64 (white space allowed between groups); nullopt when the text
// is not base64.
std::optional<Bytes> base64Decode(std::string_view text);

}  // namespace talmera::encryption
