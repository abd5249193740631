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
#include <memory>
#include <string_view>

#include <CLI/CLI.hpp>

#include "cli/Catalog.h"
#include "cli/Preview.h"
#include "cli/ProgressBar.h"
#include "cli/TerminalReceiver.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/RecoverThread.h"
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

void addScanOptions(CLI::App& command, ScanOptions& options) {
    command.add_option("FILE", options.path, "The Access database (.mdb, .accdb); it is only read")
        ->required();
    command.add_flag("--deleted", options.deleted,
                     "Also recover deleted records, as extra tables named after their table with "
                     "\"(deleted records)\" appended");
    command.add_option("--codepage", options.codePage,
                       "Windows code page of 8-bit texts (Access 97 files)")
        ->type_name("N")
        ->check(CLI::Validator(checkCodePage, ""))
        ->capture_default_str();
    command.add_flag("--include-unlisted-pages", options.unlistedPages,
                     "Also read pages that carry a table's rows but are not listed as its pages "
                     "(older states of the table)");
}

constexpr const char* kExitStatusText =
    "Exit status: 0 the file was scanned (also when its catalog is empty), 1 the file cannot be "
    "read, 2 the file is not an Access database, 64 bad command line, 130 stopped with Ctrl-C.";
constexpr const char* kPreviewExitStatusText =
    "Exit status: 0 the table was read, 1 the file cannot be read, 2 the file is not an Access "
    "database, 3 the file has no table of that name (standard error lists those it has), 64 bad "
    "command line, 130 stopped with Ctrl-C.";

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
            std::ostream& err) {
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

    CRecoverThread thread(app, &receiver);
    thread.sourcePath = options.path;
    runJob(app, thread);

    if (app.stopRequested) {
        err << kProgram << ": stopped\n";
        return kExitInterrupted;
    }
    if (app.invalidFile) {
        err << kProgram << ": '" << options.path << "' is not an Access database\n";
        return kExitNotAccess;
    }
    return kExitOk;
}

int scanCommand(const ScanOptions& options, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    ProgressBar bar(terminal.err, terminal.progressBar);
    TerminalReceiver receiver(app, terminal.out, bar);
    int status = runScan(options, app, receiver, terminal.err);
    bar.end();
    terminal.out.flush();
    return status;
}

int catalogCommand(const ScanOptions& options, bool json, const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    SilentReceiver receiver;
    int status = runScan(options, app, receiver, terminal.err);
    if (status != kExitOk) return status;
    if (json) {
        // Names from a damaged file may hold bytes that are not UTF-8; the
        // output stays valid JSON all the same.
        terminal.out << catalogJson(*app.engine, app, options.deleted)
                            .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                     << '\n';
    } else {
        printCatalogListing(terminal.out, *app.engine, app, options.deleted);
    }
    terminal.out.flush();
    return kExitOk;
}

bool isDeletedRecordsTable(const tableInfo& table) {
    return table.name.find(kDeletedRecordsMarker) != std::string::npos;
}

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

int previewCommand(const ScanOptions& options, const std::string& tableName, RowFormat format,
                   const Terminal& terminal) {
    CQuorvinAccessRecoveryApp app;
    int status;
    {
        ProgressBar bar(terminal.err, terminal.progressBar);
        ProgressReceiver receiver(bar);
        status = runScan(options, app, receiver, terminal.err);
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
    terminal.out.flush();

    if (app.stopRequested) {
        terminal.err << kProgram << ": stopped\n";
        return kExitInterrupted;
    }
    return kExitOk;
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
        "page. The database is only read, never written.",
        kProgram};
    cli.set_version_flag("--version", std::string(kProgram) + " " + TALMERA_VERSION);
    cli.require_subcommand(1);
    cli.footer(
        "Exit status: 0 the file was scanned (also when its catalog is empty), 1 the file cannot "
        "be read, 2 the file is not an Access database, 3 (preview) the file has no table of that "
        "name, 64 bad command line, 130 stopped with Ctrl-C.");

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

    // Left to the parser, a mistyped command would only be reported as a
    // missing one.
    if (argc > 1 && argv[1][0] != '-' && std::string_view(argv[1]) != "scan" &&
        std::string_view(argv[1]) != "catalog" && std::string_view(argv[1]) != "preview") {
        terminal.err << kProgram << ": unknown command '" << argv[1]
                     << "' (commands: scan, catalog, preview; see --help)\n";
        return kExitUsage;
    }

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = cli.exit(error, terminal.out, terminal.err);
        return status == 0 ? kExitOk : kExitUsage;
    }

    const ScanOptions& options =
        scan->parsed() ? scanOptions : preview->parsed() ? previewOptions : catalogOptions;
    try {
        if (scan->parsed()) return scanCommand(options, terminal);
        if (preview->parsed()) return previewCommand(options, tableName,
                                  rowFormat == "json" ? RowFormat::Json : RowFormat::Tsv, terminal);
        return catalogCommand(options, json, terminal);
    } catch (const std::exception& error) {
        terminal.err << kProgram << ": error while reading '" << options.path
                     << "': " << error.what() << '\n';
        return kExitUnreadable;
    }
}

}  // namespace talmera::cli
