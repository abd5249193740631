#include "accessobjects/Security.h"

namespace talmera {

AccessVersion ParseAccessVersion(const std::string& text) {
    AccessVersion v;
    auto has = [&](const char* s) { return text.find(s) != std::string::npos; };
    // Tested in this order; the first match decides.
    if (has("8")) v.v8 = true;
    else if (has("9")) v.v9 = true;
    else if (has("10")) v.v10 = true;
    else if (has("11")) v.v11 = true;
    else if (has("12")) v.v12 = true;
    else if (has("14")) v.v14 = true;
    else if (has("15") || has("16")) v.newest = v.v14 = true;
    return v;
}

bool SecurityKeys(const AccessVersion& version, std::string& securityKey, std::string& engineKey) {
    const char* office = version.v9    ? "9.0"
                         : version.v10 ? "10.0"
                         : version.v11 ? "11.0"
                         : version.v12 ? "12.0"
                         : version.v14 ? "14.0"
                                       : nullptr;
    if (!office) return false;
    const std::string base = std::string("Software\\Microsoft\\Office\\") + office + "\\Access";
    securityKey = base + "\\Security";
    engineKey = base + "\\Jet\\4.0\\Engines";
    return true;
}

void WriteSecurityValues(IUserRegistry& registry, const AccessVersion& version, bool permissive) {
    std::string securityKey, engineKey;
    if (!SecurityKeys(version, securityKey, engineKey)) return;
    registry.WriteDword(securityKey, "VBAWarnings", permissive ? 1 : 0);
    registry.WriteDword(securityKey, "Level", permissive ? 1 : 2);
    registry.WriteDword(engineKey, "SandboxMode", permissive ? 1 : 0);
}

}  // namespace talmera
