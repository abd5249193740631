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
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include <CLI/CLI.hpp>

#include "cli/Attachments.h"
#include "cli/Catalog.h"
#include "cli/Export.h"
#include "cli/HelpText.h"
#include "cli/Objects.h"
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
    {kExitClosedPipe, "(as other tools: SIGPIPE) the reader of standard output went away, as with | head",
     "(SIGPIPE) the reader of standard output went away", "(SIGPIPE) the reader of standard output went away", ""},
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
    // A reader that went away (`| head`) ends the program quietly, as it
    // ends other Unix tools.
    if (error == EPIPE) return status == kExitOk ? kExitClosedPipe : status;
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

// The first bytes of a file, for a message saying what it is not: as text
// where they are printable ("%PDF-1.4"), else in hexadecimal.
std::string startOfFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char bytes[16] = {};
    file.read(bytes, sizeof bytes);
    const size_t n = static_cast<size_t>(std::max<std::streamsize>(0, file.gcount()));
    bool printable = n > 0;
    for (size_t i = 0; i < n; ++i) printable = printable && bytes[i] >= 0x20 && bytes[i] < 0x7F;
    if (printable) return "\"" + std::string(bytes, n) + "\"";
    std::string hex;
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (i > 0) hex += ' ';
        hex += kDigits[b >> 4];
        hex += kDigits[b & 15];
    }
    return "the bytes " + hex;
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

    // Said plainly before any reading: an empty file is no database.
    struct stat file {};
    if (::stat(options.path.c_str(), &file) == 0 && file.st_size == 0) {
        err << kProgram << ": '" << options.path << "' is empty (0 bytes): it is not an Access database\n";
        return kExitNotAccess;
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
            err << kProgram << ": " << quoted << " is not an Access database: it starts with "
                << startOfFile(options.path) << '\n';
        }
        return kExitNotAccess;
    }
    return kExitOk;
}

int scanCommand(const ScanOptions& options, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    ProgressBar bar(terminal.err, terminal.progressBar);
    bar.setLabel("Scanning pages");
    TerminalReceiver receiver(app, terminal.out, bar);
    int status = runScan(options, app, receiver, terminal);
    bar.end();
    return checkOutput(terminal, status, receiver.outputFailed() ? receiver.outputError() : -1);
}

int catalogCommand(const ScanOptions& options, bool json, bool tablesOnly, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    int status = runScan(options, app, receiver, terminal);
    if (status != kExitOk) return status;
    errno = 0;
    if (tablesOnly) {
        // The tables repair saves and export writes, one name a line (as
        // mdb-tables -1), for scripts and the shell's completion.
        std::vector<std::string> unknown;
        for (const tableInfo* table : selectExportTables(*app.engine, {}, options.deleted, unknown)) {
            terminal.out << table->name << '\n';
        }
    } else if (json) {
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
        bar.setLabel("Scanning pages");
    bar.setLabel("Scanning pages");
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
    bar.setLabel(table.name + ": rows");
    RowWriter writer(app, terminal.out, format, bar);
    std::vector<std::string> names;
    names.reserve(table.columns.size());
    std::vector<bool> exactNumbers;
    for (const columnInfo& column : table.columns) {
        names.push_back(column.name);
        exactNumbers.push_back(column.type == kJetCurrency || column.type == kJetDecimal);
    }
    writer.writeHeader(names);
    writer.setExactNumberColumns(std::move(exactNumbers));

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

// ---- export: tables as csv, tsv, jsonl or an sql dump ----------------------

// An option's text with \t, \n, \r and \\ read as a tab, a line feed, a
// carriage return and a backslash (a delimiter is hard to type otherwise).
std::string unescapeOption(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            const char* plain = next == 't' ? "\t" : next == 'n' ? "\n" : next == 'r' ? "\r" : next == '\\' ? "\\" : nullptr;
            if (plain) {
                out += plain;
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// Empty when files can be made in `folder`; otherwise why not, in plain words.
std::string folderNotWritable(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) return "the output folder '" + folder + "' does not exist";
    if (!S_ISDIR(status.st_mode)) return "'" + folder + "' is not a folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return "the output folder '" + folder + "' is not writable";
    return {};
}

std::string folderOf(const std::string& file) {
    std::string folder = std::filesystem::path(file).parent_path().string();
    return folder.empty() ? "." : folder;
}

// A file written under a temporary name beside its place, put in place only
// when it is complete: a failed or stopped export leaves no half file and
// keeps the file it was to replace.
class PendingFile {
public:
    PendingFile(const std::string& path, bool overwrite) : path_(path), overwrite_(overwrite) {}
    ~PendingFile() {
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
    }
    // Empty on success; otherwise the system's reason.
    std::string open() {
        std::string pattern = folderOf(path_) + "/." + std::filesystem::path(path_).filename().string() + ".XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = ::mkstemp(name.data());
        if (fd < 0) return std::strerror(errno);
        ::fchmod(fd, 0644);
        ::close(fd);
        temporary_ = name.data();
        stream_.rdbuf()->pubsetbuf(buffer_, sizeof buffer_);
        stream_.open(temporary_, std::ios::binary | std::ios::trunc);
        return stream_ ? std::string() : std::strerror(errno);
    }
    std::ostream& stream() { return stream_; }
    // Empty on success; otherwise why the file could not be completed.
    std::string commit() {
        errno = 0;
        stream_.flush();
        if (!stream_) return errno ? std::strerror(errno) : "write error";
        stream_.close();
        if (!stream_) return std::strerror(errno);
        if (overwrite_) {
            if (::rename(temporary_.c_str(), path_.c_str()) != 0) return std::strerror(errno);
        } else {
            // A file that appeared meanwhile is not replaced either.
            if (::link(temporary_.c_str(), path_.c_str()) != 0) return std::strerror(errno);
            ::unlink(temporary_.c_str());
        }
        temporary_.clear();
        return {};
    }

private:
    std::string path_;
    bool overwrite_;
    std::string temporary_;
    char buffer_[1 << 16];
    std::ofstream stream_;
};

std::unique_ptr<TableWriter> makeWriter(const ExportOptions& options, std::ostream& out) {
    switch (options.format) {
        case ExportFormat::Csv:
        case ExportFormat::Tsv: return makeCsvWriter(out, options.csv);
        case ExportFormat::JsonLines: return makeJsonLinesWriter(out);
        case ExportFormat::Sql: return makeSqlWriter(out, options.dialect, options.rowsPerInsert);
    }
    return nullptr;
}

// Each unknown name with the close ones ("did you mean Orders?"), or else
// the tables the file has.
void reportUnknownTables(std::ostream& err, const CMDBRecovery& engine, const ScanOptions& options,
                         const std::vector<std::string>& unknown) {
    std::vector<std::string> names;
    for (const tableInfo& table : engine.tables) {
        if (options.deleted || !isDeletedRecordsTable(table)) names.push_back(table.name);
    }
    for (const std::string& name : unknown) {
        const std::vector<std::string> close = closeNames(name, names);
        if (close.empty()) {
            reportNoSuchTable(err, engine, options, name);
            continue;
        }
        err << kProgram << ": no table '" << name << "' in '" << options.path << "'; did you mean ";
        for (size_t k = 0; k < close.size(); ++k) err << (k == 0 ? "" : k + 1 == close.size() ? " or " : ", ") << close[k];
        err << "?\n";
    }
}

int exportCommand(const ScanOptions& options, ExportOptions exportOptions, const Terminal& terminal) {
    std::ostream& err = terminal.err;
    const std::string reason = unreadableReason(options.path);
    if (!reason.empty()) {
        err << kProgram << ": cannot read '" << options.path << "': " << reason << '\n';
        return kExitUnreadable;
    }
    ExportOptions& o = exportOptions;
    if (o.output == "-") o.output.clear();
    const bool toStandardOutput = o.output.empty() && o.outputDir.empty();
    // Where the files go must take them: told before the scan, not after.
    std::vector<std::string> folders;
    if (!o.outputDir.empty()) folders.push_back(o.outputDir);
    if (!o.output.empty()) folders.push_back(folderOf(o.output));
    if (!o.oleDir.empty()) folders.push_back(o.oleDir);
    for (const std::string& folder : folders) {
        const std::string problem = folderNotWritable(folder);
        if (problem.empty()) continue;
        err << kProgram << ": " << problem << '\n';
        return kExitUnreadable;
    }

    CQuorvinAccessRecoveryApp app;
    ProgressBar bar(err, terminal.progressBar && !(toStandardOutput && terminal.outputIsTerminal));
    int status;
    {
        ProgressReceiver receiver(bar);
        bar.setLabel("Scanning pages");
        status = runScan(options, app, receiver, terminal);
        bar.end();
    }
    if (status != kExitOk) return status;
    CMDBRecovery& engine = *app.engine;

    std::vector<std::string> unknown;
    const std::vector<const tableInfo*> tables = selectExportTables(engine, o.tables, o.deleted, unknown);
    if (!unknown.empty()) {
        reportUnknownTables(err, engine, options, unknown);
        return kExitNoSuchTable;
    }

    // One file per table, one dump, or standard output.
    std::vector<ExportTarget> targets;
    const std::string stem = std::filesystem::path(options.path).stem().string();
    if (o.format == ExportFormat::Sql) {
        ExportTarget target;
        if (!o.output.empty()) target.path = o.output;
        else if (!o.outputDir.empty()) target.path = o.outputDir + "/" + exportFileName(stem, ExportFormat::Sql);
        targets.push_back(target);
    } else if (!o.outputDir.empty()) {
        std::set<std::string> taken;
        for (const tableInfo* table : tables) {
            std::string name = exportFileName(table->name, o.format);
            const std::string extension = std::filesystem::path(name).extension().string();
            const std::string base = name.substr(0, name.size() - extension.size());
            for (int n = 2; taken.count(foldedName(name)); ++n) name = base + " (" + std::to_string(n) + ")" + extension;
            taken.insert(foldedName(name));
            targets.push_back({table, o.outputDir + "/" + name});
        }
    } else if (tables.size() == 1) {
        targets.push_back({tables[0], o.output});
    } else {
        err << kProgram << ": '" << options.path << "' has " << tables.size()
            << " tables: give --output-dir DIR for one file per table, or name one table to write it to "
            << (o.output.empty() ? "standard output" : "'" + o.output + "'") << '\n';
        return kExitUsage;
    }
    if (!o.overwrite) {
        bool exists = false;
        for (const ExportTarget& target : targets) {
            if (target.path.empty() || !pathExists(target.path)) continue;
            err << kProgram << ": '" << target.path << "' exists already\n";
            exists = true;
        }
        if (exists) {
            err << kProgram << ": nothing was written; add --overwrite to replace existing files\n";
            return kExitExists;
        }
    }

    uint64_t totalRows = 0;
    for (const tableInfo* table : tables) totalRows += table->recordCount;
    bar.start(totalRows);
    const auto stopped = [&]() {
        bar.end();
        err << kProgram << ": stopped; the files written completely are kept\n";
        return kExitInterrupted;
    };
    // Unique table names for the sql dump and the OLE files.
    std::set<std::string> tableNames;
    std::map<const tableInfo*, std::string> exportNames;
    for (const tableInfo* table : tables) exportNames[table] = uniqueName(table->name, tableNames);
    const std::vector<ExportForeignKey> keys =
        o.format == ExportFormat::Sql ? exportForeignKeys(engine, tables) : std::vector<ExportForeignKey>();

    for (const ExportTarget& target : targets) {
        std::unique_ptr<PendingFile> file;
        if (!target.path.empty()) {
            file = std::make_unique<PendingFile>(target.path, o.overwrite);
            const std::string problem = file->open();
            if (!problem.empty()) {
                bar.end();
                err << kProgram << ": cannot write '" << target.path << "': " << problem << '\n';
                return kExitUnreadable;
            }
        }
        std::ostream& out = file ? file->stream() : terminal.out;
        errno = 0;
        std::unique_ptr<TableWriter> writer = makeWriter(o, out);
        writer->beginExport(std::filesystem::path(options.path).filename().string(), keys);
        std::vector<const tableInfo*> part = target.table ? std::vector<const tableInfo*>{target.table} : tables;
        for (const tableInfo* source : part) {
            tableInfo& table = const_cast<tableInfo&>(*source);
            const std::string& name = exportNames[source];
            bar.setLabel(name + ": rows");
            const ExportTable shape = exportShape(engine, table, name);
            const TableExportResult result =
                exportTableRows(engine, app, table, shape, *writer, o, out, bar, err);
            if (app.stopRequested) return stopped();
            if (!out) {
                bar.end();
                if (!file) return checkOutput(terminal, kExitOk, errno);
                err << kProgram << ": cannot write '" << target.path << "': " << std::strerror(errno ? errno : EIO)
                    << '\n';
                return kExitUnreadable;
            }
            if (!o.quiet) {
                bar.hide();
                err << name << ": " << result.rows << " row(s)";
                if (!target.path.empty()) err << " into '" << target.path << "'";
                err << '\n';
            }
            // What did not arrive exactly is said, quiet or not.
            bar.hide();
            if (result.incomplete) err << name << ": " << result.incomplete << " long value(s) only partly recovered\n";
            if (result.unconverted) {
                err << name << ": " << result.unconverted
                    << " value(s) kept as decoded: the repair's conversion refuses them\n";
            }
            if (result.oleKeptRaw) {
                err << name << ": " << result.oleKeptRaw << " OLE object(s) kept as stored (" << result.oleReason
                    << ")\n";
            }
        }
        writer->endExport();
        if (file) {
            const std::string problem = file->commit();
            if (!problem.empty()) {
                bar.end();
                err << kProgram << ": cannot write '" << target.path << "': " << problem << '\n';
                return kExitUnreadable;
            }
        }
    }
    bar.end();
    return checkOutput(terminal, kExitOk, outputErrorSoFar(terminal));
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

int repairCommand(const ScanOptions& options, const RepairOptions& repair, const Terminal& terminal, bool quiet) {
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
    bar.setLabel("Scanning pages");
    RepairReceiver receiver(app, terminal.out, bar, policy, terminal.in, terminal.err);
    receiver.setQuiet(quiet);
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
        const int shown = checkOutput(terminal, kExitOk, receiver.outputFailed() ? receiver.outputError() : -1);
        if (shown != kExitOk && shown != kExitClosedPipe && (status == kExitOk || status == kExitPartial)) {
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
    // Wrapped to the terminal; the commands inherit the formatter.
    cli.formatter(wrappingFormatter(helpWidth(terminal.outputIsTerminal)));
    cli.require_subcommand(1);
    // Options of every command, before or after its name.
    bool quiet = false, noProgress = false;
    cli.fallthrough();
    cli.add_flag("--quiet", quiet, "Log lines and summaries only for errors (repair, export)");
    cli.add_flag("--no-progress", noProgress, "No progress bar on standard error");
    cli.footer(std::string("Examples:\n"
                           "  talmera-repair repair Sales.mdb\n"
                           "  talmera-repair catalog Sales.mdb\n"
                           "  talmera-repair preview Sales.mdb Orders | less -S\n"
                           "  talmera-repair export Sales.mdb Orders > Orders.csv\n"
                           "  talmera-repair help export\n"
                           "For the mdbtools commands: mdb-tables -1 is catalog --tables, mdb-export is export "
                           "(with its -d -q -X -H -0 -D -T -b -R and -I), mdb-json is export --format jsonl, "
                           "mdb-schema and mdb-export -I are export --format sql --dialect.\n") +
               exitStatusText(&ExitStatus::overall));

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
    bool json = false, catalogTables = false;
    CLI::App* catalog = cli.add_subcommand(
        "catalog", "Scan the database silently and list the tables, queries, links and other "
                   "objects found");
    addScanOptions(*catalog, catalogOptions);
    CLI::Option* catalogJsonFlag = catalog->add_flag("--json", json, "Print one JSON object (UTF-8) instead of a listing");
    catalog->add_flag("-1,--tables", catalogTables,
                      "Print only the names of the tables repair saves and export writes, one a line (as mdb-tables -1)")
        ->excludes(catalogJsonFlag);
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
                                               "(UTF-8) per line, Currency and Decimal as numbers "
                                               "where a double gives their digits back")
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

    // The tables in the forms people move data with.
    ScanOptions exportScan;
    ExportOptions exportOptions;
    std::string exportFormat = "csv", exportDialect = "sqlite", insertDialect, binaryMode = "base64",
                quoting = "needed", oleMode = "raw";
    bool noQuote = false, noHeader = false;
    CLI::App* exporter = cli.add_subcommand(
        "export", "Scan the database silently and write its tables as csv, tsv, jsonl or an sql dump");
    addScanOptions(*exporter, exportScan);
    exporter->add_option("TABLE", exportOptions.tables,
                         "A table to export (names as catalog lists them, in any case; default: every table)");
    exporter->add_option("--format,-F", exportFormat,
                         "csv (RFC 4180), tsv (tabs, escapes as preview), jsonl (one JSON object per row) or sql")
        ->type_name("csv|tsv|jsonl|sql")
        ->check(CLI::IsMember({"csv", "tsv", "jsonl", "sql"}).description(""))
        ->capture_default_str();
    exporter->add_option("--dialect", exportDialect, "The sql dump's dialect")
        ->type_name("sqlite|postgres|mysql")
        ->check(CLI::IsMember({"sqlite", "postgres", "mysql"}).description(""))
        ->capture_default_str();
    exporter->add_option("-I,--insert", insertDialect, "As mdb-export -I: --format sql --dialect DIALECT")
        ->type_name("DIALECT")
        ->check(CLI::IsMember({"sqlite", "postgres", "mysql"}).description(""));
    CLI::Option* outputDir = exporter->add_option(
        "--output-dir,-O", exportOptions.outputDir,
        "Write one file per table into DIR (<table>.csv, .tsv, .jsonl), or DIR/<file name>.sql");
    outputDir->type_name("DIR");
    exporter->add_option("--output,-o", exportOptions.output, "Write into PATH (one table, or the sql dump; - is standard output)")
        ->type_name("PATH")
        ->excludes(outputDir);
    exporter->add_flag("--overwrite", exportOptions.overwrite, "Replace existing files");
    exporter->add_option("-d,--delimiter", exportOptions.csv.delimiter, "Column delimiter (default , and tab for tsv; \\t is a tab)")
        ->type_name("TEXT");
    exporter->add_option("-R,--row-delimiter", exportOptions.csv.rowDelimiter,
                         "Row delimiter (default \\r\\n for csv, \\n for tsv)")
        ->type_name("TEXT");
    exporter->add_option("-q,--quote", exportOptions.csv.quote, "Quote character (default \")")->type_name("CHAR");
    exporter->add_flag("-Q,--no-quote", noQuote, "Quote nothing (--quoting none)");
    exporter->add_option("--quoting", quoting, "Which fields are quoted: those that need it, all, or none")
        ->type_name("needed|all|none")
        ->check(CLI::IsMember({"needed", "all", "none"}).description(""));
    exporter->add_option("-X,--escape", exportOptions.csv.escape,
                         "Escape a quote inside a field with CHAR instead of doubling it")
        ->type_name("CHAR");
    exporter->add_flag("-e,--escape-invisible", exportOptions.csv.escapeInvisible,
                       "Write tab, line feed, carriage return and backslash as \\t \\n \\r \\\\ (tsv does)");
    exporter->add_flag("-H,--no-header", noHeader, "No header row of column names");
    exporter->add_option("-0,--null", exportOptions.csv.nullText, "Text of NULL (default: nothing)")->type_name("TEXT");
    exporter->add_option("-D,--date-format", exportOptions.csv.dateFormat,
                         "strftime format of dates without a time of day (default ISO: 2024-05-31 00:00:00)")
        ->type_name("FORMAT");
    exporter->add_option("-T,--datetime-format", exportOptions.csv.dateTimeFormat,
                         "strftime format of dates and times (default ISO: 2024-05-31 13:45:00)")
        ->type_name("FORMAT");
    exporter->add_option("-b,--bin", binaryMode, "Binary and OLE values in csv and tsv")
        ->type_name("raw|hex|base64|strip")
        ->check(CLI::IsMember({"raw", "hex", "base64", "strip"}).description(""))
        ->capture_default_str();
    exporter->add_flag("-B,--boolean-words", exportOptions.csv.booleanWords, "Yes/No as true/false (default 1/0)");
    exporter->add_option("--ole", oleMode,
                         "OLE objects as stored, or unwrapped to the embedded file (a picture, a document)")
        ->type_name("raw|unwrap")
        ->check(CLI::IsMember({"raw", "unwrap"}).description(""))
        ->capture_default_str();
    exporter->add_option("--ole-dir", exportOptions.oleDir,
                         "Write each OLE object as a file into DIR; the value names the file")
        ->type_name("DIR");
    exporter->add_option("-S,--batch-size", exportOptions.rowsPerInsert, "Rows per INSERT of the sql dump")
        ->type_name("N")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    exporter->footer(
        std::string(
            "Output: with one TABLE and no --output-dir or --output, the table on standard output; otherwise "
            "one file per table in --output-dir (names made safe as attachments --extract makes them), or the "
            "sql dump in one file. Existing files are replaced only with --overwrite; a file is written under "
            "a temporary name and put in place when complete. Every value is the one the repair saves: NULL "
            "stays NULL, Currency and Decimal keep every digit (jsonl: numbers when a double gives them back, "
            "strings otherwise), dates are ISO 8601 (jsonl: 2024-05-31T13:45:00), binary and OLE values "
            "base64 (csv: -b), attachments and multi-valued fields arrays (jsonl) or child tables (sql). "
            "A summary line per table goes to standard error.\n"
            "Examples:\n"
            "  talmera-repair export Sales.mdb Orders > Orders.csv\n"
            "  talmera-repair export Sales.mdb --format jsonl --output-dir out/\n"
            "  talmera-repair export Sales.mdb -I postgres | psql sales\n"
            "  talmera-repair export Sales.mdb Employees --format jsonl --ole unwrap --ole-dir photos/\n") +
        kPreviewExitStatusText + " Also 4: a file to be written exists (nothing is written; add --overwrite).");

    // Left to the parser, a mistyped command would only be reported as a
    // missing one.
    const auto isCommand = [](std::string_view name) {
        for (const char* command : {"repair", "scan", "catalog", "queries", "preview", "export", "attachments", "objects"}) {
            if (name == command) return true;
        }
        return false;
    };
    // The build writes the manual page and the completion script from this
    // same description of the commands.
    if (argc == 2 && std::string_view(argv[1]) == "--man-page") {
        writeManPage(cli, TALMERA_VERSION, terminal.out);
        return checkOutput(terminal, kExitOk);
    }
    if (argc == 2 && std::string_view(argv[1]) == "--bash-completion") {
        writeBashCompletion(cli, terminal.out);
        return checkOutput(terminal, kExitOk);
    }
    // "help" and "help COMMAND": the same as --help and COMMAND --help.
    if (argc > 1 && std::string_view(argv[1]) == "help") {
        std::vector<const char*> asked{argv[0]};
        if (argc > 2) asked.push_back(argv[2]);
        asked.push_back("--help");
        return runCommandLine(static_cast<int>(asked.size()), asked.data(), terminal);
    }
    if (argc > 1 && argv[1][0] != '-' && !isCommand(argv[1])) {
        terminal.err << kProgram << ": unknown command '" << argv[1]
                     << "' (commands: repair, scan, catalog, queries, preview, export, attachments, objects, help; see --help)\n";
        return kExitUsage;
    }

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = cli.exit(error, terminal.out, terminal.err);
        return status == 0 ? kExitOk : kExitUsage;
    }

    Terminal shown = terminal;
    if (noProgress) shown.progressBar = false;
    const Terminal& chosen = shown;
    const ScanOptions& options = repair->parsed()    ? repairScan
                                 : scan->parsed()    ? scanOptions
                                 : preview->parsed() ? previewOptions
                                 : queries->parsed() ? queriesOptions
                                 : attachments->parsed() ? attachmentsOptions
                                 : objects->parsed() ? objectsOptions
                                 : exporter->parsed() ? exportScan
                                                     : catalogOptions;
    try {
        if (repair->parsed()) return repairCommand(options, repairOptions, chosen, quiet);
        if (scan->parsed()) return scanCommand(options, chosen);
        if (preview->parsed()) return previewCommand(options, tableName,
                                  rowFormat == "json" ? RowFormat::Json : RowFormat::Tsv, chosen);
        if (queries->parsed()) return queriesCommand(options, queriesJson, chosen);
        if (attachments->parsed()) return attachmentsCommand(options, attachmentsTable, extractDir, chosen);
        if (objects->parsed()) return objectsCommandOnFile(options, objectsExtractDir, chosen);
        if (exporter->parsed()) {
            ExportOptions& o = exportOptions;
            if (!insertDialect.empty()) {
                exportFormat = "sql";
                exportDialect = insertDialect;
            }
            o.format = exportFormat == "tsv"     ? ExportFormat::Tsv
                       : exportFormat == "jsonl" ? ExportFormat::JsonLines
                       : exportFormat == "sql"   ? ExportFormat::Sql
                                                 : ExportFormat::Csv;
            o.dialect = exportDialect == "postgres" ? SqlDialect::Postgres
                        : exportDialect == "mysql"  ? SqlDialect::MySql
                                                    : SqlDialect::Sqlite;
            o.deleted = options.deleted;
            CsvOptions& csv = o.csv;
            if (o.format == ExportFormat::Tsv) {
                // Tab-separated as preview writes it: escapes, no quotes.
                if (exporter->count("--delimiter") == 0) csv.delimiter = "\t";
                if (exporter->count("--row-delimiter") == 0) csv.rowDelimiter = "\n";
                if (exporter->count("--quoting") == 0 && exporter->count("--quote") == 0) quoting = "none";
                csv.escapeInvisible = true;
            }
            csv.delimiter = unescapeOption(csv.delimiter);
            csv.rowDelimiter = unescapeOption(csv.rowDelimiter);
            csv.quote = unescapeOption(csv.quote);
            csv.escape = unescapeOption(csv.escape);
            csv.header = !noHeader;
            csv.quoting = noQuote || quoting == "none" ? Quoting::None : quoting == "all" ? Quoting::All : Quoting::Needed;
            csv.binary = binaryMode == "raw"     ? BinaryMode::Raw
                         : binaryMode == "hex"   ? BinaryMode::Hex
                         : binaryMode == "strip" ? BinaryMode::Strip
                                                 : BinaryMode::Base64;
            o.ole = oleMode == "unwrap" ? OleMode::Unwrap : OleMode::Raw;
            o.quiet = quiet;
            return exportCommand(options, o, chosen);
        }
        return catalogCommand(options, json, catalogTables, terminal);
    } catch (const std::exception& error) {
        terminal.err << kProgram << ": error while " << (repair->parsed() ? "repairing" : "reading") << " '"
                     << options.path << "': " << error.what() << '\n';
        return kExitUnreadable;
    }
}

}  // namespace talmera::cli
