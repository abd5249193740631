// The output database: creating it beside an existing file (overwrite or a new
// name), the tables of the selected source tables with their fields and
// indexes, and closing it.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/OutputDatabase.h"
#include "engine/save/OutputTypes.h"
#include "platform/LocalTime.h"
#include "platform/MessageReceiver.h"
#include "platform/TextCodec.h"

namespace talmera {

namespace {

// The sort order the output database is created with, as DAO's CreateDatabase
// takes it: the Cyrillic general order (language 0x0419, code page 1251,
// country 7), the locale this save has always passed whatever the source's.
// The embedded SQLite engine records it in the metadata ("locale") and sorts
// by it nothing.
const char kLocale[] = ";LANGID=0x0419;CP=1251;COUNTRY=7;";

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string folderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

// Waits until the folder's entries (a file just moved in) are on the disk.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Moves from to to when nothing is at to; EEXIST when something is.
int renameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without that kind of rename: a link fails as well when
    // the name is taken (a folder cannot be linked: checked, then renamed).
    struct stat st {};
    if (::lstat(from.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        if (::link(from.c_str(), to.c_str()) == 0) return ::unlink(from.c_str()) == 0 ? 0 : errno;
        if (errno != EPERM && errno != ENOTSUP) return errno;
    }
    if (fileExists(to)) return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// The first of base + suffix + extension, base + suffix + "_2" + extension,
// ... that names nothing.
std::string freeName(const std::string& base, const std::string& suffix, const std::string& extension) {
    std::string name = base + suffix + extension;
    for (int n = 2; fileExists(name) && n < 10000; ++n) name = base + suffix + "_" + std::to_string(n) + extension;
    return name;
}

// Removes a folder this save made, with the files in it.
void removeFolder(const std::string& folder) {
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") ::unlink((folder + "/" + name).c_str());
        }
        ::closedir(dir);
    }
    ::rmdir(folder.c_str());
}

std::string describe(const dao::ComError& error) {
    std::string text = error.description.empty() ? dao::FormatComError(error) : error.description;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

template <typename F>
void ignoringResult(COutputDatabase& engine, F&& f) {
    try {
        f();
    } catch (const dao::ComError& error) {
        engine.NoteOutputError(error);
    }
}

}  // namespace

COutputDatabase::COutputDatabase(CMDBRecovery& engine)
    : engine_(engine), app(engine.app), tables(engine.tables), queries(engine.queries),
      linkedTables(engine.linkedTables), systemTables(engine.systemTables), complexColumns(engine.complexColumns),
      relations(engine.relations), statistics(engine.statistics), relatedStatistics(engine.relatedStatistics),
      aceFormat(engine.aceFormat), jet4Layout(engine.jet4Layout), mainWindow(engine.mainWindow),
      outputPath(engine.outputPath), outputErrors(engine.outputErrors), savingTables(engine.savingTables),
      savingQueries(engine.savingQueries), savingLinkedTables(engine.savingLinkedTables) {}

COutputDatabase& OutputOf(CMDBRecovery& engine) {
    if (!engine.outputDatabase) engine.outputDatabase = std::make_shared<COutputDatabase>(engine);
    return *engine.outputDatabase;
}

void COutputDatabase::Log(const std::string& line) { engine_.Log(line); }
void COutputDatabase::SendProgress(uintptr_t step, intptr_t value) { engine_.SendProgress(step, value); }
bool COutputDatabase::Stopped() const { return writeFailed_ || engine_.Stopped(); }

void COutputDatabase::NoteOutputError(const dao::ComError& error) {
    // Errors of output calls are not shown; they are kept (the most recent
    // ones) for the log's counts and for diagnosis.
    constexpr size_t kKept = 1000;
    if (outputErrors.size() >= kKept) outputErrors.erase(outputErrors.begin());
    outputErrors.push_back("DbConnection:" + dao::FormatComError(error));
    // A failure of the file itself ends the save: nothing written since the
    // last commit is certain to be in the file.
    if (dao::IsWriteFailure(error.code) && !writeFailed_) {
        writeFailure_ = describe(error);
        writeFailed_ = true;
    }
}

std::string COutputDatabase::ProposeNewLocation(const std::string& existing, std::time_t when) {
    const size_t slash = existing.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : existing.substr(0, slash);
    const std::string file = slash == std::string::npos ? existing : existing.substr(slash + 1);
    const std::string stamp = formatLocalTime("_%B_%d_%Y %I_%M_%S %p", when);
    for (const char* extension : {".sqlite", ".mdb", ".MDB", ".accdb", ".ACCDB"}) {
        const size_t at = file.find(extension);
        if (at != std::string::npos) return folder + "/" + file.substr(0, at) + stamp + extension;
    }
    return folder + "/" + stamp + ".sqlite";
}

int COutputDatabase::StartOutputDatabase(IMessageReceiver* receiver) {
    OutputSet& set = Output();
    set = OutputSet{};
    writingPath.clear();
    replaceExisting = false;
    writeFailed_ = false;
    writeFailure_.clear();
    objectsFolder_.clear();
    // The front end chooses the output engine (the embedded SQLite one).
    if (!engineFactory) {
        outputErrors.push_back("No output engine is configured.");
        return 0;
    }
    try {
        set.engine = engineFactory();
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        return 0;
    }
    if (!set.engine) return 0;

    // Never replace a file without asking: overwrite it (once the new one is
    // complete), or choose a new name. A receiver that keeps answering with
    // the existing name is asked again, but not forever; an empty answer
    // cancels the save.
    constexpr int kMaxQuestions = 20;
    for (int asked = 0; fileExists(outputPath); ++asked) {
        if (asked == kMaxQuestions) {
            outputErrors.push_back("No new name was chosen for the existing output " + outputPath + ".");
            return 0;
        }
        if (receiver && receiver->askOverwrite(outputPath)) {
            // Only a file is replaced (at the end): a folder of that name stays.
            struct stat st {};
            if (::lstat(outputPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                outputErrors.push_back("The existing output " + outputPath + " cannot be replaced: " +
                                       std::strerror(EISDIR));
                return 0;
            }
            replaceExisting = true;
            break;
        }
        const std::string proposal = ProposeNewLocation(outputPath, std::time(nullptr));
        const std::string chosen = receiver ? receiver->askNewLocation(outputPath, proposal) : proposal;
        if (chosen.empty()) {
            outputErrors.push_back("The save was cancelled: " + outputPath + " exists.");
            return 0;
        }
        if (chosen == outputPath) {
            if (receiver) receiver->showPlatformMessage("Pls Select The Diffrent Name");
            if (!receiver) return 0;  // nobody to ask: never loop
        }
        outputPath = chosen;
    }
    // Said plainly, before anything is written.
    const std::string folder = folderOf(outputPath);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        outputErrors.push_back("The folder " + folder + " cannot be written: " + std::strerror(errno) + ".");
        return 0;
    }

    // The new file is written beside the destination; a name an earlier,
    // killed save left behind is passed over.
    const int option = aceFormat ? dao::dbVersion120 : (jet4Layout ? dao::dbVersion40 : dao::dbVersion30);
    constexpr int kCandidates = 100;
    for (int n = 1; n <= kCandidates && !set.database; ++n) {
        const std::string candidate = outputPath + ".partial" + (n == 1 ? std::string() : "-" + std::to_string(n));
        try {
            set.database = set.engine->CreateDatabase(candidate, kLocale, option);
            writingPath = candidate;
        } catch (const dao::ComError& error) {
            if (error.code == dao::kErrDatabaseExists && n < kCandidates) continue;
            NoteOutputError(error);
            writeFailed_ = false;
            return 0;
        }
    }
    app.savedPath = outputPath;
    return 1;
}

std::string COutputDatabase::ObjectsFolderOf(const std::string& output) {
    const std::filesystem::path path(output);
    return (path.parent_path() / (path.stem().string() + "_objects")).string();
}

std::string COutputDatabase::ObjectsFolderBeingWritten() {
    if (!objectsFolder_.empty()) return objectsFolder_;
    std::string pattern = ObjectsFolderOf(outputPath) + ".partial-XXXXXX";
    if (::mkdtemp(pattern.data())) objectsFolder_ = pattern;
    return objectsFolder_;
}

bool COutputDatabase::PlaceOutput(bool complete) {
    if (writingPath.empty()) return false;
    const std::filesystem::path destination(outputPath);
    std::string target = outputPath;
    if (!complete && fileExists(target)) {
        // The previous file stays; what a stopped save wrote is kept beside it.
        target = freeName((destination.parent_path() / destination.stem()).string(), "_incomplete",
                          destination.extension().string());
    }
    int failure = complete && replaceExisting ? (::rename(writingPath.c_str(), target.c_str()) == 0 ? 0 : errno)
                                              : renameNoReplace(writingPath, target);
    if (failure == EEXIST) {
        // A file of that name came meanwhile: it is kept too.
        target = ProposeNewLocation(outputPath, std::time(nullptr));
        failure = renameNoReplace(writingPath, target);
    }
    if (failure != 0) {
        outputErrors.push_back("The repaired database " + writingPath + " cannot be moved to " + target + ": " +
                               std::strerror(failure));
        return false;
    }
    syncFolder(folderOf(target));
    if (target != outputPath) Log("The repaired database is saved as  : " + target);
    const std::string announced = ObjectsFolderOf(outputPath);
    writingPath.clear();
    outputPath = target;
    app.savedPath = target;
    report_.output = target;
    MovePlacedObjects(target, complete, announced);
    return true;
}

void COutputDatabase::MovePlacedObjects(const std::string& placedOutput, bool complete, const std::string& announced) {
    if (objectsFolder_.empty()) return;
    const std::string written = objectsFolder_;
    objectsFolder_.clear();
    std::string target = ObjectsFolderOf(placedOutput);
    if (fileExists(target) && complete && replaceExisting) {
        // Replaced as the database was: each file of the new folder over its
        // namesake; other files the user keeps there stay.
        bool moved = true;
        if (DIR* dir = ::opendir(written.c_str())) {
            while (const dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name == "." || name == "..") continue;
                moved = ::rename((written + "/" + name).c_str(), (target + "/" + name).c_str()) == 0 && moved;
            }
            ::closedir(dir);
        }
        if (moved) {
            ::rmdir(written.c_str());
            syncFolder(target);
            return;
        }
    }
    int failure = renameNoReplace(written, target);
    if (failure == EEXIST) {
        // Never replaced without leave: the new folder goes beside it.
        const std::string base = target;
        for (int n = 2; fileExists(target) && n < 10000; ++n) target = base + " (" + std::to_string(n) + ")";
        failure = renameNoReplace(written, target);
    }
    if (failure != 0) {
        Log("The objects folder could not be moved into place; it is kept as  : " + written);
        return;
    }
    syncFolder(folderOf(target));
    // The log named the folder the objects were meant for.
    if (target != announced) Log("Objects folder  : " + target);
}

void COutputDatabase::DiscardOutput() {
    // Closed without another write where the file has failed; then removed.
    if (set_.database) {
        try {
            set_.database->Close();
        } catch (const dao::ComError&) {
        }
    }
    set_ = OutputSet{};
    if (!writingPath.empty()) ::unlink(writingPath.c_str());
    writingPath.clear();
    if (!objectsFolder_.empty()) removeFolder(objectsFolder_);
    objectsFolder_.clear();
}

int COutputDatabase::CreateOutputTables() {
    OutputSet& set = Output();
    if (mainWindow) mainWindow->send(UM_PROGRESS, kProgressStart, app.tableCount);
    outputTableNames.assign(tables.size(), std::string());
    renamedTables.clear();
    std::vector<std::string> used;
    for (size_t k = 0; k < tables.size(); ++k) {
        const tableInfo& table = tables[k];
        if (table.deletedRecords && !app.includeDeletedRecords) continue;
        bool selected = false;
        for (const std::string& name : app.selectedTables) selected = selected || name == table.name;
        // A table is created once, however often it is selected.
        if (!selected) continue;
        if (mainWindow) mainWindow->send(UM_PROGRESS, kProgressStep, 0);

        // Two source tables of one name (a damaged catalog) get two output tables.
        std::string outputName = table.name;
        auto taken = [&](const std::string& n) {
            for (const std::string& u : used) {
                if (equalsIgnoreCase(u, n)) return true;
            }
            return false;
        };
        for (int n = 2; taken(outputName); ++n) outputName = table.name + "_" + std::to_string(n);
        if (outputName != table.name) renamedTables.push_back({table.name, outputName});

        // What the output refuses of a table (the table, a field, an index)
        // costs that much only, and the report says so.
        try {
            set.tableDef = set.database->CreateTableDef(outputName);
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
            NoteTableLoss(k, "the output database refused the table: " + describe(error));
            continue;
        }
        for (columnInfo& col : tables[k].columns) {
            if (col.type == kJetComplex) {
                // Attachments and multi-valued columns: the value table decides the type.
                try {
                    set.field = set.tableDef->CreateField(col.name, ComplexFieldType(table.definitionPage, col.name, tables[k]));
                    set.tableDef->AppendField(set.field);
                } catch (const dao::ComError& error) {
                    NoteOutputError(error);
                    NoteTableLoss(k, "the output database refused the column " + col.name + ": " + describe(error));
                }
                continue;
            }
            try {
                const int type = OutputFieldType(col);
                set.field = set.tableDef->CreateField(col.name, type);
                if (type == dao::dbText) set.field->SetSize(col.length / (jet4Layout ? 2 : 1));
                if (col.isAutoNumber) {
                    ignoringResult(*this, [&] { set.field->SetAttributes(dao::dbAutoIncrField); });
                    if (aceFormat && col.type == kJetGuid) set.field->SetDefaultValue("GenGUID()");
                }
                if (col.isHyperlink) {
                    ignoringResult(*this, [&] { set.field->SetAttributes(dao::dbHyperlinkField); });
                } else if (type == dao::dbGUID) {
                    ignoringResult(*this, [&] { set.field->SetAttributes(dao::dbFixedField); });
                }
                if (aceFormat && col.isCalculated) {
                    for (const columnProperties& p : col.properties) {
                        if (p.name != "Expression") continue;
                        try {
                            set.field->SetExpression(p.value);
                        } catch (const dao::ComError& error) {
                            NoteOutputError(error);
                        }
                    }
                }
                set.tableDef->AppendField(set.field);
            } catch (const dao::ComError& error) {
                NoteOutputError(error);
                NoteTableLoss(k, "the output database refused the column " + col.name + ": " + describe(error));
            }
        }
        try {
            if (set.tableDef->FieldCount() == 0) {
                NoteTableLoss(k, "none of its columns could be created in the output database");
                continue;
            }
            set.database->AppendTableDef(set.tableDef);
            used.push_back(outputName);
            outputTableNames[k] = outputName;
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
            NoteTableLoss(k, "the output database refused the table: " + describe(error));
            continue;
        }
        std::vector<std::string> indexLosses;
        try {
            CreateOutputIndexes(table, outputName, &indexLosses);
            ApplyFieldProperties(table, outputName);
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
        }
        for (const std::string& loss : indexLosses) NoteTableLoss(k, loss);
        // Second pass: sizes again, and a decimal's own precision and scale.
        for (const columnInfo& col : table.columns) {
            if (col.type == kJetComplex) continue;
            try {
                set.tableDef = set.database->TableDefItem(outputName);
                set.field = set.tableDef->FieldItem(col.name);
                const int type = OutputFieldType(col);
                if (type == dao::dbText && !aceFormat) set.field->SetSize(col.length / (jet4Layout ? 2 : 1));
                if (type == dao::dbGUID && !aceFormat) set.field->SetSize(col.length);
                if (type == dao::dbDecimal) {
                    set.property = set.field->CreateProperty("Precision", 3, int64_t{col.precision}, true);
                    set.field->AppendProperty(set.property);
                    set.property = set.field->CreateProperty("Scale", 3, int64_t{col.scale}, true);
                    set.field->AppendProperty(set.property);
                    set.field->RefreshProperties();
                    set.tableDef->RefreshFields();
                    set.database->RefreshTableDefs();
                }
            } catch (const dao::ComError& error) {
                NoteOutputError(error);
            }
        }
    }
    if (mainWindow) mainWindow->send(UM_PROGRESS, kProgressEnd, 0);
    set.field.reset();
    set.indexField.reset();
    set.tableDef.reset();
    return 1;
}

void COutputDatabase::CreateOutputIndexes(const tableInfo& table, const std::string& outputName,
                                          std::vector<std::string>* losses) {
    OutputSet& set = Output();
    try {
        set.tableDef = set.database->TableDefItem(outputName);
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        return;
    }
    for (const indexInfo& index : table.indexes) {
        for (size_t j = 0; j < index.indexNames.size(); ++j) {
            const uint8_t typeByte = j < index.indexTypes.size() ? index.indexTypes[j] : 0;
            auto lost = [&](const dao::ComError& error) {
                if (losses) losses->push_back("the output database refused the index " + index.indexNames[j] + ": " + describe(error));
            };
            try {
                set.index = set.tableDef->CreateIndex(index.indexNames[j]);
                bool applied = false;
                if (typeByte == 1 && index.isPrimary) {
                    set.index->SetPrimary(true);
                    applied = true;
                } else if (typeByte == 0 && index.isPrimary) {
                    set.index->SetUnique(true);
                    applied = true;
                }
                if (!applied && index.isUnique) set.index->SetUnique(true);
                if (index.ignoresNulls) set.index->SetIgnoreNulls(true);
            } catch (const dao::ComError& error) {
                NoteOutputError(error);
                lost(error);
                continue;
            }
            const columnInfo* last = nullptr;
            for (size_t c = 0; c < index.columnNumbers.size(); ++c) {
                last = nullptr;
                for (const columnInfo& col : table.columns) {
                    if (col.columnNumber == index.columnNumbers[c]) {
                        last = &col;
                        break;
                    }
                }
                if (!last || last->type == kJetComplex) continue;
                try {
                    set.indexField = set.index->CreateField(last->name, OutputFieldType(*last));
                    if (c < index.columnOrders.size() && index.columnOrders[c] == 0) {
                        ignoringResult(*this, [&] { set.indexField->SetAttributes(dao::dbDescending); });
                    }
                    set.index->AppendField(set.indexField);
                } catch (const dao::ComError& error) {
                    NoteOutputError(error);
                }
            }
            if (!last || last->type == kJetComplex) continue;
            try {
                set.tableDef->AppendIndex(set.index);
            } catch (const dao::ComError& error) {
                NoteOutputError(error);
                lost(error);
            }
        }
    }
    set.index.reset();
}

int COutputDatabase::CloseOutputDatabase() {
    OutputSet& set = Output();
    int result = 1;
    if (set.database) {
        try {
            set.database->Close();
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
            result = 0;
        }
    }
    set = OutputSet{};
    return result;
}

}  // namespace talmera
