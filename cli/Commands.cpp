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
                     "Also recover deleted records, as extra tables named \"... (deleted records)\"");
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
    cli.footer(kExitStatusText);

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

    // Left to the parser, a mistyped command would only be reported as a
    // missing one.
    if (argc > 1 && argv[1][0] != '-' && std::string_view(argv[1]) != "scan" &&
        std::string_view(argv[1]) != "catalog") {
        terminal.err << kProgram << ": unknown command '" << argv[1]
                     << "' (commands: scan, catalog; see --help)\n";
        return kExitUsage;
    }

    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = cli.exit(error, terminal.out, terminal.err);
        return status == 0 ? kExitOk : kExitUsage;
    }

    const ScanOptions& options = scan->parsed() ? scanOptions : catalogOptions;
    try {
        if (scan->parsed()) return scanCommand(options, terminal);
        return catalogCommand(options, json, terminal);
    } catch (const std::exception& error) {
        terminal.err << kProgram << ": error while reading '" << options.path
                     << "': " << error.what() << '\n';
        return kExitUnreadable;
    }
}

}  // namespace talmera::cli
