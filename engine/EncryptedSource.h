// How the source file is protected, as the engine found it when it opened the
// file, and whether its pages could be read (CMDBRecovery::UnlockSource,
// engine/EncryptedSource.cpp).
#pragma once

#include <string>

#include "engine/encryption/EncryptionHeader.h"

namespace talmera {

enum class SourceLock {
    Open,              // readable: not encrypted, or decoded
    PasswordMissing,   // encrypted, and no password was given
    PasswordRejected,  // encrypted, and the password given is not the file's
    MethodUnknown,     // encrypted in a way this reader cannot decode
    DecodeFailed,      // decodable, but no room for the decoded pages (or stopped)
};

struct SourceProtection {
    encryption::EncryptionFacts facts;
    SourceLock lock = SourceLock::Open;
    std::string description;  // the method in words
    std::string decodeError;  // DecodeFailed: why
    // The header names a page key, but the pages are plainly stored Access
    // pages (a damaged header): they are read as they are.
    bool pagesStoredPlainly = false;

    bool locked() const { return lock != SourceLock::Open; }
    // The log's line about the protection of a file that was read; empty for
    // an unprotected one.
    std::string logLine() const;
    // The log's line that says why a locked file was not read.
    std::string reasonLine() const;
};

}  // namespace talmera
