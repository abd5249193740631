// Tables with an auto-number column are filled through a scratch table of the
// same fields without the auto-number attribute; the records are then moved
// field by field into the real table, which keeps the stored numbers.
#include <algorithm>
#include <optional>
#include <vector>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/OutputDatabase.h"
#include "engine/save/OutputTypes.h"
#include "platform/MessageReceiver.h"

namespace talmera {

namespace {
// Records the engine is asked to move at once, at most; and the range the
// record loop moves after the engine declined one that small.
constexpr long kBulkRange = 65536;
constexpr long kLoopRange = 64;
}  // namespace

void COutputDatabase::PrepareScratchTable(const std::string& scratchName, const tableInfo& table) {
    // Errors of the first steps reach the save run, which then writes the
    // rows straight into the real table.
    OutputSet& set = Output();
    set.tableDef = set.database->CreateTableDef(scratchName);
    // Its rows are moved and it is deleted: an engine may keep them out of
    // the output file meanwhile.
    set.tableDef->SetScratch(true);
    for (const columnInfo& col : table.columns) {
        // A complex column gets the type its real table field has.
        const int type = col.type == kJetComplex ? ComplexFieldType(table.definitionPage, col.name, const_cast<tableInfo&>(table))
                                          : OutputFieldType(col);
        set.field = set.tableDef->CreateField(col.name, type);
        try {
            if (col.isHyperlink) {
                set.field->SetAttributes(dao::dbHyperlinkField);
            } else if (type == dao::dbGUID) {
                set.field->SetAttributes(dao::dbFixedField);
            }
        } catch (const dao::ComError& error) {
            NoteOutputError(error);  // its result is ignored
        }
        set.tableDef->AppendField(set.field);
    }
    set.database->AppendTableDef(set.tableDef);
    CreateOutputIndexes(table, scratchName);
    ApplyFieldProperties(table, scratchName);
    set.tableDef.reset();
    set.field.reset();
}

COutputDatabase::ScratchMove COutputDatabase::MoveScratchRecords(const std::string& scratchName,
                                                                const std::string& tableName) {
    OutputSet& set = Output();
    ScratchMove result;
    dao::RecordsetPtr target;
    dao::RecordsetPtr& source = set.recordset;
    long count = 0;
    auto progress = [&](uintptr_t step, intptr_t value) {
        if (mainWindow) mainWindow->send(UM_PROGRESS, step, value);
    };
    auto describe = [](const dao::ComError& error) {
        std::string text = error.description;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    };
    try {
        // As the record transfer opens its recordset: a dynaset, dbDenyRead (2),
        // dbOptimistic (3) (engine/save/TableSave.cpp).
        count = source ? source->RecordCount() : 0;
        target = set.database->OpenRecordset(tableName, dao::dbOpenDynaset, 2, 3);
        const int n = target->FieldCount();
        if (count > 0) {
            source->MoveFirst();
            progress(kProgressStart, count);
            // The fields of both recordsets, paired by ordinal and compared by
            // name (exactly) once: the collections stay as they are while the
            // records move. A source field that cannot be fetched is skipped
            // (its error noted for every record, as if fetched each time).
            struct Pair {
                dao::FieldPtr to, from;
                std::optional<dao::ComError> fetchError;
                bool complex = false;
            };
            std::vector<Pair> pairs;
            pairs.reserve(static_cast<size_t>(std::max(n, 0)));
            for (int f = 0; f < n; ++f) {
                Pair pair;
                pair.to = target->FieldItem(f);
                try {
                    pair.from = source->FieldItem(f);
                } catch (const dao::ComError& error) {
                    pair.fetchError = error;
                    pairs.push_back(std::move(pair));
                    continue;
                }
                if (pair.to->Name() != pair.from->Name()) continue;
                // Attachments and multi-valued values are rows of their own.
                pair.complex = pair.to->Type() >= dao::dbAttachment && pair.to->Type() <= dao::dbVersionHistory;
                pairs.push_back(std::move(pair));
            }
            // The engine may move a range of records at once where that gives
            // exactly what the record loop gives. A range it declines is tried
            // smaller, down to a few records that the loop moves one by one,
            // so that a refused record costs the loop a small range, not a
            // large one; each range moved in bulk lets the next one grow.
            const bool bulk = static_cast<int>(pairs.size()) == n &&
                              std::all_of(pairs.begin(), pairs.end(), [](const Pair& p) {
                                  return !p.fetchError && !p.complex;
                              });
            long range = kBulkRange;
            bool failed = false;
            while (!failed && !source->EOF_()) {
                if (bulk) {
                    const long stored = target->AppendFrom(*source, range);
                    if (stored > 0) {
                        result.moved += static_cast<uint64_t>(stored);
                        for (long k = 0; k < stored; ++k) progress(kProgressStep, 0);
                        range = std::min(range * 2, kBulkRange);
                        continue;
                    }
                    if (range > kLoopRange) {
                        range = std::max(range / 8, kLoopRange);
                        continue;
                    }
                }
                for (long k = 0; (!bulk || k < range) && !source->EOF_(); ++k) {
                    target->AddNew();
                    for (const Pair& pair : pairs) {
                        if (pair.fetchError) {
                            NoteOutputError(*pair.fetchError);
                            continue;
                        }
                        if (pair.complex) {
                            try {
                                CopyAttachments(*pair.from, *pair.to);
                            } catch (const dao::ComError& error) {
                                NoteOutputError(error);
                            }
                            continue;
                        }
                        // The target's Value := the source's Value, in one step.
                        // A source value that cannot be read costs that field
                        // with ACE output and ends the move with other output; a
                        // value the target refuses is ignored.
                        try {
                            pair.to->SetValueFrom(*pair.from);
                        } catch (const dao::FieldReadError& error) {
                            if (!aceFormat) throw;
                            NoteOutputError(error);
                        } catch (const dao::ComError& error) {
                            NoteOutputError(error);  // its result is ignored
                        }
                    }
                    try {
                        target->Update(1, false);  // dbUpdateRegular, not forced (RecordTransfer.cpp)
                        ++result.moved;
                    } catch (const dao::ComError& error) {
                        // The table refuses what its scratch table took (a rule
                        // or key of its own): the record is counted as refused.
                        NoteOutputError(error);
                        target->CancelUpdate(2);
                        ++result.refused;
                        if (WriteFailed()) {
                            failed = true;
                            break;
                        }
                    }
                    source->MoveNext();
                    progress(kProgressStep, 0);
                }
                // The range grows again as ranges are moved in bulk.
            }
            progress(kProgressEnd, 0);
        }
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        result.problem = describe(error);
    }
    const uint64_t taken = count > 0 ? static_cast<uint64_t>(count) : 0;
    if (taken > result.moved + result.refused) result.notMoved = taken - result.moved - result.refused;
    for (dao::RecordsetPtr* r : {&target, &source}) {
        if (!*r) continue;
        try {
            (*r)->Close();
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
        }
        r->reset();
    }
    // The scratch table goes whatever the move did: rows left in it would be
    // counted twice (and the report counts those that did not reach their
    // table as lost).
    if (WriteFailed()) return result;
    try {
        set.database->DeleteTableDef(scratchName);
        if (!aceFormat) set.database->RefreshTableDefs();
        result.deleted = true;
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
    }
    return result;
}

}  // namespace talmera
