// The recovery report: built from the scan's findings, carried on by the
// save, and written as the log's summary, as JSON and (through the output
// database) as metadata rows.
#include "engine/save/RecoveryReport.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>

#include "engine/ApplicationState.h"
#include "engine/LogLines.h"
#include "engine/MDBRecovery.h"

namespace talmera {

namespace {

std::string plural(uint64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Why a definition page gave no table: what is there instead.
std::string definitionProblem(const CMDBRecovery& engine, uint32_t page) {
    const std::string where = "its definition page " + std::to_string(page);
    const uint64_t pos = static_cast<uint64_t>(page) * engine.pageSize;
    if (page == 0 || pos >= engine.fileLength) return where + " lies beyond the end of the file";
    std::vector<uint8_t> bytes(engine.pageSize);
    engine.databaseFile.read(pos, bytes.size(), bytes.data());
    if (std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; })) return where + " is zeroed";
    if (bytes[0] != 0x02) {
        char type[8];
        std::snprintf(type, sizeof type, "0x%02X", bytes[0]);
        return where + " holds no table definition (page type " + type + ")";
    }
    return where + " does not hold a user table's definition";
}

// The most rows a table can have in a file of this size: a row takes at
// least its slot and a few bytes of its page.
uint64_t rowCeiling(const CMDBRecovery& engine) { return engine.pageCount() * (engine.pageSize / 4u); }

// Pages the table's usage map lists that are not data pages of the table:
// zeroed, overwritten by other data, or past the end.
std::vector<std::string> unreadablePages(const CMDBRecovery& engine, const tableInfo& table) {
    std::vector<uint32_t> listed;
    if (!engine.ListUsageMapPages(table, listed)) return {};
    std::set<uint64_t> owned(table.pages.begin(), table.pages.end());
    owned.insert(table.unlistedPages.begin(), table.unlistedPages.end());
    std::vector<std::string> found;
    for (uint32_t page : listed) {
        const uint64_t pos = static_cast<uint64_t>(page) * engine.pageSize;
        if (owned.count(pos)) continue;
        std::vector<uint8_t> bytes(engine.pageSize);
        engine.databaseFile.read(pos, bytes.size(), bytes.data());
        const bool zeroed = std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
        found.push_back("data page " + std::to_string(page) + (zeroed ? " is zeroed" : " holds no rows of the table"));
    }
    return found;
}

}  // namespace

bool RecoveryReport::Table::Incomplete() const {
    return lostEntirely || !problems.empty() || lostRows.value_or(0) > 0 || refusedRows > 0 || partialValues > 0 ||
           !renamedColumns.empty();
}

bool RecoveryReport::Complete() const {
    if (stopped || failed) return false;
    for (const Table& t : tables) {
        if (t.Incomplete() || (saveRan && !t.saved)) return false;
    }
    for (const auto* list : {&queries, &relationships, &linkedTables, &objects}) {
        for (const Object& o : *list) {
            if (saveRan ? !o.saved : !o.problems.empty()) return false;
        }
    }
    return true;
}

uint64_t RecoveryReport::RowsLost() const {
    uint64_t n = 0;
    for (const Table& t : tables) n += t.lostRows.value_or(0);
    return n;
}

size_t RecoveryReport::TablesWithLostRows() const {
    return static_cast<size_t>(
        std::count_if(tables.begin(), tables.end(), [](const Table& t) { return t.lostRows.value_or(0) > 0; }));
}

size_t RecoveryReport::TablesLost() const {
    return static_cast<size_t>(std::count_if(tables.begin(), tables.end(), [this](const Table& t) {
        return t.lostEntirely || (saveRan && !t.saved);
    }));
}

uint64_t RecoveryReport::RowsRefused() const {
    uint64_t n = 0;
    for (const Table& t : tables) n += t.refusedRows;
    return n;
}

uint64_t RecoveryReport::ValuesPartial() const {
    uint64_t n = 0;
    for (const Table& t : tables) n += t.partialValues;
    return n;
}

RecoveryReport::Table* RecoveryReport::FindTable(const std::string& name) {
    for (Table& t : tables) {
        if (t.name == name) return &t;
    }
    return nullptr;
}

std::vector<std::string> RecoveryReport::Table::Problems(bool saveRan) const {
    std::vector<std::string> all;
    if (lostRows.value_or(0) > 0) {
        all.push_back(std::to_string(*lostRows) + " of the " + std::to_string(*expectedRows) +
                      " rows its definition counts " + (saveRan ? "are not in the output" : "were not found"));
    }
    all.insert(all.end(), problems.begin(), problems.end());
    return all;
}

void RecoveryReport::Table::SetRecovered(uint64_t rows) {
    recoveredRows = rows;
    if (expectedRows) lostRows = *expectedRows > rows ? *expectedRows - rows : 0;
}

RecoveryReport ScanReport(const CMDBRecovery& engine) {
    RecoveryReport report;
    report.source = engine.sourcePath.empty() ? engine.app.selectedPath : engine.sourcePath;
    const uint64_t ceiling = rowCeiling(engine);
    for (size_t position = 0; position < engine.tables.size(); ++position) {
        const tableInfo& t = engine.tables[position];
        if (t.deletedRecords && !engine.app.includeDeletedRecords) continue;
        RecoveryReport::Table entry;
        entry.name = t.name;
        entry.enginePosition = static_cast<int64_t>(position);
        entry.deletedRecords = t.deletedRecords;
        entry.foundRows = t.recordCount;
        if (t.definitionRecordCountRead && !t.deletedRecords) {
            if (t.definitionRecordCount <= ceiling) {
                entry.expectedRows = t.definitionRecordCount;
            } else {
                entry.notes.push_back("its definition counts " + std::to_string(t.definitionRecordCount) +
                                      " rows, more than the file can hold: the count is damaged");
            }
        }
        entry.SetRecovered(t.recordCount);
        const std::vector<std::string> pages = t.deletedRecords ? std::vector<std::string>{} : unreadablePages(engine, t);
        entry.unreadablePages = pages.size();
        // A page its map lists but that holds nothing of it costs rows only
        // where the definition's count says some are missing (or cannot say).
        const bool countAgrees = entry.lostRows && *entry.lostRows == 0;
        for (const std::string& p : pages) (countAgrees ? entry.notes : entry.problems).push_back(p);
        for (const tableInfo::RenamedColumn& c : t.renamedColumns) {
            entry.renamedColumns.push_back({c.name, c.storedHex});
            entry.problems.push_back("a column's damaged name (stored as " + c.storedHex + ") was replaced by " + c.name);
        }
        if (!t.unlistedPages.empty()) {
            entry.notes.push_back(plural(t.unlistedPages.size(), "page", "pages") + " not listed in its usage map " +
                                  (engine.app.includeUnlistedPages ? "included" : "set aside") + " (" +
                                  plural(t.unlistedRecordCount, "row", "rows") + ")");
        }
        report.tables.push_back(std::move(entry));
    }
    // A table of deleted records counts for its table as well.
    for (const RecoveryReport::Table& d : report.tables) {
        if (!d.deletedRecords) continue;
        const size_t cut = d.name.rfind(kDeletedRecordsSuffix);
        std::string owner = cut == std::string::npos ? d.name : d.name.substr(0, cut);
        while (!owner.empty() && owner.back() == ' ') owner.pop_back();
        for (RecoveryReport::Table& t : report.tables) {
            if (!t.deletedRecords && t.name == owner) t.deletedRows = d.foundRows;
        }
    }
    for (const ScanStatistics::RejectedTable& rejected : engine.statistics.rejectedTables) {
        RecoveryReport::Table entry;
        entry.name = rejected.name;
        entry.lostEntirely = true;
        entry.problems.push_back(definitionProblem(engine, rejected.definitionPage) +
                                 ": its columns and rows cannot be read");
        size_t pages = 0;
        for (uint64_t pos : engine.otherDataPages) {
            if (engine.databaseFile.u32(pos + 4) == rejected.definitionPage) ++pages;
        }
        if (pages) {
            entry.problems.push_back(plural(pages, "data page", "data pages") + " of it " +
                                     (pages == 1 ? "remains" : "remain") + ", unreadable without the definition");
        }
        report.tables.push_back(std::move(entry));
    }
    for (const queryInfo& q : engine.queries) {
        if (!q.sqlText.empty()) continue;
        report.queries.push_back({"query", q.name, false, {"its SQL text could not be rebuilt from the file"}});
    }
    return report;
}

std::string ReportJson(const RecoveryReport& report) {
    using Json = nlohmann::ordered_json;
    auto optional = [](const std::optional<uint64_t>& v) { return v ? Json(*v) : Json(nullptr); };
    Json out;
    out["source"] = report.source;
    out["output"] = report.output.empty() ? Json(nullptr) : Json(report.output);
    out["complete"] = report.Complete();
    out["stopped"] = report.stopped;
    out["failed"] = report.failed;
    out["rowsLost"] = report.RowsLost();
    out["tablesLost"] = report.TablesLost();
    Json tables = Json::array();
    for (const RecoveryReport::Table& t : report.tables) {
        Json entry;
        entry["name"] = t.name;
        entry["outputName"] = t.outputName.empty() ? Json(nullptr) : Json(t.outputName);
        entry["expectedRows"] = optional(t.expectedRows);
        entry["foundRows"] = t.foundRows;
        entry["recoveredRows"] = t.recoveredRows;
        entry["lostRows"] = optional(t.lostRows);
        entry["unreadablePages"] = t.unreadablePages;
        entry["refusedRows"] = t.refusedRows;
        entry["partialValues"] = t.partialValues;
        Json renamed = Json::array();
        for (const RecoveryReport::RenamedColumn& c : t.renamedColumns) {
            renamed.push_back(Json{{"name", c.name}, {"storedBytes", c.storedHex}});
        }
        entry["renamedColumns"] = renamed;
        entry["deletedRows"] = t.deletedRows;
        entry["deletedRecords"] = t.deletedRecords;
        entry["saved"] = t.saved;
        entry["problems"] = t.Problems(report.saveRan);
        entry["notes"] = t.notes;
        tables.push_back(entry);
    }
    out["tables"] = tables;
    auto objects = [](const std::vector<RecoveryReport::Object>& list, bool kind) {
        Json array = Json::array();
        for (const RecoveryReport::Object& o : list) {
            Json entry;
            entry["name"] = o.name;
            if (kind) entry["kind"] = o.kind;
            entry["saved"] = o.saved;
            entry["problems"] = o.problems;
            array.push_back(entry);
        }
        return array;
    };
    out["queries"] = objects(report.queries, false);
    out["relationships"] = objects(report.relationships, false);
    out["linkedTables"] = objects(report.linkedTables, false);
    out["objects"] = objects(report.objects, true);
    return out.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::vector<std::string> ReportLogLines(const RecoveryReport& report) {
    if (report.Complete()) return {};
    std::vector<std::string> lines;
    auto counted = [&](const std::string& text, uint64_t count) { lines.push_back(log::Counted(text + " :", count)); };
    lines.push_back("Recovery report");
    if (report.stopped) lines.push_back("The save was stopped before its end: the output is incomplete");
    counted("Rows lost ", report.RowsLost());
    counted("Tables lost ", report.TablesLost());
    for (const RecoveryReport::Table& t : report.tables) {
        if (!t.lostEntirely && !(report.saveRan && !t.saved)) continue;
        const std::vector<std::string> problems = t.Problems(report.saveRan);
        lines.push_back(t.name + "  :  " + (problems.empty() ? std::string("not saved") : problems.front()));
    }
    if (const uint64_t n = report.RowsRefused()) counted("Record(s) refused by the output database ", n);
    if (const uint64_t n = report.ValuesPartial()) counted("Long value(s) only partly recovered ", n);
    uint64_t renamed = 0;
    for (const RecoveryReport::Table& t : report.tables) renamed += t.renamedColumns.size();
    if (renamed) counted("Column name(s) replaced ", renamed);
    // What the tables that are there lack: rows, pages, fields, indexes.
    for (const RecoveryReport::Table& t : report.tables) {
        if (t.lostEntirely || (report.saveRan && !t.saved)) continue;
        for (const std::string& p : t.Problems(report.saveRan)) lines.push_back(t.name + "  :  " + p);
    }
    struct Kind {
        const char* line;
        const std::vector<RecoveryReport::Object>* list;
    };
    for (const Kind& kind : {Kind{"Queries not saved ", &report.queries},
                             Kind{"Relationships not saved ", &report.relationships},
                             Kind{"Linked tables not saved ", &report.linkedTables},
                             Kind{"Forms, reports, macros, modules not saved ", &report.objects}}) {
        std::vector<const RecoveryReport::Object*> lost;
        for (const RecoveryReport::Object& o : *kind.list) {
            if (report.saveRan ? !o.saved : !o.problems.empty()) lost.push_back(&o);
        }
        if (lost.empty()) continue;
        counted(kind.line, lost.size());
        for (const RecoveryReport::Object* o : lost) {
            const std::string name = kind.list == &report.objects ? o->name + " (" + o->kind + ")" : o->name;
            lines.push_back(name + "  :  " + (o->problems.empty() ? std::string("not saved") : o->problems.front()));
        }
    }
    lines.push_back(log::kSeparator);
    return lines;
}

std::string LossesLine(const RecoveryReport& report) {
    if (report.Complete()) return {};
    std::vector<std::string> parts;
    if (const uint64_t rows = report.RowsLost()) {
        parts.push_back(plural(rows, "row", "rows") + " in " + plural(report.TablesWithLostRows(), "table", "tables"));
    }
    size_t unreadable = 0, notSaved = 0;
    for (const RecoveryReport::Table& t : report.tables) {
        if (t.lostEntirely) ++unreadable;
        else if (report.saveRan && !t.saved) ++notSaved;
    }
    if (unreadable) parts.push_back(plural(unreadable, "table", "tables") + " unreadable");
    if (notSaved) parts.push_back(plural(notSaved, "table", "tables") + " not saved");
    if (const uint64_t n = report.RowsRefused()) parts.push_back(plural(n, "row", "rows") + " refused by the output");
    if (const uint64_t n = report.ValuesPartial()) parts.push_back(plural(n, "long value", "long values") + " partly recovered");
    size_t objects = 0;
    for (const auto* list : {&report.queries, &report.relationships, &report.linkedTables, &report.objects}) {
        for (const RecoveryReport::Object& o : *list) objects += (report.saveRan ? !o.saved : !o.problems.empty()) ? 1 : 0;
    }
    if (objects) {
        parts.push_back(plural(objects, "other object", "other objects") + (report.saveRan ? " not saved" : " unreadable"));
    }
    if (report.stopped) parts.push_back("the save was stopped");
    if (parts.empty()) parts.push_back("see the recovery report");
    std::string line = "Completed with losses: ";
    for (size_t i = 0; i < parts.size(); ++i) line += (i ? ", " : "") + parts[i];
    return line;
}

}  // namespace talmera
