#include "cli/Commands.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include <CLI/CLI.hpp>

#include "cli/Attachments.h"
#include "cli/Catalog.h"
#include "cli/Objects.h"
#include "cli/PageMapSvg.h"
#include "cli/Password.h"
#include "cli/Preview.h"
#include "cli/ProgressBar.h"
#include "cli/Repair.h"
#include "cli/TerminalReceiver.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/run/RecoverThread.h"
#include "engine/save/OutputDatabase.h"
#include "engine/save/RecoveryReport.h"
#include "output/dao/SqliteEngine.h"
#include "platform/TextCodec.h"

namespace talmera::cli {
namespace {

constexpr const char* kProgram = "talmera-repair";

// The stop flag of the run in progress, for the Ctrl-C handler.
std::atomic<std::atomic<bool>*> activeStopFlag{nullptr};
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int) {
    std::atomic<bool>* stop = activeStopFlag.load();
    if (stop != nullptr) {
        stop->store(true);
    } else {
        // No run to stop: the handler is already reset, so end as usual.
        std::raise(SIGINT);
    }
}

struct ScanOptions {
    std::string path;
    bool deleted = false;
    unsigned codePage = 1252;
    bool unlistedPages = false;
    std::optional<std::string> password;  // of an encrypted file
};

// Refuses code page numbers the converter does not know, so that a typing
// error does not turn every 8-bit name into replacement characters.
std::string checkCodePage(const std::string& text) {
    unsigned number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) {
        return "code page must be a number, such as 1252";
    }
    iconv_t cd = iconv_open("UTF-32LE", codePageName(number).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return "unknown code page " + text;
    iconv_close(cd);
    return {};
}

void addFileOption(CLI::App& command, ScanOptions& options) {
    command.add_option("FILE", options.path, "The Access database (.mdb, .accdb); it is only read")
        ->required();
    command.add_option("--password", options.password,
                       "The password of an encrypted database (asked at the terminal when not given)")
        ->type_name("P");
}

void addCodePageOption(CLI::App& command, ScanOptions& options) {
    command.add_option("--codepage", options.codePage,
                       "Windows code page of 8-bit texts (Access 97 files)")
        ->type_name("N")
        ->check(CLI::Validator(checkCodePage, ""))
        ->capture_default_str();
}

void addScanOptions(CLI::App& command, ScanOptions& options) {
    addFileOption(command, options);
    command.add_flag("--deleted", options.deleted,
                     "Also recover deleted records, as extra tables named after their table with "
                     "\"(deleted records)\" appended");
    addCodePageOption(command, options);
    command.add_flag("--include-unlisted-pages", options.unlistedPages,
                     "Also read pages that carry a table's rows but are not listed as its pages "
                     "(older states of the table)");
}

struct RepairOptions {
    std::string outputDir;
    std::vector<std::string> only;
    bool overwrite = false;
    bool rename = false;
    std::string log;
    std::string reportJson;
};

// The exit statuses, each meaning written once: what it says in --help, and
// for the commands that read, those of one table (preview, attachments) and
// repair (empty: the status does not occur there). README.md lists the same.
constexpr const char* kNotAccessOrLocked =
    "the file is not an Access database, or it is encrypted and no correct password was given";
struct ExitStatus {
    int code;
    const char* overall;
    const char* reading;
    const char* table;
    const char* repair;
};
constexpr ExitStatus kExitStatuses[] = {
    {kExitOk, "the file was scanned (repair: saved, and nothing was lost; also when its catalog is empty)",
     "the file was scanned (also when its catalog is empty)", "the table was read",
     "saved, and nothing that was found was lost"},
    {kExitUnreadable, "the file cannot be read (repair: or the output or report cannot be written)",
     "the file cannot be read", "the file cannot be read",
     "the file cannot be read or the output (or report) cannot be written"},
    {kExitNotAccess, kNotAccessOrLocked, kNotAccessOrLocked, kNotAccessOrLocked, kNotAccessOrLocked},
    {kExitNoSuchTable, "(preview) the file has no table of that name, (repair) --only names an object the file lacks",
     "", "the file has no table of that name (standard error lists those it has)",
     "--only names an object the file lacks"},
    {kExitExists, "(repair) the output or the log report exists and may not be replaced", "", "",
     "the output or the report exists and may not be replaced (nothing is written)"},
    {kExitPartial, "(repair) saved, but something was lost or refused", "", "",
     "saved, but something was lost or refused: rows, a table, a field, an index, a query, a relationship, "
     "a link or an object (the log's recovery report and --report-json say what)"},
    {kExitUsage, "bad command line", "bad command line", "bad command line", "bad command line"},
    {kExitOutputFailed, "standard output could not be written",
     "standard output could not be written (a full disk, a closed pipe; standard error says why)",
     "standard output could not be written (the rows stop there)", ""},
    {kExitInterrupted, "stopped with Ctrl-C", "stopped with Ctrl-C", "stopped with Ctrl-C",
     "stopped with Ctrl-C (the output keeps what was written)"},
};

// "Exit status: 0 ..., 1 ..., ...": the statuses whose meaning `which` gives.
std::string exitStatusText(const char* ExitStatus::*which) {
    std::string text = "Exit status:";
    const char* separator = " ";
    for (const ExitStatus& status : kExitStatuses) {
        const char* meaning = status.*which;
        if (!*meaning) continue;
        text += separator + std::to_string(status.code) + " " + meaning;
        separator = ", ";
    }
    return text + ".";
}

const std::string kExitStatusText = exitStatusText(&ExitStatus::reading);
const std::string kPreviewExitStatusText = exitStatusText(&ExitStatus::table);
const std::string kRepairExitStatusText = exitStatusText(&ExitStatus::repair);

// Standard output is the product of these commands: a write that failed
// (a full disk, a closed pipe) is an error, not a quiet success. `error` is
// the system's error number of a failure already seen, or -1. A status that
// is already an error stays.
int checkOutput(const Terminal& terminal, int status, int error = -1) {
    errno = 0;
    terminal.out.flush();
    if (terminal.out) return status;
    if (error < 0) error = errno;
    terminal.err << kProgram << ": cannot write to standard output";
    if (error != 0) terminal.err << ": " << std::strerror(error);
    terminal.err << '\n';
    return status == kExitOk ? kExitOutputFailed : status;
}

// The error number of a failed write so far, or -1 (for checkOutput).
int outputErrorSoFar(const Terminal& terminal) { return terminal.out ? -1 : errno; }

bool pathExists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

// Empty when the folder a file is to be written into exists and may be
// written; otherwise why not.
std::string folderProblem(const std::string& file) {
    std::string folder = std::filesystem::path(file).parent_path().string();
    if (folder.empty()) folder = ".";
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return std::strerror(errno);
    if (!S_ISDIR(status.st_mode)) return std::strerror(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "the folder '" + folder + "' cannot be written (" + std::strerror(errno) + ")";
    }
    return {};
}

// Runs one job of the recovery thread on this thread, where Ctrl-C can stop it.
void runJob(CQuorvinAccessRecoveryApp& app, CRecoverThread& thread) {
    app.worker = &thread;
    activeStopFlag.store(&app.stopRequested);
    try {
        thread.Run();
    } catch (...) {
        activeStopFlag.store(nullptr);
        app.worker = nullptr;
        throw;
    }
    activeStopFlag.store(nullptr);
    app.worker = nullptr;
}

// Runs the scan job on this thread. The application state and the engine stay
// with the caller, which reads the findings afterwards.
int runScan(const ScanOptions& options, CQuorvinAccessRecoveryApp& app, IMessageReceiver& receiver,
            const Terminal& terminal) {
    std::ostream& err = terminal.err;
    std::string reason = unreadableReason(options.path);
    if (!reason.empty()) {
        err << kProgram << ": cannot read '" << options.path << "': " << reason << '\n';
        return kExitUnreadable;
    }

    app.selectedPath = options.path;
    app.scanRun = true;
    app.includeDeletedRecords = options.deleted;
    app.codePage = codePageName(options.codePage);
    app.includeUnlistedPages = options.unlistedPages;

    auto engine = std::make_shared<CMDBRecovery>(app);
    engine->sourcePath = options.path;
    app.engine = engine;

    // The password of an encrypted file is answered here for every command.
    PasswordReceiver answering(receiver, options.password, terminal.in, err);
    CRecoverThread thread(app, &answering);
    thread.sourcePath = options.path;
    runJob(app, thread);
    // Later jobs and the commands' own output talk to the command's receiver.
    engine->mainWindow = &receiver;

    if (app.stopRequested) {
        err << kProgram << ": stopped\n";
        return kExitInterrupted;
    }
    const SourceProtection& protection = engine->protection;
    const std::string quoted = "'" + options.path + "'";
    switch (protection.lock) {
        case SourceLock::Open: break;
        case SourceLock::PasswordMissing:
            err << kProgram << ": " << quoted << " is encrypted: give its password with --password\n";
            return kExitEncrypted;
        case SourceLock::PasswordRejected:
            err << kProgram << ": " << quoted << ": the password is not correct\n";
            return kExitEncrypted;
        case SourceLock::MethodUnknown:
            err << kProgram << ": " << quoted << " is encrypted with a method this tool cannot read ("
                << protection.description << ")\n";
            return kExitEncrypted;
        case SourceLock::DecodeFailed:
            err << kProgram << ": cannot read " << quoted << ": " << protection.decodeError << '\n';
            return kExitUnreadable;
    }
    if (app.invalidFile) {
        // A file whose header names it an Access database is one, however
        // little of it could be read.
        if (protection.facts.accessHeader) {
            err << kProgram << ": " << quoted << " has the header of an Access database, but no readable catalog\n";
        } else {
            err << kProgram << ": " << quoted << " is not an Access database\n";
        }
        return kExitNotAccess;
    }
    return kExitOk;
}

int scanCommand(const ScanOptions& options, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    ProgressBar bar(terminal.err, terminal.progressBar);
    TerminalReceiver receiver(app, terminal.out, bar);
    int status = runScan(options, app, receiver, terminal);
    bar.end();
    return checkOutput(terminal, status, receiver.outputFailed() ? receiver.outputError() : -1);
}

int catalogCommand(const ScanOptions& options, bool json, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    int status = runScan(options, app, receiver, terminal);
    if (status != kExitOk) return status;
    errno = 0;
    if (json) {
        // Names from a damaged file may hold bytes that are not UTF-8; the
        // output stays valid JSON all the same.
        terminal.out << catalogJson(*app.engine, app, options.deleted)
                            .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                     << '\n';
    } else {
        printCatalogListing(terminal.out, *app.engine, app, options.deleted);
    }
    return checkOutput(terminal, kExitOk, outputErrorSoFar(terminal));
}

int objectsCommandOnFile(const ScanOptions& options, const std::string& extractDir, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    int status = runScan(options, app, receiver, terminal);
    if (status != kExitOk) return status;
    errno = 0;
    return objectsCommand(*app.engine, app, options.path, extractDir, terminal);
}

int queriesCommand(const ScanOptions& options, bool json, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    int status = runScan(options, app, receiver, terminal);
    if (status != kExitOk) return status;
    errno = 0;
    printQueries(terminal.out, *app.engine, json);
    return checkOutput(terminal, kExitOk, outputErrorSoFar(terminal));
}

// The page map: as SVG into a file, or the pages of each kind as text.
int mapCommand(const ScanOptions& options, const std::string& svgPath, const Terminal& terminal) {
    if (!svgPath.empty()) {
        std::error_code same;
        if (std::filesystem::equivalent(svgPath, options.path, same)) {
            terminal.err << kProgram << ": the picture would replace the database itself: '" << svgPath << "'\n";
            return kExitUsage;
        }
    }
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    int status = runScan(options, app, receiver, terminal);
    if (status != kExitOk) return status;
    const CMDBRecovery& engine = *app.engine;
    if (svgPath.empty()) {
        for (size_t k = 0; k < kPageKindCount; ++k) {
            terminal.out << PageKindName(static_cast<PageKind>(k)) << '\t' << engine.pageMap.count(static_cast<PageKind>(k))
                         << '\n';
        }
        terminal.out << "lost\t" << engine.pageMap.rowsLostPages() << '\n';
        return checkOutput(terminal, kExitOk, outputErrorSoFar(terminal));
    }
    std::ofstream svg(svgPath, std::ios::binary | std::ios::trunc);
    if (svg) writePageMapSvg(svg, engine, std::filesystem::path(options.path).filename().string());
    svg.close();
    if (!svg) {
        terminal.err << kProgram << ": cannot write '" << svgPath << "': " << std::strerror(errno) << '\n';
        return kExitUnreadable;
    }
    return kExitOk;
}

bool isDeletedRecordsTable(const tableInfo& table) { return table.deletedRecords; }

// The table a preview may show under `name`: tables of deleted records only
// with --deleted. Returns the position in the engine's list, or -1.
int findTable(const CMDBRecovery& engine, const std::string& name, bool deleted) {
    for (size_t i = 0; i < engine.tables.size(); ++i) {
        const tableInfo& table = engine.tables[i];
        if (table.name == name && (deleted || !isDeletedRecordsTable(table))) return static_cast<int>(i);
    }
    return -1;
}

void reportNoSuchTable(std::ostream& err, const CMDBRecovery& engine, const ScanOptions& options,
                       const std::string& name) {
    err << kProgram << ": no table '" << name << "' in '" << options.path << "'";
    bool deletedRecords = false;
    std::vector<std::string> names;
    for (const tableInfo& table : engine.tables) {
        if (options.deleted || !isDeletedRecordsTable(table)) {
            names.push_back(table.name);
        } else if (table.name == name) {
            deletedRecords = true;
        }
    }
    if (deletedRecords) err << " (it is a table of deleted records: add --deleted)";
    if (names.empty()) {
        err << "; it has no readable tables\n";
        return;
    }
    err << "; its tables:\n";
    for (const std::string& table : names) err << "  " << table << '\n';
}

// ---- attachments: the files a table's attachment columns hold -------------
int attachmentsCommand(const ScanOptions& options, const std::string& tableName, const std::string& extractDir,
                       const Terminal& terminal) {
    if (!extractDir.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(extractDir, error)) {
            terminal.err << kProgram << ": '" << extractDir << "' is not a folder\n";
            return kExitUnreadable;
        }
    }
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    int status = runScan(options, app, receiver, terminal);
    if (status != kExitOk) return status;
    const int index = findTable(*app.engine, tableName, options.deleted);
    if (index < 0) {
        reportNoSuchTable(terminal.err, *app.engine, options, tableName);
        return kExitNoSuchTable;
    }
    errno = 0;
    const bool written = listAttachments(*app.engine, app.engine->tables[static_cast<size_t>(index)], extractDir,
                                         terminal.out, terminal.err);
    return checkOutput(terminal, written ? kExitOk : kExitUnreadable, outputErrorSoFar(terminal));
}

int previewCommand(const ScanOptions& options, const std::string& tableName, RowFormat format,
                   const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    int status;
    {
        ProgressBar bar(terminal.err, terminal.progressBar);
        ProgressReceiver receiver(bar);
        status = runScan(options, app, receiver, terminal);
        bar.end();
    }
    if (status != kExitOk) return status;

    const CMDBRecovery& engine = *app.engine;
    const int index = findTable(engine, tableName, options.deleted);
    if (index < 0) {
        reportNoSuchTable(terminal.err, engine, options, tableName);
        return kExitNoSuchTable;
    }
    const tableInfo& table = engine.tables[static_cast<size_t>(index)];

    // On a terminal that shows the rows as well, the rows are the progress.
    ProgressBar bar(terminal.err, terminal.progressBar && !terminal.outputIsTerminal);
    RowWriter writer(app, terminal.out, format, bar);
    std::vector<std::string> names;
    names.reserve(table.columns.size());
    for (const columnInfo& column : table.columns) names.push_back(column.name);
    writer.writeHeader(names);

    app.previewMode = true;
    CRecoverThread thread(app, &writer);
    thread.sourcePath = options.path;
    thread.previewTableIndex = index;
    bar.start(table.recordCount);
    runJob(app, thread);
    bar.end();

    status = checkOutput(terminal, kExitOk, writer.outputFailed() ? writer.outputError() : -1);
    if (status != kExitOk) return status;
    if (app.stopRequested) {
        terminal.err << kProgram << ": stopped\n";
        return kExitInterrupted;
    }
    return kExitOk;
}

// The last output errors, for a save that failed: the engine keeps them
// formatted over several lines.
void printOutputErrors(std::ostream& err, const CMDBRecovery& engine) {
    constexpr size_t kShown = 3;
    const auto& errors = engine.outputErrors;
    const size_t first = errors.size() > kShown ? errors.size() - kShown : 0;
    for (size_t i = first; i < errors.size(); ++i) {
        std::string text = trimLineBreaks(errors[i]);
        for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3)) {
            text.replace(at, 1, "\n  ");
        }
        err << "  " << text << '\n';
    }
}

bool writeReportFile(const std::string& path, const std::string& bytes, const char* what, std::ostream& err) {
    errno = 0;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (file) file.close();
    if (file) return true;
    err << kProgram << ": cannot write " << what << " '" << path << "'";
    if (errno != 0) err << ": " << std::strerror(errno);
    err << '\n';
    return false;
}

bool writeLogReport(const std::string& path, const std::vector<std::string>& lines, std::ostream& err) {
    return writeReportFile(path, logReportBytes(lines), "the log report", err);
}

void reportUnknownNames(std::ostream& err, const CMDBRecovery& engine, const ScanOptions& options,
                        const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        err << kProgram << ": no object '" << name << "' in '" << options.path << "'";
        bool deletedRecords = false;
        for (const tableInfo& table : engine.tables) {
            deletedRecords = deletedRecords || (table.name == name && isDeletedRecordsTable(table));
        }
        if (deletedRecords && !options.deleted) err << " (it is a table of deleted records: add --deleted)";
        err << '\n';
    }
    err << kProgram << ": names are matched exactly; 'talmera-repair catalog FILE' lists them\n";
}

int repairCommand(const ScanOptions& options, const RepairOptions& repair, const Terminal& terminal) {
    const std::string reason = unreadableReason(options.path);
    if (!reason.empty()) {
        terminal.err << kProgram << ": cannot read '" << options.path << "': " << reason << '\n';
        return kExitUnreadable;
    }
    // Nothing is replaced without permission, and a refusal comes before any work.
    const std::string reportPath = repair.log.empty() ? "" : logReportPath(repair.log);
    if (!reportPath.empty() && pathExists(reportPath) && !repair.overwrite) {
        terminal.err << kProgram << ": the log report '" << reportPath
                     << "' exists already; add --overwrite to replace it\n";
        return kExitExists;
    }
    const std::string& jsonPath = repair.reportJson;
    if (!jsonPath.empty() && pathExists(jsonPath) && !repair.overwrite) {
        terminal.err << kProgram << ": the recovery report '" << jsonPath
                     << "' exists already; add --overwrite to replace it\n";
        return kExitExists;
    }
    const std::string outputPath = repairOutputPath(options.path, repair.outputDir);
    const ExistingOutput policy = repair.overwrite ? ExistingOutput::Overwrite
                                  : repair.rename  ? ExistingOutput::Rename
                                  : terminal.in    ? ExistingOutput::Ask
                                                   : ExistingOutput::Refuse;
    const auto refuseExisting = [&](const std::string& path) {
        terminal.err << kProgram << ": the output '" << path
                     << "' exists already; nothing was written. Add --overwrite to replace it, or "
                        "--rename to save beside it under a time-stamped name.\n";
        return kExitExists;
    };
    if (policy == ExistingOutput::Refuse && pathExists(outputPath)) return refuseExisting(outputPath);
    // A folder that is not there, or that cannot be written, would only show
    // when the scan is over.
    for (const std::string& file : {outputPath, reportPath, jsonPath}) {
        const std::string problem = file.empty() ? "" : folderProblem(file);
        if (problem.empty()) continue;
        terminal.err << kProgram << ": cannot write '" << file << "': " << problem << '\n';
        return kExitUnreadable;
    }

    CQuorvinAccessRecoveryApp app;
    ProgressBar bar(terminal.err, terminal.progressBar);
    RepairReceiver receiver(app, terminal.out, bar, policy, terminal.in, terminal.err);
    // Whatever happens after the scan started, the report holds the lines logged.
    const auto finish = [&](int status) {
        bar.end();
        const bool saved = status == kExitOk || status == kExitPartial;
        if (!reportPath.empty() && !writeLogReport(reportPath, receiver.logLines(), terminal.err) && saved) {
            status = kExitUnreadable;
        }
        // The recovery report of the save (or of the scan, when no save ran).
        if (!jsonPath.empty() && app.recoveryReport &&
            !writeReportFile(jsonPath, ReportJson(*app.recoveryReport), "the recovery report", terminal.err) && saved) {
            status = kExitUnreadable;
        }
        // The output file is the product: a log that could not be shown is
        // reported, but does not undo the save.
        if (checkOutput(terminal, kExitOk, receiver.outputFailed() ? receiver.outputError() : -1) != kExitOk &&
            (status == kExitOk || status == kExitPartial)) {
            terminal.err << kProgram << ": the log above is incomplete; the output was saved all the same\n";
        }
        return status;
    };

    int status = runScan(options, app, receiver, terminal);
    if (status != kExitOk) return finish(status);
    CMDBRecovery& engine = *app.engine;

    const std::vector<std::string> unknown = selectObjects(app, engine, options.deleted, repair.only);
    if (!unknown.empty()) {
        bar.end();
        reportUnknownNames(terminal.err, engine, options, unknown);
        return kExitNoSuchTable;
    }

    OutputOf(engine).engineFactory = dao::CreateSqliteEngine;
    engine.outputPath = outputPath;
    bar.end();
    int started = 0;
    try {
        started = OutputOf(engine).StartOutputDatabase(&receiver);
    } catch (const OutputDeclined&) {
        if (policy == ExistingOutput::Refuse) return refuseExisting(engine.outputPath);
        terminal.err << kProgram << ": the output '" << engine.outputPath
                     << "' was kept and no other name accepted; nothing was written\n";
        return kExitExists;
    }
    if (!started) {
        terminal.err << kProgram << ": cannot create the output '" << engine.outputPath << "'\n";
        printOutputErrors(terminal.err, engine);
        return finish(kExitUnreadable);
    }

    const std::string destination = engine.outputPath;
    const bool previousThere = pathExists(destination);
    app.outputCreated = true;
    app.previewMode = false;
    CRecoverThread save(app, &receiver);
    save.sourcePath = options.path;
    runJob(app, save);
    bar.end();

    const RecoveryReport* report = app.recoveryReport.get();
    const bool failed = !report || report->failed;
    if (app.stopRequested && !app.saveSucceeded) {
        if (failed) {
            terminal.err << kProgram << ": stopped; nothing was saved";
        } else if (engine.outputPath != destination) {
            terminal.err << kProgram << ": stopped; '" << destination << "' is as it was, and what was written "
                         << "is in '" << engine.outputPath << "' (incomplete)";
        } else {
            terminal.err << kProgram << ": stopped; '" << engine.outputPath << "' keeps what was written "
                         << "(marked incomplete)";
        }
        terminal.err << '\n';
        return finish(kExitInterrupted);
    }
    if (!app.saveSucceeded) {
        terminal.err << kProgram << ": the save into '" << destination << "' failed; "
                     << (previousThere ? "the file of that name is as it was" : "nothing was saved") << '\n';
        printOutputErrors(terminal.err, engine);
        return finish(kExitUnreadable);
    }
    receiver.printLine(std::string(kSavedAtPrefix) + engine.outputPath);
    if (report && !report->Complete()) {
        terminal.err << kProgram << ": saved with losses; the recovery report in the log says what was lost\n";
        return finish(app.stopRequested ? kExitInterrupted : kExitPartial);
    }
    return finish(app.stopRequested ? kExitInterrupted : kExitOk);
}

}  // namespace

std::string unreadableReason(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::strerror(errno);
    if (S_ISDIR(status.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(status.st_mode)) return "not a regular file";
    // O_NONBLOCK: a file that turned into a FIFO since the stat must not hang us.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
}

int runCommandLine(int argc, const char* const* argv, const Terminal& terminal) {
    CLI::App cli{
        "Salvages tables, queries and the other objects of damaged Microsoft Access databases "
        "(.mdb Access 97 to 2003, .accdb Access 2007 and later) by reading the file page by "
        "page, and saves them into a new SQLite database. The damaged database is only read, "
        "never written.",
        kProgram};
    cli.set_version_flag("--version", std::string(kProgram) + " " + TALMERA_VERSION);
    cli.require_subcommand(1);
    cli.footer(exitStatusText(&ExitStatus::overall));

    ScanOptions repairScan;
    RepairOptions repairOptions;
    CLI::App* repair = cli.add_subcommand(
        "repair", "Scan the database and save what was found into a new SQLite database");
    addScanOptions(*repair, repairScan);
    repair->add_option("--output-dir", repairOptions.outputDir,
                       "Folder of the output, Repaired_<file name>.sqlite (default: the "
                       "database's folder)")
        ->type_name("DIR");
    repair->add_option("--only", repairOptions.only,
                       "Save only this table, query, link, form, report, macro or module "
                       "(repeatable; names as catalog lists them)")
        ->type_name("NAME")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->expected(1);
    CLI::Option* overwrite = repair->add_flag(
        "--overwrite", repairOptions.overwrite, "Replace an existing output (and log report)");
    repair->add_flag("--rename", repairOptions.rename,
                     "Keep an existing output and save beside it under a time-stamped name")
        ->excludes(overwrite);
    repair->add_option("--log", repairOptions.log,
                       "Also write the log into REPORT (\".log\" is appended when it ends "
                       "otherwise): UTF-16LE, CR LF line ends")
        ->type_name("REPORT");
    repair->add_option("--report-json", repairOptions.reportJson,
                       "Also write the recovery report into PATH as one JSON object (UTF-8): per table the "
                       "rows its definition counts, recovered and lost, and per object whether it was saved "
                       "and why not")
        ->type_name("PATH");
    repair->footer(
        std::string(
            "Output: the log of the scan and of the save on standard output, as scan prints it, "
            "then the line \"") +
        std::string(kSavedAtPrefix) +
        "PATH\". Every table is saved (tables of deleted records with --deleted), every query "
        "and link, or only the objects --only names. When anything was lost, the log ends with a "
        "recovery report (rows lost, tables lost and why) and the status is 5. The output is "
        "written as PATH.partial beside PATH and moved into place only once it is complete; a save "
        "that fails or is killed leaves an existing PATH as it was, and a stopped one keeps what it "
        "wrote (marked incomplete) in PATH when no file was there, else beside it as "
        "<name>_incomplete.sqlite. When the output exists already, --overwrite replaces it (at that "
        "moment) and --rename saves beside it under a time-stamped name; with neither, the "
        "question is asked when standard input and standard error are a terminal, and otherwise "
        "the repair ends with status 4 before writing anything. The output's folder must be "
        "writable: that is checked before the scan. The log report holds a header "
        "line, then the log lines of the scan and the save (without the message boxes and the "
        "location line); an existing report (or --report-json file) is replaced only with "
        "--overwrite. The reports are written when the command ends after its scan started, "
        "except with status 3 or 4.\n" +
        kRepairExitStatusText);

    ScanOptions scanOptions;
    CLI::App* scan = cli.add_subcommand(
        "scan", "Scan the database and print the recovery log to standard output");
    addScanOptions(*scan, scanOptions);
    scan->footer(std::string(
                     "Output: the log, one line per entry, on standard output. A message box of "
                     "the run is printed as a line starting with \"") +
                 std::string(kMessagePrefix) +
                 "\" (line breaks at its start and end removed). While the file is read, a "
                 "progress bar is drawn on standard error when that is a terminal.\n" +
                 kExitStatusText);

    ScanOptions catalogOptions;
    bool json = false;
    CLI::App* catalog = cli.add_subcommand(
        "catalog", "Scan the database silently and list the tables, queries, links and other "
                   "objects found");
    addScanOptions(*catalog, catalogOptions);
    catalog->add_flag("--json", json, "Print one JSON object (UTF-8) instead of a listing");
    catalog->footer(std::string(
                        "Output: the listing (or JSON) on standard output, nothing else. Tables "
                        "of deleted records are listed only with --deleted.\n") +
                    kExitStatusText);

    ScanOptions queriesOptions;
    bool queriesJson = false;
    CLI::App* queries = cli.add_subcommand(
        "queries", "Scan the database silently and print each saved query's name and SQL text");
    addFileOption(*queries, queriesOptions);
    addCodePageOption(*queries, queriesOptions);
    queries->add_flag("--json", queriesJson,
                      "Print one JSON array (UTF-8) of {\"name\", \"sql\"} objects instead, with "
                      "\"sqlite\" (the SELECT of the query's view in a repaired database) where the repair "
                      "makes a view");
    queries->footer(std::string(
                        "Output: one line per query: its name, a tab and its SQL text (empty when "
                        "the text could not be read), with tab, line feed, carriage return and "
                        "backslash written \\t, \\n, \\r and \\\\ as in preview.\n") +
                    kExitStatusText);

    ScanOptions attachmentsOptions;
    std::string attachmentsTable, extractDir;
    CLI::App* attachments = cli.add_subcommand(
        "attachments", "Scan the database silently and list (or write out) the attachments of one table");
    addScanOptions(*attachments, attachmentsOptions);
    attachments->add_option("TABLE", attachmentsTable, "The table's name, exactly as catalog lists it")->required();
    attachments->add_option("--extract", extractDir, "Also write each attached file into this folder");
    attachments->footer(std::string(
                            "Output: a header line, then one tab-separated line per attached file: its "
                            "column, the row's key, its file name, its size in bytes (\"incomplete\" when "
                            "its data is damaged) and with --extract where it was written. Written names "
                            "are made safe (no folders, no \"..\", no control characters) and never "
                            "replace a file: a taken name gets \" (2)\", \" (3)\", ... before its "
                            "extension.\n") +
                        kPreviewExitStatusText);
    // Forms, reports, macros and modules.
    ScanOptions objectsOptions;
    std::string objectsExtractDir;
    CLI::App* objects = cli.add_subcommand(
        "objects", "List the forms, reports, macros and modules with their storage entries and code");
    addFileOption(*objects, objectsOptions);
    addCodePageOption(*objects, objectsOptions);
    objects->add_option("--extract", objectsExtractDir,
                        "Also write the folder Repaired_<name>_objects inside DIR: the project file(s), "
                        "one <module>.bas per code module and objects.txt")
        ->type_name("DIR");
    objects->footer(std::string("Output: per kind its objects, each with its storage entries and the "
                                "lines of its code; then the code modules.\n") +
                    kExitStatusText);

    ScanOptions previewOptions;
    std::string tableName;
    std::string rowFormat = "tsv";
    CLI::App* preview = cli.add_subcommand(
        "preview", "Scan the database silently and print the rows of one table");
    addScanOptions(*preview, previewOptions);
    preview->add_option("TABLE", tableName, "The table's name, exactly as catalog lists it")
        ->required();
    preview->add_option("--format", rowFormat, "tsv: tab-separated lines; json: one JSON array "
                                               "(UTF-8) per line")
        ->type_name("tsv|json")
        ->check(CLI::IsMember({"tsv", "json"}).description(""))
        ->capture_default_str();
    preview->footer(
        std::string(
            "Output: a header line of the column names, then one line per row in storage order, "
            "with the texts the record preview shows: NULL (and a Yes/No that is No) as a single "
            "space, a column added after the row was stored as empty (a Yes/No as No), a memo "
            "stored over several pages and an OLE object as a placeholder. In tsv, tab, line feed, "
            "carriage return and backslash within a text are written \\t, \\n, \\r and "
            "\\\\. A table of deleted records is named only with --deleted. Rows are written as "
            "they are read. While the file is read, a progress bar is drawn on standard error "
            "when that is a terminal.\n") +
        kPreviewExitStatusText);

    ScanOptions mapOptions;
    std::string svgPath;
    CLI::App* map = cli.add_subcommand(
        "map", "Scan the database silently and draw what each of its pages is (the page map)");
    addScanOptions(*map, mapOptions);
    map->add_option("--svg", svgPath, "Write the map as an SVG picture into this file")->type_name("OUT.svg");
    map->footer(std::string(
                    "Output: with --svg, the picture: one cell per page (a cell stands for several pages "
                    "in a large file), coloured by what the page is, the page and its owner named in each "
                    "cell's title, pages whose rows were lost crossed in red, and a legend with the pages "
                    "of each kind. Without it, one line per kind on standard output: its name, a tab and "
                    "its pages (\"lost\": pages whose rows were lost).\n") +
                kExitStatusText);

    // Left to the parser, a mistyped command would only be reported as a
    // missing one.
    const auto isCommand = [](std::string_view name) {
        for (const char* command : {"repair", "scan", "catalog", "queries", "preview", "attachments", "objects", "map"}) {
            if (name == command) return true;
        }
        return false;
    };
    if (argc > 1 && argv[1][0] != '-' && !isCommand(argv[1])) {
        terminal.err << kProgram << ": unknown command '" << argv[1]
                     << "' (commands: repair, scan, catalog, queries, preview, attachments, objects, map; see --help)\n";
        return kExitUsage;
    }

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = cli.exit(error, terminal.out, terminal.err);
        return status == 0 ? kExitOk : kExitUsage;
    }

    const ScanOptions& options = repair->parsed()    ? repairScan
                                 : scan->parsed()    ? scanOptions
                                 : preview->parsed() ? previewOptions
                                 : queries->parsed() ? queriesOptions
                                 : attachments->parsed() ? attachmentsOptions
                                 : objects->parsed() ? objectsOptions
                                 : map->parsed()     ? mapOptions
                                                     : catalogOptions;
    try {
        if (repair->parsed()) return repairCommand(options, repairOptions, terminal);
        if (scan->parsed()) return scanCommand(options, terminal);
        if (preview->parsed()) return previewCommand(options, tableName,
                                  rowFormat == "json" ? RowFormat::Json : RowFormat::Tsv, terminal);
        if (queries->parsed()) return queriesCommand(options, queriesJson, terminal);
        if (attachments->parsed()) return attachmentsCommand(options, attachmentsTable, extractDir, terminal);
        if (objects->parsed()) return objectsCommandOnFile(options, objectsExtractDir, terminal);
        if (map->parsed()) return mapCommand(options, svgPath, terminal);
        return catalogCommand(options, json, terminal);
    } catch (const std::exception& error) {
        terminal.err << kProgram << ": error while " << (repair->parsed() ? "repairing" : "reading") << " '"
                     << options.path << "': " << error.what() << '\n';
        return kExitUnreadable;
    }
}

}  // namespace talmera::cli
