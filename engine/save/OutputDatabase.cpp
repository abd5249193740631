// The output database: creating it beside an existing file (overwrite or a new
// name), the tables of the selected source tables with their fields and
// indexes, and closing it.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    return ::stat(path.c_str(), &st) == 0;
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
bool COutputDatabase::Stopped() const { return engine_.Stopped(); }

void COutputDatabase::NoteOutputError(const dao::ComError& error) {
    // Errors of output calls are not shown; they are kept (the most recent
    // ones) for the log's counts and for diagnosis.
    constexpr size_t kKept = 1000;
    if (outputErrors.size() >= kKept) outputErrors.erase(outputErrors.begin());
    outputErrors.push_back("DbConnection:" + dao::FormatComError(error));
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

    // Never replace a file without asking: overwrite it, or choose a new name.
    // A receiver that keeps answering with the existing name is asked again,
    // but not forever; an empty answer cancels the save.
    constexpr int kMaxQuestions = 20;
    for (int asked = 0; fileExists(outputPath); ++asked) {
        if (asked == kMaxQuestions) {
            outputErrors.push_back("No new name was chosen for the existing output " + outputPath + ".");
            return 0;
        }
        if (receiver && receiver->askOverwrite(outputPath)) {
            if (::unlink(outputPath.c_str()) != 0) {
                outputErrors.push_back("The existing output " + outputPath + " cannot be deleted: " +
                                       std::strerror(errno));
                return 0;
            }
            continue;
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

    const int option = aceFormat ? dao::dbVersion120 : (jet4Layout ? dao::dbVersion40 : dao::dbVersion30);
    try {
        set.database = set.engine->CreateDatabase(outputPath, kLocale, option);
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        return 0;
    }
    app.savedPath = outputPath;
    return 1;
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

        try {
            set.tableDef = set.database->CreateTableDef(outputName);
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
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
            }
        }
        try {
            if (set.tableDef->FieldCount() == 0) continue;
            set.database->AppendTableDef(set.tableDef);
            used.push_back(outputName);
            outputTableNames[k] = outputName;
            CreateOutputIndexes(table, outputName);
            ApplyFieldProperties(table, outputName);
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
            continue;
        }
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

void COutputDatabase::CreateOutputIndexes(const tableInfo& table, const std::string& outputName) {
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
