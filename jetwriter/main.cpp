// talmera-jetwriter: writes the demo database or benchmark inputs, optionally
// damaged, for tests, demonstrations and benchmarks.
#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "jetwriter/JetWriter.h"

namespace {

using namespace jetwriter;

Format parseFormat(const std::string& s) {
    if (s == "jet3") return Format::Jet3;
    if (s == "jet4") return Format::Jet4;
    if (s == "ace") return Format::Ace;
    throw std::invalid_argument("unknown format \"" + s + "\" (jet3, jet4 or ace)");
}

uint64_t parseNumber(const std::string& s, const char* what) {
    size_t used = 0;
    uint64_t v = 0;
    try {
        v = std::stoull(s, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != s.size()) throw std::invalid_argument(std::string("bad ") + what + " \"" + s + "\"");
    return v;
}

struct DamageOptions {
    std::string versionByte;
    std::vector<std::string> zeroPages;
    bool zeroCatalogDefinition = false;
    std::string truncate;
    std::vector<std::string> flips;

    void addTo(CLI::App* app) {
        app->add_option("--version-byte", versionByte, "Overwrite the version byte at offset 0x14");
        app->add_option("--zero-page", zeroPages, "Fill this page with zeros (repeatable)")->allow_extra_args(false);
        app->add_flag("--zero-catalog-definition", zeroCatalogDefinition, "Zero page 2, the catalog's definition");
        app->add_option("--truncate", truncate, "Cut the file to this many bytes");
        app->add_option("--flip", flips, "XOR the byte at OFFSET with MASK, as OFFSET:MASK (repeatable)")->allow_extra_args(false);
    }

    Damage parse() const {
        Damage d;
        if (!versionByte.empty()) {
            uint64_t v = parseNumber(versionByte, "version byte");
            if (v > 255) throw std::invalid_argument("version byte must be 0..255");
            d.versionByte = uint8_t(v);
        }
        for (const std::string& p : zeroPages) d.zeroPages.push_back(uint32_t(parseNumber(p, "page number")));
        d.zeroCatalogDefinition = zeroCatalogDefinition;
        if (!truncate.empty()) d.truncateTo = parseNumber(truncate, "length");
        for (const std::string& f : flips) {
            size_t colon = f.find(':');
            if (colon == std::string::npos) throw std::invalid_argument("--flip needs OFFSET:MASK, got \"" + f + "\"");
            uint64_t mask = parseNumber(f.substr(colon + 1), "mask");
            if (mask > 255) throw std::invalid_argument("flip mask must be 0..255");
            d.flips.push_back({parseNumber(f.substr(0, colon), "offset"), uint8_t(mask)});
        }
        return d;
    }
};

struct EncryptionOptions {
    std::string method;
    std::string password;
    uint32_t keyBits = 0;
    std::string agileHash = "SHA512";
    uint32_t spinCount = 100000;

    void addTo(CLI::App* app) {
        app->add_option("--encrypt", method,
                        "Encrypt the pages: rc4 (Jet 3, Jet 4), standard (ACE, CryptoAPI RC4), standard-aes (ACE, "
                        "AES standard) or agile (ACE, AES-CBC)")
            ->check(CLI::IsMember({"rc4", "standard", "standard-aes", "agile"}));
        app->add_option("--password", password,
                        "The password: for Jet the database password kept in the header (alone it encodes nothing), "
                        "for ACE the one the keys come from");
        app->add_option("--key-bits", keyBits, "Key size (default 128 for standard, 256 for agile)");
        app->add_option("--agile-hash", agileHash, "Agile key derivation hash")
            ->check(CLI::IsMember({"SHA1", "SHA256", "SHA384", "SHA512"}))
            ->capture_default_str();
        app->add_option("--spin-count", spinCount, "Agile key derivation rounds")->capture_default_str();
    }

    void applyTo(Database& db) const {
        EncryptionSettings& e = db.encryption;
        e.method = method == "rc4"            ? Encryption::JetRc4
                   : method == "standard"     ? Encryption::OfficeRc4CryptoApi
                   : method == "standard-aes" ? Encryption::OfficeAesStandard
                   : method == "agile"        ? Encryption::OfficeAgile
                                              : Encryption::None;
        e.password = password;
        e.keyBits = keyBits;
        e.agileHash = agileHash;
        e.spinCount = spinCount;
    }
};

nlohmann::json layoutJson(const Layout& l) {
    nlohmann::json j;
    j["pageSize"] = l.pageSize;
    j["pageCount"] = l.pageCount;
    j["catalogPages"] = l.catalogPages;
    for (const TableLayout& t : l.tables) {
        j["tables"].push_back({{"name", t.name},
                               {"definitionPages", t.definitionPages},
                               {"dataPages", t.dataPages},
                               {"stalePages", t.stalePages},
                               {"usageMapPage", t.usageMapPage},
                               {"usageMapRow", t.usageMapRow},
                               {"columnEntriesOffset", t.columnEntriesOffset},
                               {"columnEntrySize", t.columnEntrySize},
                               {"columnNamesOffset", t.columnNamesOffset}});
    }
    return j;
}

int emit(const Database& db, const std::string& out, const DamageOptions& damage, bool printLayout) {
    auto start = std::chrono::steady_clock::now();
    Layout layout;
    std::vector<uint8_t> image = write(db, &layout);
    applyDamage(image, damage.parse(), layout);
    saveFile(out, image);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (printLayout)
        std::cout << layoutJson(layout).dump(2) << "\n";
    else
        std::cerr << "wrote " << out << ": " << image.size() << " bytes, " << layout.pageCount << " pages of "
                  << layout.pageSize << " bytes in " << seconds << " s\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Writes Jet 3, Jet 4 and ACE database files: the demo database and benchmark inputs, optionally "
                 "encrypted"};
    app.require_subcommand(1);

    std::string format = "jet4";
    std::string out;
    size_t rows = 100000;
    bool printLayout = false;
    DamageOptions damage;
    EncryptionOptions encryption;

    // Options every subcommand has; rowsHelp adds --rows.
    auto subcommand = [&](const char* name, const char* help, const char* rowsHelp) {
        CLI::App* sub = app.add_subcommand(name, help);
        sub->add_option("--format", format, "jet3, jet4 or ace")->check(CLI::IsMember({"jet3", "jet4", "ace"}));
        if (rowsHelp) sub->add_option("--rows", rows, rowsHelp)->check(CLI::Range(size_t(1), size_t(50000000)));
        sub->add_option("OUT", out, "File to write")->required();
        sub->add_flag("--print-layout", printLayout, "Print where pages landed, as JSON");
        damage.addTo(sub);
        encryption.addTo(sub);
        return sub;
    };
    CLI::App* demo = subcommand("demo", "Write the demo database", nullptr);
    bool objectStorage = false;
    demo->add_flag("--object-storage", objectStorage,
                   "Also store forms, reports, a macro, a module and the code project (MSysAccessObjects "
                   "chunks in .mdb files, MSysAccessStorage rows in .accdb files)");
    subcommand("big", "Write large tables for benchmarks", "Rows of the main table");
    CLI::App* benchRows =
        subcommand("bench-rows", "Write one large table of mixed values, memos and OLE objects", "Rows of the table");

    CLI11_PARSE(app, argc, argv);
    try {
        Format f = parseFormat(format);
        Database db = *demo ? demoDatabase(f) : *benchRows ? benchRowsDatabase(f, rows) : bigDatabase(f, rows);
        if (*demo && objectStorage) db.objectStorage = demoObjectStorage();
        encryption.applyTo(db);
        return emit(db, out, damage, printLayout);
    } catch (const std::exception& e) {
        std::cerr << "talmera-jetwriter: " << e.what() << "\n";
        return 1;
    }
}
