// What the object storage holds, read from rebuilt project files: the forms,
// reports, macros and modules with their storage entries, and the source text
// of every module of the code project. Without Microsoft Access the objects
// cannot be copied into the output database, so they are kept beside it in a
// folder: the project file(s), one text file per module and a listing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "accessobjects/VbaCompression.h"

namespace talmera {

// The four object kinds as the storage names their folders.
enum class ObjectKind { Form = 0, Report = 1, Module = 2, Macro = 3 };
const char* StorageFolderName(ObjectKind kind);  // "Forms", "Reports", "Modules", "Scripts"
const char* KindLabel(ObjectKind kind);          // "Forms", "Reports", "Macros", "Modules"

struct StoredObject {
    ObjectKind kind = ObjectKind::Form;
    std::string name;               // from the folder's name list, else the catalog
    int64_t storage = -1;           // number of its storage in the folder; -1 when not stored
    std::vector<std::pair<std::string, uint64_t>> streams;  // stream name, size
    bool inCatalog = false;
    std::string moduleFile;         // the .bas file of its code, when recovered
    size_t codeLines = 0;
};

struct ModuleSource {
    std::string name;
    vba::ModuleKind kind = vba::ModuleKind::Standard;
    std::string text;               // UTF-8
    size_t lines = 0;
    bool damaged = false;           // the stream or its compression was damaged
    // The text is not the whole source: the stream was missing, bytes of it
    // were not in the project file, or its compression broke off. The
    // objects.txt listing says so; the repair's report can count it.
    bool incomplete = false;
};

struct ProjectFile {
    std::string fileName;           // "project.adp", ...
    std::vector<uint8_t> image;
};

struct ObjectsListing {
    std::vector<StoredObject> objects;
    std::vector<ModuleSource> modules;
    bool codeProjectFound = false;
    uint32_t unreadableParts = 0;   // chains, entries and streams passed over
};

// Catalog names per kind (forms, reports, macros, modules as the catalog lists them).
struct CatalogObjectNames {
    std::vector<std::string> forms, reports, macros, modules;
};

// Adds what one project image holds to the listing (objects already listed
// under the same kind and name are completed, not repeated).
void ReadProjectImage(const std::vector<uint8_t>& image, ObjectsListing& listing);
// Adds the catalog's names that no storage listed, and ties modules to objects.
void CompleteListing(ObjectsListing& listing, const CatalogObjectNames& catalog);

// A name from the damaged file made safe as one file name: no path separators,
// control characters or reserved characters, not "." or "..", at most 120
// bytes, never empty.
std::string SafeFileName(const std::string& name);

// The listing as objects.txt holds it.
std::string ListingText(const ObjectsListing& listing, const std::vector<ProjectFile>& projects);

// Writes folder (created when missing): the project files, one "<module>.bas"
// per recovered module and objects.txt. Existing files of those names are
// replaced; a symbolic link in their place is refused. Returns false with
// error set when the folder or a file cannot be written; written lists the
// file names that were.
bool WriteObjectsFolder(const std::string& folder, const std::vector<ProjectFile>& projects,
                        ObjectsListing& listing, std::vector<std::string>& written, std::string& error);

}  // namespace talmera
