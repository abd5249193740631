#include "engine/encryption/EncryptionHeader.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>

#include "platform/LittleEndian.h"
#include "platform/TextCodec.h"

namespace talmera::encryption {

namespace {

// The database header, as far as protection goes.
constexpr size_t kSignatureOffset = 4;
constexpr std::string_view kJetSignature("Standard Jet DB\0", 16);
constexpr std::string_view kAceSignature("Standard ACE DB\0", 16);
constexpr size_t kVersionOffset = 0x14;
constexpr size_t kMaskedBlockOffset = 0x18;
constexpr size_t kMaskedBlockJet3 = 126;
constexpr size_t kMaskedBlockJet4 = 128;  // also ACE
constexpr std::array<uint8_t, 4> kMaskKey = {0xC7, 0xDA, 0x39, 0x6B};  // 0x6B39DAC7
constexpr size_t kPageKeyOffset = 0x3E;
constexpr size_t kPasswordOffset = 0x42;
constexpr size_t kPasswordJet3 = 20;
constexpr size_t kPasswordJet4 = 40;
constexpr size_t kCreationDateOffset = 0x72;  // Jet 4: a date whose whole days mask the password
constexpr size_t kProviderLengthOffset = 0x299;
constexpr size_t kProviderOffset = 0x29B;

enum VersionByte : uint8_t { kJet3 = 0, kJet4 = 1, kFirstAce = 2, kLastAce = 6 };

// The binary provider's flags and algorithm numbers.
constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kFlagAes = 0x20;
constexpr uint32_t kAlgorithmFromFlags = 0;
constexpr uint32_t kAlgorithmRc4 = 0x6801;
constexpr uint32_t kAlgorithmAes128 = 0x660E;
constexpr uint32_t kAlgorithmAes192 = 0x660F;
constexpr uint32_t kAlgorithmAes256 = 0x6610;
constexpr uint32_t kHashFromFlags = 0;
constexpr uint32_t kHashSha1 = 0x8004;
constexpr size_t kEncryptionHeaderFixed = 32;  // the eight numbers before the provider name
constexpr uint32_t kSaltSize = 16;
constexpr size_t kVerifierSize = 16;
constexpr size_t kRc4VerifierHash = 20;
constexpr size_t kAesVerifierHash = 32;
constexpr uint32_t kAgileReserved = 0x40;
// The largest spin count the format allows: a damaged count must not keep the
// key derivation busy for hours.
constexpr uint32_t kMaxSpinCount = 10000000;

// Bounded little-endian reads of a byte range: past its end everything is zero.
struct Reader : le::Bounded {
    Bytes bytes(size_t at, size_t count) const {
        Bytes out(count, 0);
        for (size_t i = 0; i < count; ++i) out[i] = u8(at + i);
        return out;
    }
};

bool allZero(const uint8_t* data, size_t size) {
    return std::all_of(data, data + size, [](uint8_t b) { return b == 0; });
}

// The provider's name: UTF-16 up to its terminating zero.
std::string textUpToZero(const Bytes& bytes) {
    size_t end = 0;
    while (end + 1 < bytes.size() && (bytes[end] | bytes[end + 1]) != 0) end += 2;
    return ucs2ToUtf8(bytes.data(), end);
}

// The EncryptionHeader and EncryptionVerifier of the RC4 CryptoAPI and AES
// standard providers, from just after the flags copy. Empty when readable.
std::string readBinaryProvider(const Reader& block, BinaryProvider& out, bool aes) {
    const uint32_t headerSize = block.u32(8);
    if (headerSize < kEncryptionHeaderFixed || headerSize > block.size) return "the encryption header's size is damaged";
    const size_t h = 12;
    out.flags = block.u32(h);
    if (out.flags & kFlagExternal) return "the keys are kept by an external provider";
    out.algorithmId = block.u32(h + 8);
    out.hashAlgorithmId = block.u32(h + 12);
    out.keyBits = block.u32(h + 16);
    out.providerName = textUpToZero(block.bytes(h + kEncryptionHeaderFixed, headerSize - kEncryptionHeaderFixed));

    if (out.algorithmId == kAlgorithmFromFlags) out.algorithmId = aes ? kAlgorithmAes128 : kAlgorithmRc4;
    if (out.hashAlgorithmId == kHashFromFlags) out.hashAlgorithmId = kHashSha1;
    if (out.hashAlgorithmId != kHashSha1) return "the key is derived with an unknown hash";
    uint32_t minBits = 0, maxBits = 0;
    switch (out.algorithmId) {
        case kAlgorithmRc4: minBits = 40; maxBits = 512; break;
        case kAlgorithmAes128: minBits = maxBits = 128; break;
        case kAlgorithmAes192: minBits = maxBits = 192; break;
        case kAlgorithmAes256: minBits = maxBits = 256; break;
        default: return "unknown cipher";
    }
    if ((out.algorithmId == kAlgorithmRc4) == aes) return "the cipher does not match the flags";
    if (out.keyBits == 0) {
        // The provider's default: the "base" CryptoAPI provider's RC4 keys are
        // 40 bits, the others' 128.
        std::string name = out.providerName;
        std::transform(name.begin(), name.end(), name.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
        const bool base = name.find_first_not_of(' ') == std::string::npos || name.find(" base ") != std::string::npos;
        out.keyBits = out.algorithmId == kAlgorithmRc4 ? (base ? 40 : 128) : minBits;
    }
    if (out.keyBits < minBits || out.keyBits > maxBits || out.keyBits % 8 != 0) return "the key size is damaged";

    const size_t v = h + headerSize;
    if (block.u32(v) != kSaltSize) return "the password verifier is damaged";
    out.salt = block.bytes(v + 4, kSaltSize);
    out.encryptedVerifier = block.bytes(v + 4 + kSaltSize, kVerifierSize);
    out.verifierHashSize = block.u32(v + 4 + kSaltSize + kVerifierSize);
    const size_t hashBytes = aes ? kAesVerifierHash : kRc4VerifierHash;
    if (out.verifierHashSize == 0 || out.verifierHashSize > hashBytes) return "the password verifier is damaged";
    const size_t hashAt = v + 8 + kSaltSize + kVerifierSize;
    if (hashAt + hashBytes > block.size) return "the password verifier is cut short";
    out.encryptedVerifierHash = block.bytes(hashAt, hashBytes);
    return {};
}

// ---- The agile descriptor ---------------------------------------------------

constexpr std::string_view kEncryptionNamespace = "http://schemas.microsoft.com/office/2006/encryption";
constexpr std::string_view kPasswordNamespace = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";
constexpr char kNamespaceSeparator = ' ';

using Attributes = std::map<std::string, std::string>;

struct DescriptorParse {
    XML_Parser parser = nullptr;
    bool haveKeyData = false;
    int passwordKeys = 0;
    Attributes keyData;
    Attributes passwordKey;
};

Attributes attributesOf(const XML_Char** attributes) {
    Attributes out;
    for (size_t i = 0; attributes[i] && attributes[i + 1]; i += 2) out[attributes[i]] = attributes[i + 1];
    return out;
}

void XMLCALL onElement(void* user, const XML_Char* name, const XML_Char** attributes) {
    auto& parse = *static_cast<DescriptorParse*>(user);
    const std::string_view full(name);
    const size_t split = full.rfind(kNamespaceSeparator);
    const std::string_view space = split == std::string_view::npos ? std::string_view() : full.substr(0, split);
    const std::string_view local = split == std::string_view::npos ? full : full.substr(split + 1);
    if (space == kEncryptionNamespace && local == "keyData" && !parse.haveKeyData) {
        parse.haveKeyData = true;
        parse.keyData = attributesOf(attributes);
    } else if (space == kPasswordNamespace && local == "encryptedKey") {
        if (++parse.passwordKeys == 1) parse.passwordKey = attributesOf(attributes);
    }
}

// A descriptor declares no entities: one that tries is not Office's.
void XMLCALL onEntity(void* user, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                      const XML_Char*, const XML_Char*) {
    XML_StopParser(static_cast<DescriptorParse*>(user)->parser, XML_FALSE);
}

bool number(const Attributes& a, const char* name, uint32_t& out) {
    const auto it = a.find(name);
    if (it == a.end() || it->second.empty() || it->second.size() > 9) return false;
    uint32_t v = 0;
    for (char c : it->second) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    out = v;
    return true;
}

bool base64Of(const Attributes& a, const char* name, Bytes& out) {
    const auto it = a.find(name);
    if (it == a.end()) return false;
    std::optional<Bytes> bytes = base64Decode(it->second);
    if (!bytes) return false;
    out = std::move(*bytes);
    return true;
}

// One cipher description (keyData or the password's encryptedKey). Empty when usable.
std::string readCipher(const Attributes& a, AgileCipher& out) {
    const auto text = [&](const char* name) {
        const auto it = a.find(name);
        return it == a.end() ? std::string() : it->second;
    };
    if (text("cipherAlgorithm") != "AES") return "cipher " + text("cipherAlgorithm") + " is not known";
    if (text("cipherChaining") != "ChainingModeCBC") return "chaining " + text("cipherChaining") + " is not known";
    uint32_t saltSize = 0;
    if (!number(a, "keyBits", out.keyBits) || !number(a, "blockSize", out.blockSize) ||
        !number(a, "saltSize", saltSize) || !base64Of(a, "saltValue", out.salt)) {
        return "a cipher setting is missing";
    }
    if (out.keyBits != 128 && out.keyBits != 192 && out.keyBits != 256) return "the key size is damaged";
    if (out.blockSize != kAesBlock) return "the block size is damaged";
    if (out.salt.empty() || out.salt.size() != saltSize || saltSize > 64) return "the salt is damaged";
    static const std::pair<const char*, HashAlgorithm> kHashes[] = {
        {"SHA1", HashAlgorithm::Sha1}, {"SHA-1", HashAlgorithm::Sha1}, {"SHA256", HashAlgorithm::Sha256},
        {"SHA384", HashAlgorithm::Sha384}, {"SHA512", HashAlgorithm::Sha512}};
    out.hashName = text("hashAlgorithm");
    for (const auto& [name, algorithm] : kHashes) {
        if (out.hashName == name) {
            out.hash = algorithm;
            return {};
        }
    }
    return "hash " + out.hashName + " is not known";
}

std::string readAgileProvider(const Reader& block, AgileProvider& out) {
    if (block.u32(4) != kAgileReserved) return "the agile descriptor is damaged";
    const size_t xmlStart = 8;
    size_t xmlEnd = xmlStart;
    while (xmlEnd < block.size && block.data[xmlEnd] != 0) ++xmlEnd;
    if (xmlEnd <= xmlStart) return "the agile descriptor is empty";

    DescriptorParse parse;
    parse.parser = XML_ParserCreateNS(nullptr, kNamespaceSeparator);
    if (!parse.parser) return "out of memory";
    XML_SetUserData(parse.parser, &parse);
    XML_SetStartElementHandler(parse.parser, onElement);
    XML_SetEntityDeclHandler(parse.parser, onEntity);
    const XML_Status status = XML_Parse(parse.parser, reinterpret_cast<const char*>(block.data + xmlStart),
                                        static_cast<int>(xmlEnd - xmlStart), XML_TRUE);
    XML_ParserFree(parse.parser);
    if (status != XML_STATUS_OK) return "the agile descriptor is not well-formed XML";
    if (!parse.haveKeyData) return "the agile descriptor has no key data";
    if (parse.passwordKeys != 1) return "the agile descriptor has no password key";

    std::string problem = readCipher(parse.keyData, out.keyData);
    if (problem.empty()) problem = readCipher(parse.passwordKey, out.passwordKey);
    if (!problem.empty()) return problem;
    if (!number(parse.passwordKey, "spinCount", out.spinCount) || out.spinCount > kMaxSpinCount) {
        return "the spin count is damaged";
    }
    if (!base64Of(parse.passwordKey, "encryptedVerifierHashInput", out.encryptedVerifierHashInput) ||
        !base64Of(parse.passwordKey, "encryptedVerifierHashValue", out.encryptedVerifierHashValue) ||
        !base64Of(parse.passwordKey, "encryptedKeyValue", out.encryptedKeyValue)) {
        return "the password verifier is missing";
    }
    const auto wholeBlocks = [](const Bytes& b, size_t atLeast) {
        return b.size() >= atLeast && b.size() % kAesBlock == 0;
    };
    if (!wholeBlocks(out.encryptedVerifierHashInput, out.passwordKey.salt.size()) ||
        !wholeBlocks(out.encryptedVerifierHashValue, digestSize(out.passwordKey.hash)) ||
        !wholeBlocks(out.encryptedKeyValue, out.keyData.keyBits / 8)) {
        return "the password verifier is damaged";
    }
    return {};
}

void readOfficeProvider(const Reader& header, EncryptionFacts& facts) {
    const uint16_t length = header.u16(kProviderLengthOffset);
    const size_t available = header.size > kProviderOffset ? header.size - kProviderOffset : 0;
    const Reader block{{header.data + std::min(header.size, kProviderOffset), std::min<size_t>(length, available)}};
    facts.providerMajor = block.u16(0);
    facts.providerMinor = block.u16(2);
    const uint16_t major = facts.providerMajor, minor = facts.providerMinor;
    std::string problem;
    if (block.size < 8) {
        problem = "the encryption provider block is missing";
    } else if (major == 4 && minor == 4) {
        facts.protection = Protection::OfficeAgile;
        problem = readAgileProvider(block, facts.agile);
    } else if ((major == 2 || major == 3 || major == 4) && minor == 2) {
        const uint32_t flags = block.u32(4);
        if (!(flags & kFlagCryptoApi)) {
            problem = "the provider's flags are damaged";
        } else {
            const bool aes = (flags & kFlagAes) != 0;
            facts.protection = aes ? Protection::OfficeAesStandard : Protection::OfficeRc4CryptoApi;
            problem = readBinaryProvider(block, facts.binary, aes);
        }
    } else if ((major == 3 || major == 4) && minor == 3) {
        problem = "extensible encryption, whose keys only its own provider knows";
    } else if (major == 1 && minor == 1) {
        problem = "the Office binary RC4 encryption";
    } else {
        problem = "an unknown encryption provider";
    }
    if (!problem.empty()) {
        facts.protection = Protection::OfficeUnreadable;
        facts.unreadableReason = problem;
    }
}

}  // namespace

bool needsPassword(Protection protection) {
    switch (protection) {
        case Protection::OfficeRc4CryptoApi:
        case Protection::OfficeAesStandard:
        case Protection::OfficeAgile:
            return true;
        default:
            return false;
    }
}

EncryptionFacts ReadEncryptionFacts(const uint8_t* header, size_t size) {
    EncryptionFacts facts;
    const Reader raw{{header, size}};
    for (const std::string_view name : {kJetSignature, kAceSignature}) {
        facts.accessHeader = facts.accessHeader || (size >= kSignatureOffset + name.size() &&
                                                    std::memcmp(header + kSignatureOffset, name.data(), name.size()) == 0);
    }
    const uint8_t version = raw.u8(kVersionOffset);
    const bool jet3 = version == kJet3;
    facts.ace = version >= kFirstAce && version <= kLastAce;
    if (!jet3 && version != kJet4 && !facts.ace) return facts;  // not a version this reader knows

    // The masked block: a fixed RC4 key hides the sort order, the code page,
    // the page key and the password.
    const size_t maskedSize = jet3 ? kMaskedBlockJet3 : kMaskedBlockJet4;
    uint8_t plain[kMaskedBlockJet4] = {};
    const Bytes masked = raw.bytes(kMaskedBlockOffset, maskedSize);
    Rc4(kMaskKey).apply(masked.data(), plain, maskedSize);
    const auto at = [&](size_t offset) { return plain + (offset - kMaskedBlockOffset); };
    std::memcpy(facts.pageKey.data(), at(kPageKeyOffset), facts.pageKey.size());
    const bool pagesEncoded = !allZero(facts.pageKey.data(), facts.pageKey.size());

    if (facts.ace) {
        if (pagesEncoded) readOfficeProvider(raw, facts);
        return facts;
    }

    uint8_t password[kPasswordJet4] = {};
    const size_t passwordSize = jet3 ? kPasswordJet3 : kPasswordJet4;
    std::memcpy(password, at(kPasswordOffset), passwordSize);
    if (!jet3) {
        // Jet 4 masks the password again with the whole days of the creation date.
        double created = 0;
        std::memcpy(&created, at(kCreationDateOffset), sizeof created);
        if (created >= -2147483648.0 && created < 2147483648.0) {
            const auto mask = littleEndian32(static_cast<uint32_t>(static_cast<int32_t>(created)));
            for (size_t i = 0; i < passwordSize; ++i) password[i] ^= mask[i % 4];
        }
    }
    facts.databasePassword = !allZero(password, passwordSize);
    facts.protection = pagesEncoded ? Protection::JetRc4
                       : facts.databasePassword ? Protection::JetPassword
                                                : Protection::None;
    return facts;
}

std::string DescribeProtection(const EncryptionFacts& facts) {
    const auto aesName = [](uint32_t bits) { return "AES-" + std::to_string(bits); };
    switch (facts.protection) {
        case Protection::None:
            return "none";
        case Protection::JetPassword:
            return "Jet database password (the pages are not encoded)";
        case Protection::JetRc4:
            return std::string("Jet RC4 page encoding") + (facts.databasePassword ? ", with a database password" : "");
        case Protection::OfficeRc4CryptoApi:
            return "Office RC4 CryptoAPI encryption (" + std::to_string(facts.binary.keyBits) + "-bit key)";
        case Protection::OfficeAesStandard:
            return "Office standard encryption (" + aesName(facts.binary.keyBits) + ")";
        case Protection::OfficeAgile:
            return "Office agile encryption (" + aesName(facts.agile.keyData.keyBits) + ", " +
                   facts.agile.passwordKey.hashName + ")";
        case Protection::OfficeUnreadable:
            return "Office encryption, provider " + std::to_string(facts.providerMajor) + "." +
                   std::to_string(facts.providerMinor) + ": " + facts.unreadableReason;
    }
    return "unknown";
}

}  // namespace talmera::encryption
