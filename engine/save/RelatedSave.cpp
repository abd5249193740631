// The related objects into the output: links with their rebuilt connect
// texts, relationships as relations, and the values of complex columns
// (attachments inflated in memory, multi-valued values) written into each
// record's complex field.
#include <algorithm>
#include <cstring>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/ComplexValues.h"
#include "engine/save/OutputDatabase.h"
#include "engine/ValueText.h"
#include "platform/LittleEndian.h"
#include "platform/MessageReceiver.h"
#include "related/Related.h"

namespace talmera {

void COutputDatabase::SaveRelationships() {
    OutputSet& set = Output();
    if (!set.database) {
        relations.clear();
        return;
    }
    size_t i = 0;
    while (i < relations.size()) {
        RelationInfo& head = relations[i];
        // A relationship to a complex column's hidden value table is made
        // against the table that owns the column, and the column itself.
        for (const systemTableInfo& hidden : systemTables) {
            if (hidden.name != head.foreignTableName) continue;
            uint32_t owner = 0;
            for (const AttachmentInfo& a : complexColumns) {
                if (a.valueTableId == hidden.definitionPage) {
                    owner = a.tableId;
                    break;
                }
            }
            const size_t cut = hidden.name.rfind('_');
            const std::string columnName = cut == std::string::npos ? hidden.name : hidden.name.substr(cut + 1);
            for (const tableInfo& t : tables) {
                if (t.definitionPage != owner) continue;
                for (const columnInfo& c : t.columns) {
                    if (c.name == columnName) {
                        head.foreignTableName = t.name;
                        head.foreignColumnName = c.name;
                        break;
                    }
                }
            }
            break;
        }

        const RelationInfo* last = &head;
        dao::RelationPtr relation;
        bool appended = false;
        std::string problem;  // the first thing the output refused of it
        auto refused = [&](const dao::ComError& error) {
            NoteOutputError(error);
            if (problem.empty()) problem = "the output database refused it: " + error.description;
        };
        try {
            relation = set.database->CreateRelation(head.relationName, head.tableName, head.foreignTableName, 0);
        } catch (const dao::ComError& error) {
            refused(error);
        }
        if (relation) {
            std::vector<std::pair<std::string, std::string>> pairs;
            for (int64_t o = 0; o < last->columnCount; ++o) {
                const size_t j = i + static_cast<size_t>(o);
                if (j >= relations.size()) break;  // the rows the count promised are missing
                last = &relations[j];
                try {
                    bool exists = false;
                    for (const auto& [name, foreign] : pairs) {
                        exists = exists || (name == last->columnName && foreign == last->foreignColumnName);
                    }
                    if (exists) continue;
                    dao::FieldPtr field = relation->CreateField(last->columnName);
                    relation->AppendField(field);
                    relation->SetForeignName(field, last->foreignColumnName);
                    pairs.emplace_back(last->columnName, last->foreignColumnName);
                    int32_t attributes = last->isUnique ? 1 : 0;
                    if (last->leftJoin) attributes |= 0x01000000;
                    else if (last->rightJoin) attributes |= 0x02000000;
                    if (last->enforceIntegrity) {
                        if (last->cascadeUpdates) attributes |= 0x100;
                        if (last->cascadeDeletes) attributes |= 0x1000;
                    } else {
                        attributes |= 2;
                    }
                    relation->SetAttributes(attributes);
                } catch (const dao::ComError& error) {
                    refused(error);
                }
            }
            try {
                set.database->AppendRelation(relation);
                appended = true;
            } catch (const dao::ComError& error) {
                refused(error);
            }
        }
        // A relationship of a table this save was not asked for, or of
        // Access's own system tables (never saved), is none of its business.
        auto unselected = [&](const std::string& name) {
            if (IsSystemTableName(name)) return true;
            bool found = false;
            for (const tableInfo& t : tables) found = found || t.name == name;
            return found && std::find(app.selectedTables.begin(), app.selectedTables.end(), name) == app.selectedTables.end();
        };
        if (!unselected(head.tableName) && !unselected(head.foreignTableName)) {
            ReportObject("relationship", head.relationName, appended, appended ? std::string() : problem);
        }
        // Rows read with no column count were passed over by the reader, so
        // the count is at least 1 here: the save always moves on.
        i += static_cast<size_t>(std::max<int32_t>(1, last->columnCount));
    }
    relations.clear();
}


void COutputDatabase::SaveLinkedTables() {
    OutputSet& set = Output();
    auto send = [&](uint32_t message, uintptr_t w, intptr_t l) {
        if (mainWindow) mainWindow->send(message, w, l);
    };
    send(UM_PROGRESS, kProgressStart, static_cast<intptr_t>(app.selectedLinkedTables.size()));
    intptr_t running = 0;
    for (const std::string& chosen : app.selectedLinkedTables) {
        // A stop ends the save, which closes the output.
        if (Stopped()) return;
        const LinkedTableInfo* link = nullptr;
        for (const LinkedTableInfo& l : linkedTables) {
            if (l.linkName == chosen) {
                link = &l;
                break;
            }
        }
        if (!link) continue;

        const std::string connect = RelatedReader(engine_).RebuildConnect(*link);
        const std::string source = link->foreignName.empty() ? link->linkName : link->foreignName;
        try {
            set.tableDef = set.database->CreateTableDef(link->linkName);
            set.tableDef->SetConnect(connect);
            set.tableDef->SetSourceTableName(source);
            set.database->AppendTableDef(set.tableDef);
            set.tableDef.reset();
            savingLinkedTables = true;
            send(UM_PROGRESS, kProgressStep, 0);
            send(UM_OBJECT_SAVED, 0, running);
            Log("Saving Link Table.....  " + link->linkName);
            savingLinkedTables = false;
            ReportObject("linked table", link->linkName, true);
        } catch (const dao::ComError& error) {
            set.tableDef.reset();
            NoteOutputError(error);
            ReportObject("linked table", link->linkName, false, "the output database refused it: " + error.description);
        }
        ++running;
    }
    send(UM_PROGRESS, kProgressEnd, 0);
}


int ComplexFieldType(CMDBRecovery& engine, uint32_t tableId, const std::string& columnName, tableInfo& table) {
    // An append-only memo's hidden history was told by its value table when
    // the values were read.
    for (const columnInfo& c : table.columns)
        if (c.name == columnName && c.type == kJetComplex && c.isVersionHistory) return dao::dbVersionHistory;
    // The value table's third column decides the type of a multi-valued
    // field; anything else is an attachment field.
    switch (RelatedReader(engine).ComplexValueType(tableId, columnName, table)) {
        case kJetByte: return dao::dbComplexByte;
        case kJetInteger: return dao::dbComplexInteger;
        case kJetLong: return dao::dbComplexLong;
        case kJetSingle: return dao::dbComplexSingle;
        case kJetDouble: return dao::dbComplexDouble;
        case kJetGuid: return dao::dbComplexGUID;
        case kJetDecimal: return dao::dbComplexDecimal;
        case kJetText: return dao::dbComplexText;
        default: return dao::dbAttachment;
    }
}

int COutputDatabase::ComplexFieldType(uint32_t tableId, const std::string& columnName, tableInfo& table) {
    return talmera::ComplexFieldType(engine_, tableId, columnName, table);
}

std::vector<dao::Variant> MultiValuedValues(CMDBRecovery& engine, const columnInfo& column, uint32_t key, int type) {
    const RelatedReader reader(engine);
    std::vector<dao::Variant> values;
    for (const ComplexData& d : column.complexValues) {
        if (d.key != key) continue;
        const std::vector<uint8_t> bytes = reader.ComplexValueBytes(d, 17);
        const uint8_t* b = bytes.data();
        dao::Variant value;
        switch (type) {
            case dao::dbComplexByte: value = int64_t{b[0]}; break;
            case dao::dbComplexInteger: value = int64_t{static_cast<int16_t>(le::U16(b))}; break;
            case dao::dbComplexLong: {
                uint32_t x = 0;
                std::memcpy(&x, b, 4);
                value = int64_t{static_cast<int32_t>(x)};
                break;
            }
            case dao::dbComplexSingle: {
                float x;
                std::memcpy(&x, b, 4);
                value = static_cast<double>(x);
                break;
            }
            case dao::dbComplexDouble: {
                double x;
                std::memcpy(&x, b, 8);
                value = x;
                break;
            }
            case dao::dbComplexGUID: value = FormatGuid(b); break;
            case dao::dbComplexDecimal: {
                unsigned __int128 magnitude = 0;
                for (int k = 0; k < 4; ++k) {
                    const uint8_t* q = b + 1 + 4 * k;
                    magnitude = (magnitude << 32) | le::U32(q);
                }
                const unsigned scale = reader.ComplexValueScale(column);
                value = dao::Decimal{FormatDecimal(b[0] != 0, magnitude, std::min(scale, 28u))};
                break;
            }
            default: {
                const size_t n = std::min<size_t>(d.valueLength, 0x10000);
                const std::vector<uint8_t> text = reader.ComplexValueBytes(d, n);
                value = engine.DecodeTextBytes(text.data(), n);
                break;
            }
        }
        values.push_back(std::move(value));
    }
    return values;
}

void COutputDatabase::WriteComplexValue(const columnInfo& column, uint32_t key, dao::Field& field) {
    const RelatedReader reader(engine_);
    const int type = field.Type();
    dao::RecordsetPtr child = field.ChildRecordset();
    if (type == dao::dbAttachment) {
        for (const colRecordAttachmentInfo& a : column.attachments) {
            if (a.key != key || a.dataLength == 0) continue;
            std::vector<uint8_t> content;
            const bool complete = reader.ReadAttachmentContent(a, content);
            if (!complete) {
                ++relatedStatistics.attachmentsIncomplete;
                Log("Attachment stored incomplete  : " + column.name + " : " + a.fileName);
            }
            child->AddNew();
            child->FieldItem("FileName")->SetValue(a.fileName);
            child->FieldItem("FileData")->SetValue(content);
            child->Update(1, false);
        }
    } else if (type == dao::dbVersionHistory) {
        // Each version as stored, in the order Access kept them; NULL stays NULL.
        for (const MemoVersionData& v : column.versions) {
            if (v.key != key) continue;
            if (v.textIncomplete) Log("Version stored incomplete  : " + column.name);
            child->AddNew();
            child->FieldItem("Value")->SetValue(v.hasText ? dao::Variant(v.text) : dao::Variant(std::monostate{}));
            child->FieldItem("DateModified")
                ->SetValue(v.hasModified ? dao::Variant(dao::Date{v.modified}) : dao::Variant(std::monostate{}));
            child->Update(1, false);
        }
    } else if (type >= dao::dbComplexByte && type <= dao::dbComplexText) {
        for (dao::Variant& value : MultiValuedValues(engine_, column, key, type)) {
            child->AddNew();
            child->FieldItem("Value")->SetValue(value);
            child->Update(1, false);
        }
    }
    child->Close();
}


void COutputDatabase::CopyAttachments(dao::Field& source, dao::Field& target) {
    dao::RecordsetPtr from = source.ChildRecordset();
    dao::RecordsetPtr to = target.ChildRecordset();
    // Every value goes across: an attachment's name, type and data, or a
    // multi-valued field's value.
    const bool attachment = source.Type() == dao::dbAttachment;
    if (from->RecordCount() > 0) from->MoveFirst();
    while (!from->EOF_()) {
        to->AddNew();
        if (attachment) {
            for (const char* name : {"FileName", "FileType", "FileData"}) {
                to->FieldItem(name)->SetValue(from->FieldItem(name)->Value());
            }
        } else {
            to->FieldItem("Value")->SetValue(from->FieldItem("Value")->Value());
            if (source.Type() == dao::dbVersionHistory)
                to->FieldItem("DateModified")->SetValue(from->FieldItem("DateModified")->Value());
        }
        to->Update(1, false);
        from->MoveNext();
    }
    to->Close();
    from->Close();
}

}  // namespace talmera
