// Tables with an auto-number column are filled through a scratch table of the
// same fields without the auto-number attribute; the records are then moved
// field by field into the real table, which keeps the stored numbers.
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/OutputDatabase.h"
#include "engine/save/OutputTypes.h"
#include "platform/MessageReceiver.h"

namespace talmera {

void COutputDatabase::PrepareScratchTable(const std::string& scratchName, const tableInfo& table) {
    // Errors of the first steps reach the save run, which then writes the
    // rows straight into the real table.
    OutputSet& set = Output();
    set.tableDef = set.database->CreateTableDef(scratchName);
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

bool COutputDatabase::MoveScratchRecords(const std::string& scratchName, const std::string& tableName) {
    OutputSet& set = Output();
    dao::RecordsetPtr target;
    dao::RecordsetPtr& source = set.recordset;
    bool complete = true;
    auto progress = [&](uintptr_t step, intptr_t value) {
        if (mainWindow) mainWindow->send(UM_PROGRESS, step, value);
    };
    try {
        // As the record transfer opens its recordset: a dynaset, dbDenyRead (2),
        // dbOptimistic (3) (engine/save/TableSave.cpp).
        target = set.database->OpenRecordset(tableName, dao::dbOpenDynaset, 2, 3);
        const int n = target->FieldCount();
        const long count = source ? source->RecordCount() : 0;
        if (count > 0) {
            source->MoveFirst();
            progress(kProgressStart, count);
            while (!source->EOF_()) {
                target->AddNew();
                for (int f = 0; f < n; ++f) {
                    dao::FieldPtr to = target->FieldItem(f);
                    dao::FieldPtr from;
                    try {
                        from = source->FieldItem(f);
                    } catch (const dao::ComError& error) {
                        NoteOutputError(error);
                        continue;
                    }
                    if (to->Name() != from->Name()) continue;
                    if (to->Type() >= dao::dbAttachment && to->Type() <= dao::dbVersionHistory) {
                        // Attachments and multi-valued values are rows of their own.
                        try {
                            CopyAttachments(*from, *to);
                        } catch (const dao::ComError& error) {
                            NoteOutputError(error);
                        }
                        continue;
                    }
                    dao::Variant value;
                    if (aceFormat) {
                        try {
                            value = from->Value();
                        } catch (const dao::ComError& error) {
                            NoteOutputError(error);
                            continue;
                        }
                    } else {
                        value = from->Value();
                    }
                    try {
                        to->SetValue(value);
                    } catch (const dao::ComError& error) {
                        NoteOutputError(error);  // its result is ignored
                    }
                }
                try {
                    target->Update(1, false);  // dbUpdateRegular, not forced (RecordTransfer.cpp)
                } catch (const dao::ComError& error) {
                    NoteOutputError(error);
                    target->CancelUpdate(2);
                    complete = false;  // this record stays in the scratch table only
                }
                source->MoveNext();
                progress(kProgressStep, 0);
            }
            progress(kProgressEnd, 0);
        }
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        complete = false;
    }
    for (dao::RecordsetPtr* r : {&target, &source}) {
        if (!*r) continue;
        try {
            (*r)->Close();
        } catch (const dao::ComError& error) {
            NoteOutputError(error);
        }
        r->reset();
    }
    // The scratch table goes only when every record reached the real table;
    // otherwise it keeps the records that did not, rather than losing them.
    if (!complete) return false;
    try {
        set.database->DeleteTableDef(scratchName);
        if (!aceFormat) set.database->RefreshTableDefs();
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        return false;
    }
    return true;
}

}  // namespace talmera
