// The record transfer: one decoded row value becomes one record of the open
// output recordset. Values are assigned typed (the output engine converts
// nothing it need not); what it refuses costs that row only. The transfer
// takes the row value as it is handed over and keeps nothing of the decoder.
#include <string>
#include <type_traits>
#include <variant>

#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/OutputDatabase.h"

namespace talmera {

void COutputDatabase::TransferRow(const tableInfo& table, const std::vector<RowValue>& values) {
    OutputSet& set = Output();
    if (!set.recordset) return;
    dao::Recordset& rs = *set.recordset;
    bool cancelled = false;
    try {
        rs.AddNew();
        // The output field of each column, found by name (exact comparison)
        // once per recordset rather than once per value.
        if (transferFields.recordset != set.recordset.get() || transferFields.table != &table) {
            transferFields.recordset = set.recordset.get();
            transferFields.table = &table;
            transferFields.fields.assign(table.columns.size(), nullptr);
            transferFields.values.assign(table.columns.size(), dao::Variant{});
            const int count = rs.FieldCount();
            for (size_t c = 0; c < table.columns.size(); ++c) {
                for (int m = 0; m < count; ++m) {
                    dao::FieldPtr f = rs.FieldItem(m);
                    if (f->Name() == table.columns[c].name) {
                        transferFields.fields[c] = f;
                        break;
                    }
                }
            }
        }
        for (size_t c = 0; c < table.columns.size() && c < values.size() && !cancelled; ++c) {
            const dao::FieldPtr& field = transferFields.fields[c];
            if (!field) continue;
            const RowValue& v = values[c];
            const columnInfo& col = table.columns[c];
            // Each column's value is assigned through a Variant of its own,
            // kept from row to row so that its text keeps its buffer.
            dao::Variant& slot = transferFields.values[c];
            auto set = [&]() {
                try {
                    field->SetValue(slot);
                } catch (const dao::ComError& error) {
                    NoteOutputError(error);  // the field stays unassigned
                }
            };
            auto assign = [&](const auto& value) {
                using T = std::decay_t<decltype(value)>;
                if constexpr (std::is_same_v<T, std::string> || std::is_same_v<T, dao::Bytes>) {
                    if (auto* held = std::get_if<T>(&slot)) held->assign(value.begin(), value.end());
                    else slot = value;
                } else {
                    slot = value;
                }
                set();
            };
            try {
                // A column added after the row was written never had a value
                // in it: the field's default applies, as in Access.
                if (v.state == RowValue::State::Absent) continue;
                // NULL stays NULL: assigned, so that no default replaces it
                // (a Yes/No has no NULL; its cleared bit is No).
                if (v.state == RowValue::State::Null) {
                    if (v.type == kJetBoolean) assign(false);
                    else assign(std::monostate{});
                    continue;
                }
                if (v.state != RowValue::State::Value) continue;
                switch (v.kind) {
                    case RowValue::Kind::Boolean: assign(v.integer != 0); break;
                    case RowValue::Kind::Integer: assign(v.integer); break;
                    case RowValue::Kind::Currency: assign(dao::Currency{v.integer}); break;
                    case RowValue::Kind::Real: assign(v.real); break;
                    case RowValue::Kind::DateTime: assign(dao::Date{v.real}); break;
                    case RowValue::Kind::Decimal:
                        // An empty decimal holds no number: NULL.
                        if (v.string.empty()) assign(std::monostate{});
                        else assign(dao::Decimal{v.string});
                        break;
                    case RowValue::Kind::Guid: assign(v.string); break;
                    case RowValue::Kind::Text:
                        // An empty text only where the field takes zero-length values.
                        if (!v.string.empty() || field->AllowZeroLength()) assign(v.string);
                        break;
                    case RowValue::Kind::Bytes:
                        if (v.type == kJetOle) {
                            // A zero-length OLE object is a value, not NULL.
                            if (v.bytes.empty()) assign(v.bytes);
                            else field->AppendChunk(v.bytes);
                        } else {
                            assign(v.bytes);
                        }
                        break;
                    case RowValue::Kind::Complex:
                        // The row keeps a key into the value table; 0 means none.
                        if (v.integer != 0) {
                            try {
                                WriteComplexValue(col, static_cast<uint32_t>(v.integer), *field);
                            } catch (const dao::ComError& error) {
                                NoteOutputError(error);  // the record keeps its other values
                            }
                        }
                        break;
                    case RowValue::Kind::None:
                        break;
                }
            } catch (const dao::ComError& error) {
                // A value that cannot be prepared or appended cancels the record.
                NoteOutputError(error);
                try {
                    rs.CancelUpdate(2);
                } catch (const dao::ComError& cancelError) {
                    NoteOutputError(cancelError);
                }
                cancelled = true;
            }
        }
        if (cancelled) {
            ++recordsRefused;
            return;
        }
        // DAO's Update(dbUpdateRegular, Force = false): the pending record is
        // stored now, not in a batch, and a refusal is raised, not overridden.
        rs.Update(1, false);
        ++recordsWritten;
    } catch (const dao::ComError& error) {
        NoteOutputError(error);
        ++recordsRefused;
        try {
            rs.CancelUpdate(2);
        } catch (const dao::ComError& cancelError) {
            NoteOutputError(cancelError);
        }
    }
}

}  // namespace talmera
