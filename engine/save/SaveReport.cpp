// The save's part of the recovery report: it starts from what the scan found
// for the objects selected, each step notes what it saved and what the output
// refused, and at the end the report goes into the output's metadata.
#include <algorithm>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/OutputDatabase.h"

namespace talmera {

namespace {

bool isSelected(const std::vector<std::string>& selection, const std::string& name) {
    return std::find(selection.begin(), selection.end(), name) != selection.end();
}

dao::RecoveryRows toRows(const RecoveryReport& report) {
    dao::RecoveryRows rows;
    rows.source = report.source;
    rows.complete = report.Complete();
    rows.stopped = report.stopped;
    rows.rowsLost = static_cast<int64_t>(report.RowsLost());
    rows.tablesLost = static_cast<int64_t>(report.TablesLost());
    auto count = [](const std::optional<uint64_t>& v) { return v ? static_cast<int64_t>(*v) : int64_t{-1}; };
    for (const RecoveryReport::Table& t : report.tables) {
        dao::RecoveryRows::Table row;
        row.name = t.name;
        row.outputName = t.outputName;
        row.expectedRows = count(t.expectedRows);
        row.recoveredRows = static_cast<int64_t>(t.recoveredRows);
        row.lostRows = count(t.lostRows);
        row.unreadablePages = static_cast<int64_t>(t.unreadablePages);
        row.refusedRows = static_cast<int64_t>(t.refusedRows);
        row.partialValues = static_cast<int64_t>(t.partialValues);
        row.deletedRows = static_cast<int64_t>(t.deletedRows);
        for (const RecoveryReport::RenamedColumn& c : t.renamedColumns) {
            row.renamedColumns.push_back(c.name + " (stored as " + c.storedHex + ")");
        }
        row.saved = t.saved;
        row.problems = t.Problems(report.saveRan);
        rows.tables.push_back(std::move(row));
    }
    for (const auto* list : {&report.queries, &report.relationships, &report.linkedTables, &report.objects}) {
        for (const RecoveryReport::Object& o : *list) rows.objects.push_back({o.kind, o.name, o.saved, o.problems});
    }
    return rows;
}

}  // namespace

void COutputDatabase::BeginReport() {
    report_ = ScanReport(engine_);
    report_.saveRan = true;
    report_.output.clear();
    // The tables this save was asked to write, and those whose definition
    // was lost (nobody could ask for them).
    std::vector<RecoveryReport::Table> kept;
    for (RecoveryReport::Table& t : report_.tables) {
        if (t.enginePosition >= 0 && !isSelected(app.selectedTables, t.name)) continue;
        if (t.enginePosition >= 0) t.SetRecovered(0);
        kept.push_back(std::move(t));
    }
    report_.tables = std::move(kept);
    // Every other object selected, not saved until its step says it is;
    // relationships are noted as their step meets them.
    report_.queries.clear();
    report_.relationships.clear();
    report_.linkedTables.clear();
    report_.objects.clear();
    for (const queryInfo& q : queries) {
        if (isSelected(app.selectedQueries, q.name)) report_.queries.push_back({"query", q.name, false, {}});
    }
    for (const LinkedTableInfo& l : linkedTables) {
        if (isSelected(app.selectedLinkedTables, l.linkName)) report_.linkedTables.push_back({"linked table", l.linkName, false, {}});
    }
    const std::pair<const char*, const std::vector<std::string>*> kinds[] = {
        {"form", &app.selectedForms}, {"report", &app.selectedReports},
        {"macro", &app.selectedMacros}, {"module", &app.selectedModules}};
    for (const auto& [kind, selected] : kinds) {
        for (const std::string& name : *selected) report_.objects.push_back({kind, name, false, {}});
    }
}

RecoveryReport::Table* COutputDatabase::ReportTable(size_t position) {
    for (RecoveryReport::Table& t : report_.tables) {
        if (t.enginePosition == static_cast<int64_t>(position)) return &t;
    }
    return nullptr;
}

void COutputDatabase::NoteTableLoss(size_t position, const std::string& text) {
    if (RecoveryReport::Table* t = ReportTable(position)) t->problems.push_back(text);
}

void COutputDatabase::ReportObject(const std::string& kind, const std::string& name, bool saved,
                                   const std::string& problem) {
    std::vector<RecoveryReport::Object>& list = kind == "query"          ? report_.queries
                                                : kind == "relationship" ? report_.relationships
                                                : kind == "linked table" ? report_.linkedTables
                                                                         : report_.objects;
    // The entry the save began with, or a new one (a relationship).
    RecoveryReport::Object* object = nullptr;
    for (RecoveryReport::Object& o : list) {
        if (o.kind == kind && o.name == name && !o.saved && o.problems.empty()) {
            object = &o;
            break;
        }
    }
    if (!object) {
        list.push_back({kind, name, false, {}});
        object = &list.back();
    }
    object->saved = saved;
    if (!problem.empty()) object->problems.push_back(problem);
}

void COutputDatabase::EndReport(bool stopped) {
    report_.stopped = stopped;
    const std::string notReached = stopped ? "not saved: the save was stopped before it" : "not saved";
    for (RecoveryReport::Table& t : report_.tables) {
        if (t.saved || t.lostEntirely || !t.problems.empty()) continue;
        t.problems.push_back(notReached);
    }
    for (auto* list : {&report_.queries, &report_.relationships, &report_.linkedTables, &report_.objects}) {
        for (RecoveryReport::Object& o : *list) {
            if (!o.saved && o.problems.empty()) o.problems.push_back(notReached);
        }
    }
    // A table of deleted records counts for its table as well.
    for (const RecoveryReport::Table& d : report_.tables) {
        if (!d.deletedRecords) continue;
        const size_t cut = d.name.rfind(kDeletedRecordsSuffix);
        std::string owner = cut == std::string::npos ? d.name : d.name.substr(0, cut);
        while (!owner.empty() && owner.back() == ' ') owner.pop_back();
        for (RecoveryReport::Table& t : report_.tables) {
            if (!t.deletedRecords && t.name == owner) t.deletedRows = d.recoveredRows;
        }
    }
    if (!set_.database) return;
    try {
        set_.database->SetRecoveryReport(toRows(report_));
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
    }
}

}  // namespace talmera
