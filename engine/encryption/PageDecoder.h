// Decoding the pages of an encrypted file, each with its page number mixed
// into its key. A damaged page decodes to garbage like any other damaged page;
// decoding itself never fails once the decoder is made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/encryption/EncryptionHeader.h"

namespace talmera::encryption {

class PageDecoder {
public:
    virtual ~PageDecoder() = default;
    // Decodes `size` bytes (a page, or what there is of a last partial page)
    // of page `page` from `in` into `out` (which may be `in`). Page 0, the
    // header, is never encoded: it is copied as it is.
    void decode(uint32_t page, const uint8_t* in, uint8_t* out, size_t size) const;

protected:
    virtual void decodePage(uint32_t page, const uint8_t* in, uint8_t* out, size_t size) const = 0;
};

enum class UnlockResult {
    Unlocked,          // the decoder is made (the password, if one was needed, is right)
    PasswordRejected,  // the password verifier refuses the password
    Unreadable,        // not a method this reader knows (the facts say why)
};

struct Unlock {
    UnlockResult result = UnlockResult::Unreadable;
    std::unique_ptr<PageDecoder> decoder;  // Unlocked only
};

// The decoder for the file the facts describe. `password` (UTF-8) is used by
// the Office methods only; the Jet page encoding needs none.
Unlock MakePageDecoder(const EncryptionFacts& facts, const std::string& password);

// The password as the Office methods hash it: UTF-16 little-endian, at most
// 255 characters.
Bytes passwordBytes(const std::string& password);

}  // namespace talmera::encryption
