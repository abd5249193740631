// What the database header (page 0) says about the file's protection: a Jet
// database password, the page-encoding key, and for ACE files the encryption
// provider block with its key-derivation parameters and password verifier.
// Every field comes from a possibly damaged header and is checked before use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/encryption/Crypto.h"

namespace talmera::encryption {

enum class Protection {
    None,                // pages stored as they are, no password
    JetPassword,         // Jet 3 / Jet 4 database password; pages stored as they are
    JetRc4,              // Jet: every page RC4-encoded with the header's key (no password needed)
    OfficeRc4CryptoApi,  // ACE: CryptoAPI RC4 ("standard" encryption of Access 2007)
    OfficeAesStandard,   // ACE: ECMA-376 standard encryption (AES, block by block)
    OfficeAgile,         // ACE: agile encryption (AES in CBC, XML descriptor)
    OfficeUnreadable,    // ACE: encrypted with a provider this reader does not know, or a damaged block
};

// Whether a password is needed to read the pages.
bool needsPassword(Protection protection);

// The parameters of the binary provider (RC4 CryptoAPI and AES standard):
// the EncryptionHeader and EncryptionVerifier structures.
struct BinaryProvider {
    uint32_t flags = 0;
    uint32_t algorithmId = 0;      // 0x6801 RC4, 0x660E/F/10 AES-128/192/256
    uint32_t hashAlgorithmId = 0;  // 0x8004 SHA-1
    uint32_t keyBits = 0;
    std::string providerName;      // the CryptoAPI provider, UTF-8
    Bytes salt;
    Bytes encryptedVerifier;       // 16 bytes
    uint32_t verifierHashSize = 0; // 20 (SHA-1)
    Bytes encryptedVerifierHash;   // 20 (RC4) or 32 (AES) bytes
};

// One cipher's settings in the agile descriptor.
struct AgileCipher {
    uint32_t keyBits = 0;
    uint32_t blockSize = 0;
    HashAlgorithm hash = HashAlgorithm::Sha1;
    std::string hashName;  // as the descriptor names it: "SHA512"
    Bytes salt;
};

struct AgileProvider {
    AgileCipher keyData;          // encrypts the pages
    AgileCipher passwordKey;      // derives the keys from the password
    uint32_t spinCount = 0;
    Bytes encryptedVerifierHashInput;
    Bytes encryptedVerifierHashValue;
    Bytes encryptedKeyValue;
};

struct EncryptionFacts {
    Protection protection = Protection::None;
    bool accessHeader = false;             // the header names the file an Access database
    bool ace = false;                      // read as an ACE header (the Office providers)
    bool databasePassword = false;         // Jet: a password is kept in the header
    std::array<uint8_t, 4> pageKey{};      // the header's page-encoding key; all zero: pages not encoded
    uint16_t providerMajor = 0, providerMinor = 0;
    BinaryProvider binary;                 // OfficeRc4CryptoApi, OfficeAesStandard
    AgileProvider agile;                   // OfficeAgile
    std::string unreadableReason;          // OfficeUnreadable: what is wrong with the block
};

// Reads the facts from the first bytes of the file (page 0; `size` may be
// shorter than a page, the rest reads as zeros).
EncryptionFacts ReadEncryptionFacts(const uint8_t* header, size_t size);

// The method in words, for the log: "Office agile encryption (AES-256, SHA512)".
std::string DescribeProtection(const EncryptionFacts& facts);

}  // namespace talmera::encryption
