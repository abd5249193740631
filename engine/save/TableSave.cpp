// The save's steps for the tables and the queries: each selected table into
// the output table created for it (through a scratch table when it has an
// auto-number column), row by row as the row walker decodes them; each
// selected query as a query definition.
//
// A table's rows are decoded on a thread of their own, a few hundred places
// ahead of the writing, and handed over through a bounded queue; the thread
// of the save writes them, so that every output call stays on that thread.
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "engine/ApplicationState.h"
#include "engine/LogLines.h"
#include "engine/MDBRecovery.h"
#include "engine/RowWalker.h"
#include "engine/save/OutputDatabase.h"
#include "platform/MessageReceiver.h"

namespace talmera {

namespace {
const char kScratchTable[] = "QTARTable";

// The places of a table's walk, decoded on a thread of their own and handed
// to the save in their order. The decoding thread fills batches of places;
// the save takes one batch at a time. At most kBatches batches are decoded
// ahead, each of at most kPlaces places and about kBytes bytes of values, so
// that memory stays flat whatever the table. The decoding thread touches
// nothing but the source file and the decoder's state, which the save's
// thread leaves alone while the table is written; it sends no message and
// logs nothing.
class DecodedRows {
public:
    struct Place {
        size_t k = 0;                 // its place within the walk's group
        bool candidate = false;       // RowWalker::candidate
        bool decoded = false;         // RowWalker::decode's result
        bool beforePlace = false;     // the walk itself failed before this place
        std::exception_ptr error;     // what decoding (or the walk) threw
        uint64_t incomplete = 0;      // long values its decoding found incomplete
        std::vector<RowValue> values;
    };

    DecodedRows(CMDBRecovery& engine, const tableInfo& table) : rows_(engine, table), engine_(engine) {
        deletedList_ = rows_.deletedList();
        for (Batch& b : batches_) b.places.resize(kPlaces);
        try {
            thread_ = std::thread([this] { decodeAll(); });
        } catch (const std::system_error&) {
            // No thread to be had: the places are decoded on the save's
            // thread as they are asked for.
        }
    }
    ~DecodedRows() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            cancelled_ = true;
        }
        room_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    DecodedRows(const DecodedRows&) = delete;
    DecodedRows& operator=(const DecodedRows&) = delete;

    bool deletedList() const { return deletedList_; }

    // The next place of the walk, or nullptr when the walk is over. Valid
    // until the next call.
    const Place* next() {
        if (current_ && at_ < current_->count) return &current_->places[at_++];
        if (current_) release();
        if (!take()) return nullptr;
        return at_ < current_->count ? &current_->places[at_++] : nullptr;
    }

private:
    static constexpr size_t kBatches = 4;
    static constexpr size_t kPlaces = 64;
    static constexpr size_t kBytes = size_t{4} << 20;
    // A value buffer larger than this is given back when its batch is reused.
    static constexpr size_t kKeptBuffer = size_t{1} << 20;

    struct Batch {
        std::vector<Place> places;
        size_t count = 0;
        bool last = false;  // the walk ends with this batch
    };

    // Decodes the next places of the walk into b; b.last when the walk has ended.
    void fill(Batch& b) {
        b.count = 0;
        b.last = false;
        size_t bytes = 0;
        while (b.count < kPlaces && bytes < kBytes) {
            if (k_ >= group_) {
                Place& p = b.places[b.count];
                bool more = false;
                try {
                    more = rows_.nextGroup();
                } catch (...) {
                    p = Place{};
                    p.beforePlace = true;
                    p.error = std::current_exception();
                    ++b.count;
                    b.last = true;
                    return;
                }
                if (!more) {
                    b.last = true;
                    return;
                }
                k_ = 0;
                group_ = rows_.groupSize();
                continue;
            }
            Place& p = b.places[b.count++];
            p.k = k_;
            p.candidate = rows_.candidate(k_);
            p.decoded = false;
            p.beforePlace = false;
            p.error = nullptr;
            p.incomplete = 0;
            ++k_;
            if (!p.candidate) continue;
            const uint64_t before = engine_.statistics.valuesIncomplete;
            try {
                p.decoded = rows_.decode(p.k, true, p.values, false);
            } catch (...) {
                p.error = std::current_exception();
            }
            p.incomplete = engine_.statistics.valuesIncomplete - before;
            if (p.error) {
                b.last = true;
                return;
            }
            if (p.decoded) {
                for (const RowValue& v : p.values) bytes += v.string.size() + v.bytes.size() + v.text.size();
            }
        }
    }

    void decodeAll() {
        for (size_t n = 0;; n = (n + 1) % kBatches) {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                room_.wait(lock, [&] { return cancelled_ || filled_ < kBatches; });
                if (cancelled_) return;
            }
            Batch& b = batches_[n];
            fill(b);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++filled_;
            }
            ready_.notify_one();
            if (b.last) return;
        }
    }

    // Waits for the next batch; false when the walk is over.
    bool take() {
        if (ended_) return false;
        Batch& b = batches_[taken_];
        if (thread_.joinable()) {
            std::unique_lock<std::mutex> lock(mutex_);
            ready_.wait(lock, [&] { return filled_ > 0; });
        } else {
            fill(b);
        }
        current_ = &b;
        at_ = 0;
        ended_ = b.last;
        return true;
    }

    // Gives the batch taken back to the decoding thread.
    void release() {
        for (size_t i = 0; i < current_->count; ++i) {
            for (RowValue& v : current_->places[i].values) {
                if (v.string.capacity() > kKeptBuffer) std::string().swap(v.string);
                if (v.text.capacity() > kKeptBuffer) std::string().swap(v.text);
                if (v.bytes.capacity() > kKeptBuffer) std::vector<uint8_t>().swap(v.bytes);
            }
        }
        current_ = nullptr;
        taken_ = (taken_ + 1) % kBatches;
        if (!thread_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --filled_;
        }
        room_.notify_one();
    }

    RowWalker rows_;
    CMDBRecovery& engine_;
    bool deletedList_ = false;
    // The decoding side's place in the walk.
    size_t k_ = 0;
    size_t group_ = 0;
    Batch batches_[kBatches];
    // The save's side.
    Batch* current_ = nullptr;
    size_t at_ = 0;
    size_t taken_ = 0;
    bool ended_ = false;
    // Between the two.
    std::mutex mutex_;
    std::condition_variable ready_;  // a batch was filled
    std::condition_variable room_;   // a batch was given back, or the walk is cancelled
    size_t filled_ = 0;              // batches decoded and not yet given back
    bool cancelled_ = false;
    std::thread thread_;
};

std::string describe(const dao::ComError& error) {
    std::string text = error.description.empty() ? dao::FormatComError(error) : error.description;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}
}  // namespace

void COutputDatabase::CloseRecordset() {
    if (!set_.recordset) return;
    try {
        set_.recordset->Close();
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
    }
    set_.recordset.reset();
}

bool COutputDatabase::StopSave() {
    CloseRecordset();
    if (WriteFailed()) {
        DiscardOutput();
        return false;
    }
    // What was written is a usable file, marked incomplete.
    EndReport(true);
    if (!CloseOutputDatabase() || WriteFailed()) {
        DiscardOutput();
        return false;
    }
    return PlaceOutput(false);
}

bool COutputDatabase::FinishSave() {
    if (WriteFailed()) {
        DiscardOutput();
        return false;
    }
    EndReport(false);
    if (!CloseOutputDatabase() || WriteFailed()) {
        DiscardOutput();
        return false;
    }
    // Complete: it replaces the previous output only now.
    return PlaceOutput(true);
}

bool COutputDatabase::SaveTableRows(const tableInfo& table) {
    // A save writes typed values, long values whole; it needs no texts.
    // The decoding runs ahead of the writing; the long values it finds
    // incomplete count only for the rows written (the places decoded ahead of
    // a stop are not), as when each row was decoded just before its writing.
    uint64_t& incomplete = engine_.statistics.valuesIncomplete;
    const uint64_t before = incomplete;
    uint64_t counted = 0;
    struct Count {
        uint64_t& incomplete;
        const uint64_t& before;
        const uint64_t& counted;
        ~Count() { incomplete = before + counted; }
    } count{incomplete, before, counted};
    DecodedRows rows(engine_, table);
    while (const DecodedRows::Place* place = rows.next()) {
        if (place->beforePlace) std::rethrow_exception(place->error);
        if (Stopped()) return false;
        if (place->candidate) {
            counted += place->incomplete;
            if (place->error) std::rethrow_exception(place->error);
            if (place->decoded) TransferRow(table, place->values);
            // Deleted records are announced as the preview announces them.
            if (rows.deletedList() && mainWindow) mainWindow->send(UM_ADD_RECORD_ROW, 0, place->k == 0 ? 1 : 0);
        }
        app.currentRowValues.clear();
        SendProgress(kProgressStep);
    }
    return true;
}

bool COutputDatabase::SaveTable(size_t position, const std::string& outputName) {
    const tableInfo& table = tables[position];
    savingTables = true;
    Log("Saving Table.....  " + table.name);
    Log(log::Counted("Total field(s) present  :", table.columnCount));
    if (outputName != table.name) Log("Table name already in use, saved as  : " + outputName);
    // A table with an auto-number column is filled through a scratch table
    // that keeps the stored numbers; without one, straight.
    std::string target = outputName;
    bool scratch = false;
    if (table.hasAutoNumber) {
        try {
            PrepareScratchTable(kScratchTable, table);
            target = kScratchTable;
            scratch = true;
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
            // A scratch table made only in part is not left in the output.
            try {
                set_.database->TableDefItem(kScratchTable);
                set_.database->DeleteTableDef(kScratchTable);
            } catch (const dao::ComError&) {
            }
        }
    }
    recordsWritten = 0;
    recordsRefused = 0;
    const uint64_t valuesBefore = statistics.valuesIncomplete;
    const uint64_t attachmentsBefore = relatedStatistics.attachmentsIncomplete;
    transferFields = {};
    bool opened = false;
    std::string cut;  // why the transfer ended early
    ScratchMove move;
    // The rows that reached the scratch table go into their own table, and
    // the scratch table goes: it never stays in the output.
    auto moveFromScratch = [&] {
        if (!scratch || WriteFailed()) return;
        move = MoveScratchRecords(kScratchTable, outputName);
        recordsWritten = move.moved;
        recordsRefused += move.refused;
        if (move.notMoved || !move.deleted) {
            Log(log::Counted("Record(s) not moved from the scratch table  :", move.notMoved));
        }
    };
    // What the report says of this table.
    auto record = [&](bool stopped) {
        RecoveryReport::Table* entry = ReportTable(position);
        if (!entry) return;
        entry->outputName = outputName;
        entry->saved = opened;
        entry->SetRecovered(recordsWritten);
        entry->refusedRows = recordsRefused;
        entry->partialValues = (statistics.valuesIncomplete - valuesBefore) +
                               (relatedStatistics.attachmentsIncomplete - attachmentsBefore);
        if (recordsRefused) {
            entry->problems.push_back(std::to_string(recordsRefused) +
                                      " rows were refused by the output database (values it cannot store)");
        }
        if (entry->partialValues) {
            entry->problems.push_back(std::to_string(entry->partialValues) +
                                      " long values (memo, OLE object, attachment) were only partly recovered");
        }
        if (!cut.empty()) {
            entry->problems.push_back((opened ? "its rows could not all be written: " : "its rows could not be written: ") + cut);
        }
        if (move.notMoved) {
            entry->problems.push_back(std::to_string(move.notMoved) +
                                      " rows written into the scratch table could not be moved into the table" +
                                      (move.problem.empty() ? std::string() : ": " + move.problem));
        }
        if (scratch && !move.deleted && !WriteFailed()) {
            entry->problems.push_back("the scratch table " + std::string(kScratchTable) + " could not be deleted");
        }
        if (stopped) entry->problems.push_back("the save was stopped while its rows were written");
    };
    try {
        // DAO's arguments as the save has always passed them: a dynaset
        // (dbOpenDynaset), options 2 (dbDenyRead: no one else reads the table
        // meanwhile) and lock 3 (dbOptimistic: records are locked only while
        // Update stores them). The embedded SQLite engine takes no notice of
        // the options and the lock.
        set_.recordset = set_.database->OpenRecordset(target, dao::dbOpenDynaset, 2, 3);
        opened = true;
        SendProgress(kProgressStart, static_cast<intptr_t>(table.recordCount));
        if (!SaveTableRows(table)) {
            // Stopped: the rows written so far through the scratch table are
            // moved into their own table first, so that they stay where they belong.
            moveFromScratch();
            record(true);
            return false;
        }
    } catch (const dao::ComError& error) {
        NoteOutputError(error);  // ends this table's transfer
        cut = describe(error);
    }
    moveFromScratch();
    CloseRecordset();
    if (WriteFailed()) return false;
    record(false);
    SendProgress(kProgressEnd);
    Log(log::Counted("Total record(s) Repaired  :", recordsWritten));
    if (recordsRefused) Log(log::Counted("Record(s) refused by the output database  :", recordsRefused));
    // Saved with the part that could be read; the rest is lost.
    if (const uint64_t partly = statistics.valuesIncomplete - valuesBefore) {
        Log(log::Counted("Long value(s) only partly recovered  :", partly));
    }
    Log(log::kSeparator);
    return true;
}

COutputDatabase::Step COutputDatabase::SaveTables() {
    if (!set_.database || !CreateOutputTables()) {
        DiscardOutput();  // whatever was created is closed and removed
        return Step::Failed;
    }
    app.outputStarted = true;
    if (!app.selectedTables.empty()) {
        for (size_t k = 0; k < tables.size(); ++k) {
            if (Stopped()) return Step::Stopped;
            const tableInfo& table = tables[k];
            if (table.deletedRecords && !app.includeDeletedRecords) continue;
            bool selected = false;
            for (const std::string& name : app.selectedTables) selected = selected || name == table.name;
            // Written once, however often it is selected, into the output
            // table created for it.
            const std::string outputName = k < outputTableNames.size() ? outputTableNames[k] : "";
            if (selected && !outputName.empty() && !SaveTable(k, outputName)) return Step::Stopped;
            if (mainWindow) mainWindow->send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(k));
        }
    }
    savingTables = false;
    return Step::Done;
}

bool COutputDatabase::SaveQueries() {
    if (app.queryCount == 0 || app.selectedQueries.empty()) return true;
    Log("Saving Queries");
    SendProgress(kProgressStart, static_cast<intptr_t>(app.selectedQueries.size()));
    for (size_t n = 0; n < queries.size(); ++n) {
        if (Stopped()) return false;
        bool selected = false;
        for (const std::string& name : app.selectedQueries) selected = selected || name == queries[n].name;
        if (!selected) continue;
        savingQueries = true;
        const bool saved = SaveQuery(n);
        SendProgress(kProgressStep);
        if (saved && mainWindow) mainWindow->send(UM_OBJECT_SAVED, 0, static_cast<intptr_t>(n));
    }
    SendProgress(kProgressEnd);
    savingQueries = false;
    return true;
}

bool COutputDatabase::SaveQuery(size_t position) {
    if (position >= queries.size()) return false;
    if (!set_.database) return false;
    const queryInfo& query = queries[position];
    try {
        // Created without a name, named, then appended: an engine that stores
        // a query definition as soon as it has a name stores it only once.
        set_.queryDef = set_.database->CreateQueryDef(std::string(), std::string());
        set_.queryDef->SetName(query.name);
        set_.queryDef->SetSQL(query.sqlText);
        if (!query.connect.empty()) set_.queryDef->SetConnect(query.connect);
        set_.database->AppendQueryDef(set_.queryDef);
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        ReportObject("query", query.name, false,
                     query.sqlText.empty() ? "its SQL text could not be rebuilt from the file"
                                           : "the output database refused it: " + describe(error));
        return false;
    }
    // Its name is kept; a text the reader could not rebuild is a loss all the same.
    if (query.sqlText.empty()) {
        ReportObject("query", query.name, false, "its SQL text could not be rebuilt from the file");
    } else {
        ReportObject("query", query.name, true);
    }
    return true;
}

}  // namespace talmera
