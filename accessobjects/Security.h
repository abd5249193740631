// Access's per-user security values, switched to permissive while Access is
// driven and set back afterwards. The registry is behind an interface; on
// Linux there is none and nothing is written.
#pragma once

#include <cstdint>
#include <string>

#include "accessobjects/Automation.h"

namespace talmera {

class IUserRegistry {
public:
    virtual ~IUserRegistry() = default;
    // Opens the key (creating it when missing) and writes one DWORD value;
    // false when the key can be neither opened nor created.
    virtual bool WriteDword(const std::string& key, const std::string& value, uint32_t data) = 0;
};

class NoRegistry : public IUserRegistry {
public:
    bool WriteDword(const std::string&, const std::string&, uint32_t) override { return false; }
};

// The two keys of the detected version; false when no listed version was
// detected (Access 97 or none).
bool SecurityKeys(const AccessVersion& version, std::string& securityKey, std::string& engineKey);

// permissive: VBAWarnings 1, Level 1, SandboxMode 1; else 0, 2, 0. Keys that
// cannot be written are passed over.
void WriteSecurityValues(IUserRegistry& registry, const AccessVersion& version, bool permissive);

}  // namespace talmera
