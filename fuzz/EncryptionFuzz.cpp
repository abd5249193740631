// libFuzzer target: the protection facts of a database header and the page
// decoders of encrypted files (engine/encryption/: ReadEncryptionFacts,
// MakePageDecoder, the Jet RC4, Office RC4 CryptoAPI, standard AES and
// agile decoders).
//
// Input (fuzz/seeds/encryption/): one byte of options, then the first pages of
// a file: the header page (4096 bytes, or fewer) and the pages after it,
// which are decoded when the header's method unlocks with the seeds'
// password "password". The key derivations of the standard AES method (a
// fixed 50,000 rounds) and of agile files with more than 1,000 rounds run
// only with option bit 1 (up to 10,000 agile rounds), so that the other
// inputs stay quick.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/encryption/EncryptionHeader.h"
#include "engine/encryption/PageDecoder.h"
#include "fuzz/FuzzSupport.h"

using namespace talmera;
using namespace talmera::encryption;

namespace {

constexpr size_t kHeaderBytes = 4096;

bool derivationWanted(const EncryptionFacts& facts, bool slow) {
    switch (facts.protection) {
        case Protection::JetRc4:
        case Protection::OfficeRc4CryptoApi: return true;
        case Protection::OfficeAesStandard: return slow;
        case Protection::OfficeAgile: return facts.agile.spinCount <= (slow ? 10000u : 1000u);
        default: return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool slow = (data[0] & 2) != 0;
    const uint8_t* file = data + 1;
    const size_t length = size - 1;
    const EncryptionFacts facts = ReadEncryptionFacts(file, std::min(length, kHeaderBytes));
    (void)DescribeProtection(facts);
    (void)needsPassword(facts.protection);
    if (!derivationWanted(facts, slow)) return 0;

    const Unlock unlock = MakePageDecoder(facts, "password");
    fuzz::Require((unlock.result == UnlockResult::Unlocked) == (unlock.decoder != nullptr));
    if (!unlock.decoder) return 0;
    // Jet 3 pages are 2048 bytes, the others 4096; the header is page 0.
    const size_t pageSize = length > 0x14 && file[0x14] == 0 ? 2048 : 4096;
    std::vector<uint8_t> out, again;
    for (size_t at = 0, page = 0; at < length; at += pageSize, ++page) {
        const size_t n = std::min(pageSize, length - at);
        out.assign(n, 0);
        unlock.decoder->decode(static_cast<uint32_t>(page), file + at, out.data(), n);
        // Decoding in place gives the same bytes.
        again.assign(file + at, file + at + n);
        unlock.decoder->decode(static_cast<uint32_t>(page), again.data(), again.data(), n);
        fuzz::Require(out == again);
        if (page == 0) fuzz::Require(std::equal(out.begin(), out.end(), file));
    }
    // A page number far beyond any file.
    if (length > 0) {
        out.assign(std::min<size_t>(length, 64), 0);
        unlock.decoder->decode(0xFFFFFFFFu, file, out.data(), out.size());
    }
    return 0;
}
