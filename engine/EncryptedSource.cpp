// Opening an encrypted source: the header's protection facts, the password
// question, and the page decoder put under the page file, so that every reader
// above sees plain pages.
#include "engine/EncryptedSource.h"

#include <algorithm>
#include <vector>

#include "engine/MDBRecovery.h"
#include "engine/encryption/PageDecoder.h"
#include "platform/MessageReceiver.h"

namespace talmera {

namespace {
// The header page is 2048 bytes in Jet 3 and 4096 after; the provider block
// of an ACE header lies in the second half.
constexpr size_t kHeaderBytes = 4096;
constexpr uint16_t kJet3PageSize = 2048, kJet4PageSize = 4096;
constexpr uint8_t kJet3Version = 0;
// A front end that keeps answering wrong passwords is stopped after this many.
constexpr int kMaxPasswordAttempts = 20;

// The first pages after the header, as evidence of how the pages are stored.
constexpr uint64_t kSampledPages = 64;
// What of a page the sample looks at: one cipher block decodes on its own.
constexpr size_t kSampledBytes = 16;
enum PageType : uint8_t { kFirstPageType = 0x01, kLastPageType = 0x05 };
constexpr uint8_t kPageMarker = 0x01;

// How many of the sampled pages look like Access pages (a known type byte and
// the marker after it), among those that are not blank.
struct PageSample {
    int pages = 0;
    int plausible = 0;
    bool mostlyPlausible() const { return pages > 0 && 2 * plausible > pages; }
};

PageSample samplePages(const PageFile& file, uint32_t pageSize, const encryption::PageDecoder* decoder) {
    PageSample sample;
    const uint64_t pages = std::min<uint64_t>(file.length() / pageSize, kSampledPages + 1);
    for (uint64_t p = 1; p < pages; ++p) {
        uint8_t head[kSampledBytes];
        file.read(p * pageSize, sizeof head, head);
        if (std::all_of(head, head + 8, [](uint8_t b) { return b == 0; })) continue;  // a blank (or zeroed) page
        if (decoder) decoder->decode(static_cast<uint32_t>(p), head, head, sizeof head);
        ++sample.pages;
        if (head[0] >= kFirstPageType && head[0] <= kLastPageType && head[1] == kPageMarker) ++sample.plausible;
    }
    return sample;
}
}  // namespace

std::string SourceProtection::logLine() const {
    using encryption::Protection;
    switch (facts.protection) {
        case Protection::None: return {};
        case Protection::JetPassword: return "Protection of the file  :  " + description;
        default: break;
    }
    if (pagesStoredPlainly) {
        return "Protection of the file  :  " + description +
               ", named by a damaged header: the pages are stored plainly and were read as they are";
    }
    switch (facts.protection) {
        case Protection::JetRc4: return "Protection of the file  :  " + description + "; the pages were decoded";
        default: return "Protection of the file  :  " + description + "; the pages were decoded with the password";
    }
}

std::string SourceProtection::reasonLine() const {
    switch (lock) {
        case SourceLock::Open: return {};
        case SourceLock::PasswordMissing: return "This file is encrypted: a password is needed.";
        case SourceLock::PasswordRejected: return "This file is encrypted: the password is not correct.";
        case SourceLock::MethodUnknown: return "This file is encrypted with a method this tool cannot read (" + description + ").";
        case SourceLock::DecodeFailed: return "This file is encrypted; its decoded pages could not be kept: " + decodeError + ".";
    }
    return {};
}

bool CMDBRecovery::UnlockSource() {
    using encryption::Protection;
    protection = SourceProtection{};
    std::vector<uint8_t> header(kHeaderBytes);
    databaseFile.read(0, header.size(), header.data());
    protection.facts = encryption::ReadEncryptionFacts(header.data(), std::min<uint64_t>(fileLength, header.size()));
    protection.description = encryption::DescribeProtection(protection.facts);
    const Protection kind = protection.facts.protection;
    if (kind == Protection::None || kind == Protection::JetPassword) return true;  // pages as stored
    // Pages that already read as Access pages are not encoded, whatever a
    // damaged header says; decoding them would lose the whole file.
    if (samplePages(databaseFile, kJet3PageSize, nullptr).mostlyPlausible() ||
        samplePages(databaseFile, kJet4PageSize, nullptr).mostlyPlausible()) {
        protection.pagesStoredPlainly = true;
        return true;
    }
    if (kind == Protection::OfficeUnreadable) {
        protection.lock = SourceLock::MethodUnknown;
        return false;
    }

    encryption::Unlock unlock;
    if (!encryption::needsPassword(kind)) {
        unlock = encryption::MakePageDecoder(protection.facts, {});
    } else {
        for (int attempt = 0; unlock.result != encryption::UnlockResult::Unlocked; ++attempt) {
            std::optional<std::string> password;
            if (mainWindow && attempt < kMaxPasswordAttempts && !Stopped()) password = mainWindow->askPassword(sourcePath, attempt);
            if (!password) {
                protection.lock = attempt == 0 ? SourceLock::PasswordMissing : SourceLock::PasswordRejected;
                return false;
            }
            unlock = encryption::MakePageDecoder(protection.facts, *password);
            if (unlock.result == encryption::UnlockResult::Unreadable) break;
        }
    }
    if (!unlock.decoder) {
        protection.lock = SourceLock::MethodUnknown;
        return false;
    }

    // The page numbers that key the pages count pages of the format's size,
    // whatever layout the scan tries later. A Jet file whose version byte is
    // damaged is decoded with the page size that yields Access pages.
    uint32_t decodeSize = versionByte == kJet3Version ? kJet3PageSize : kJet4PageSize;
    if (kind == Protection::JetRc4) {
        const uint32_t other = decodeSize == kJet3PageSize ? kJet4PageSize : kJet3PageSize;
        if (!samplePages(databaseFile, decodeSize, unlock.decoder.get()).mostlyPlausible() &&
            samplePages(databaseFile, other, unlock.decoder.get()).mostlyPlausible()) {
            decodeSize = other;
        }
    }
    const uint64_t pages = (fileLength + decodeSize - 1) / decodeSize;
    SendProgress(kProgressStart, static_cast<intptr_t>(pages));
    uint64_t pagesReported = 0;
    const encryption::PageDecoder& decoder = *unlock.decoder;
    const bool decoded = databaseFile.decodePages(
        decodeSize,
        [&](uint32_t page, const uint8_t* in, uint8_t* out, size_t size) { decoder.decode(page, in, out, size); },
        [&](uint64_t done, uint64_t) {
            for (const uint64_t upTo = (done + decodeSize - 1) / decodeSize; pagesReported < upTo; ++pagesReported) {
                SendProgress(kProgressStep);
            }
            return !Stopped();
        });
    SendProgress(kProgressEnd);
    if (!decoded) {
        protection.lock = SourceLock::DecodeFailed;
        protection.decodeError = databaseFile.error();
        return false;
    }
    return true;
}

}  // namespace talmera
