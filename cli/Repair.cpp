#include "cli/Repair.h"

#include <algorithm>
#include <filesystem>

#include "cli/Catalog.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "platform/TextCodec.h"
#include "platform/Utf8.h"

namespace talmera::cli {
namespace {

bool isDeletedRecordsTable(const tableInfo& table) { return table.deletedRecords; }

void addOnce(std::vector<std::string>& names, const std::string& name) {
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

}  // namespace

std::string repairOutputPath(const std::string& source, const std::string& outputDir) {
    const std::filesystem::path sourcePath(source);
    std::string folder = outputDir;
    if (folder.empty()) {
        folder = sourcePath.parent_path().string();
        if (folder.empty()) folder = ".";
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::string separator = folder == "/" ? "" : "/";
    return folder + separator + "Repaired_" + sourcePath.stem().string() + ".sqlite";
}

std::string logReportPath(const std::string& requested) {
    const std::string_view extension = ".log";
    if (requested.size() >= extension.size() &&
        equalsIgnoreCase(std::string_view(requested).substr(requested.size() - extension.size()), extension)) {
        return requested;
    }
    return requested + std::string(extension);
}

std::string logReportBytes(const std::vector<std::string>& lines) {
    std::string bytes;
    utf8::AppendUtf16(bytes, kLogReportHeader);
    utf8::AppendUtf16(bytes, "\r\n");
    for (const std::string& line : lines) {
        utf8::AppendUtf16(bytes, line);
        utf8::AppendUtf16(bytes, "\r\n");
    }
    return bytes;
}

std::vector<std::string> selectObjects(CQuorvinAccessRecoveryApp& app, const CMDBRecovery& engine,
                                       bool includeDeleted, const std::vector<std::string>& only) {
    app.selectedTables.clear();
    app.selectedQueries.clear();
    app.selectedLinkedTables.clear();
    app.selectedForms.clear();
    app.selectedReports.clear();
    app.selectedMacros.clear();
    app.selectedModules.clear();

    std::vector<std::string> unknown;
    std::vector<bool> matched(only.size(), false);
    // Selects `name` into `list` when every object is wanted or `only` names it.
    const auto consider = [&](std::vector<std::string>& list, const std::string& name) {
        if (only.empty()) {
            addOnce(list, name);
            return;
        }
        for (size_t i = 0; i < only.size(); ++i) {
            if (only[i] != name) continue;
            matched[i] = true;
            addOnce(list, name);
        }
    };
    for (const tableInfo& table : engine.tables) {
        if (includeDeleted || !isDeletedRecordsTable(table)) consider(app.selectedTables, table.name);
    }
    for (const queryInfo& query : engine.queries) consider(app.selectedQueries, query.name);
    for (const LinkedTableInfo& link : engine.linkedTables) consider(app.selectedLinkedTables, link.linkName);
    for (const std::string& name : app.formNames) consider(app.selectedForms, name);
    for (const std::string& name : app.reportNames) consider(app.selectedReports, name);
    for (const std::string& name : app.macroNames) consider(app.selectedMacros, name);
    for (const std::string& name : app.moduleNames) consider(app.selectedModules, name);

    for (size_t i = 0; i < only.size(); ++i) {
        if (!matched[i]) addOnce(unknown, only[i]);
    }
    return unknown;
}

RepairReceiver::RepairReceiver(CQuorvinAccessRecoveryApp& app, std::ostream& out, ProgressBar& bar,
                               ExistingOutput policy, std::istream* in, std::ostream& err)
    : TerminalReceiver(app, out, bar), app_(app), bar_(bar), policy_(policy), in_(in), err_(err) {}

intptr_t RepairReceiver::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == UM_LOG_LINE) logLines_.push_back(app_.logLine);
    return TerminalReceiver::send(message, wParam, lParam);
}

bool RepairReceiver::ask(const std::string& question) {
    if (in_ == nullptr || inputEnded_) return false;
    bar_.hide();
    err_ << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(*in_, answer)) {
        // End of input (Ctrl-D): no, and nothing more is asked.
        inputEnded_ = true;
        err_ << '\n';
        return false;
    }
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' ')) answer.pop_back();
    while (!answer.empty() && answer.front() == ' ') answer.erase(answer.begin());
    return equalsIgnoreCase(answer, "y") || equalsIgnoreCase(answer, "yes");
}

bool RepairReceiver::askOverwrite(const std::string& path) {
    switch (policy_) {
        case ExistingOutput::Overwrite: return true;
        case ExistingOutput::Ask: return ask("Overwrite " + path + "?");
        case ExistingOutput::Rename:
        case ExistingOutput::Refuse: break;
    }
    return false;
}

std::string RepairReceiver::askNewLocation(const std::string& existing, const std::string& proposal) {
    switch (policy_) {
        case ExistingOutput::Rename:
            bar_.hide();
            err_ << "talmera-repair: '" << existing << "' exists; saving as '" << proposal << "'\n";
            return proposal;
        case ExistingOutput::Ask:
            if (ask("Save as " + proposal + " instead?")) return proposal;
            break;
        case ExistingOutput::Overwrite:
        case ExistingOutput::Refuse: break;
    }
    // Returning the existing name would have the question asked again forever.
    throw OutputDeclined{};
}

}  // namespace talmera::cli
