#include "tests/support/TestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <stdexcept>

#include "engine/run/RecoverThread.h"

namespace talmera::test {

intptr_t RecordingReceiver::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    std::string text;
    if (message == UM_LOG_LINE) {
        text = app_.logLine;
        logLines.push_back(text);
    }
    events.push_back({message, wParam, lParam, text});
    return 0;
}

void RecordingReceiver::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == UM_RUN_FINISHED) ++finishedPosts;
    events.push_back({message, wParam, lParam, {}});
}

void RecordingReceiver::showMessageBox(const std::string& upper, const std::string& lower) {
    boxes.push_back(upper + "|" + lower);
}

void RecordingReceiver::showPlatformMessage(const std::string& text) { boxes.push_back("platform:" + text); }

std::optional<std::string> RecordingReceiver::askPassword(const std::string&, int attempt) {
    ++passwordQuestions;
    if (attempt < 0 || static_cast<size_t>(attempt) >= passwords.size()) return std::nullopt;
    return passwords[static_cast<size_t>(attempt)];
}

ScanResult runScan(const std::string& path, bool includeDeleted, bool includeUnlisted,
                   const std::vector<std::string>& passwords) {
    ScanResult r;
    r.app = std::make_unique<CQuorvinAccessRecoveryApp>();
    r.app->selectedPath = path;
    r.app->scanRun = true;
    r.app->includeDeletedRecords = includeDeleted;
    r.app->includeUnlistedPages = includeUnlisted;
    r.receiver = std::make_unique<RecordingReceiver>(*r.app);
    r.receiver->passwords = passwords;
    r.engine = std::make_shared<CMDBRecovery>(*r.app);
    r.engine->sourcePath = path;
    r.app->engine = r.engine;
    CRecoverThread thread(*r.app, r.receiver.get());
    thread.sourcePath = path;
    thread.Run();
    return r;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "talmera-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

int runCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    std::string out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int status = pclose(pipe);
    if (output) *output = std::move(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellQuote(const std::string& text) {
    std::string q = "'";
    for (char c : text) {
        if (c == '\'') q += "'\\''";
        else q += c;
    }
    return q + "'";
}

bool haveProgram(const std::string& name) {
    return runCommand("command -v " + shellQuote(name) + " >/dev/null 2>&1", nullptr) == 0;
}

namespace {
std::filesystem::path existingFolder(const std::filesystem::path& dir) {
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::filesystem::path{};
}
}  // namespace

std::filesystem::path corpusDir() { return existingFolder(TALMERA_CORPUS_DIR); }

std::filesystem::path encryptedDir() { return existingFolder(TALMERA_ENCRYPTED_DIR); }

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace talmera::test

#include <algorithm>
#include <cmath>
#include <strings.h>
#include <cstring>

#include "engine/ValueText.h"

namespace talmera::test {

std::vector<std::vector<RowValue>> readAllRows(CMDBRecovery& engine, size_t tablePosition, bool readLongValues) {
    std::vector<std::vector<RowValue>> rows;
    const tableInfo& table = engine.tables[tablePosition];
    for (uint64_t page : table.pages) {
        const SlotTable slots = engine.LoadPageRows(page);
        for (size_t slot = 0; slot < slots.size(); ++slot) {
            std::vector<RowValue> values;
            if (engine.DecodeRowValues(table, page, slots, slot, readLongValues, values)) rows.push_back(std::move(values));
        }
    }
    return rows;
}

std::vector<std::vector<std::optional<std::string>>> mdbExportRows(const std::string& file, const std::string& table) {
    // Unit and record separators, and a start-of-text byte for NULL: none of
    // them occur in the tables compared.
    std::string out;
    runCommand("mdb-export -H -Q -d \"$(printf '\\037')\" -R \"$(printf '\\036')\" -0 \"$(printf '\\002')\" "
               "-D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex " +
                   shellQuote(file) + " " + shellQuote(table) + " 2>/dev/null",
               &out);
    std::vector<std::vector<std::optional<std::string>>> rows;
    size_t start = 0;
    while (start < out.size()) {
        size_t end = out.find('\x1e', start);
        if (end == std::string::npos) end = out.size();
        std::vector<std::optional<std::string>> row;
        const std::string line = out.substr(start, end - start);
        size_t cell = 0;
        while (true) {
            size_t next = line.find('\x1f', cell);
            std::string text = line.substr(cell, next == std::string::npos ? std::string::npos : next - cell);
            if (text == "\x02") row.push_back(std::nullopt);
            else row.push_back(text);
            if (next == std::string::npos) break;
            cell = next + 1;
        }
        rows.push_back(std::move(row));
        start = end + 1;
    }
    return rows;
}

std::optional<std::string> exportText(const RowValue& v) {
    if (v.type == 0x01) return std::string(v.state == RowValue::State::Value ? "1" : "0");
    if (v.state != RowValue::State::Value) return std::nullopt;
    char buffer[64];
    switch (v.kind) {
        case RowValue::Kind::Integer:
        case RowValue::Kind::Complex:
            return std::to_string(v.integer);
        case RowValue::Kind::Currency: {
            const uint64_t m = v.integer < 0 ? 0 - static_cast<uint64_t>(v.integer) : static_cast<uint64_t>(v.integer);
            std::snprintf(buffer, sizeof buffer, "%s%llu.%04llu", v.integer < 0 ? "-" : "",
                          static_cast<unsigned long long>(m / 10000), static_cast<unsigned long long>(m % 10000));
            return std::string(buffer);
        }
        case RowValue::Kind::Real:
            std::snprintf(buffer, sizeof buffer, "%.17g", v.real);
            return std::string(buffer);
        case RowValue::Kind::DateTime: {
            int y, mo, d, h, mi, s;
            SplitDateTime(v.real, y, mo, d, h, mi, s);
            std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
            return std::string(buffer);
        }
        case RowValue::Kind::Bytes:
            return HexText(v.bytes.data(), v.bytes.size());
        default:
            return v.string;
    }
}

bool sameCell(const RowValue& ours, const std::optional<std::string>& theirs, std::string* why) {
    const std::optional<std::string> mine = exportText(ours);
    auto explain = [&](const char* what) {
        if (why) *why = std::string(what) + ": ours [" + mine.value_or("NULL") + "] mdbtools [" + theirs.value_or("NULL") + "]";
        return false;
    };
    if (!mine || !theirs) {
        // mdbtools writes an empty text where a value is empty; we keep it as an empty value.
        if (!mine && theirs && theirs->empty()) return true;
        if (mine && mine->empty() && !theirs) return true;
        return mine.has_value() == theirs.has_value() ? true : explain("null");
    }
    if (ours.kind == RowValue::Kind::Real || ours.kind == RowValue::Kind::Decimal ||
        ours.kind == RowValue::Kind::Currency) {
        char* end = nullptr;
        const double a = std::strtod(mine->c_str(), nullptr);
        const double b = std::strtod(theirs->c_str(), &end);
        if (end == theirs->c_str()) return explain("not a number");
        const double tolerance = 1e-6 * std::max({1.0, std::fabs(a), std::fabs(b)});
        return std::fabs(a - b) <= tolerance ? true : explain("number");
    }
    if (ours.kind == RowValue::Kind::Guid && theirs->size() % 2 == 0 && theirs->size() > 38 &&
        theirs->find_first_not_of("0123456789ABCDEFabcdef") == std::string::npos) {
        // With -b hex mdbtools prints a GUID's text as hexadecimal bytes.
        std::string text;
        for (size_t i = 0; i + 1 < theirs->size(); i += 2) {
            text.push_back(static_cast<char>(std::stoi(theirs->substr(i, 2), nullptr, 16)));
        }
        // mdbtools leaves out the dash before the last twelve digits.
        auto bare = [](std::string t) {
            t.erase(std::remove(t.begin(), t.end(), '-'), t.end());
            return t;
        };
        return strcasecmp(bare(*mine).c_str(), bare(text).c_str()) == 0 ? true : explain("guid");
    }
    if (ours.kind == RowValue::Kind::Bytes || ours.kind == RowValue::Kind::Guid) {
        return strcasecmp(mine->c_str(), theirs->c_str()) == 0 ? true : explain("bytes");
    }
    return *mine == *theirs ? true : explain("text");
}

}  // namespace talmera::test
