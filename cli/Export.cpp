#include "cli/Export.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "cli/Attachments.h"
#include "cli/OleUnwrap.h"
#include "cli/ProgressBar.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/RowWalker.h"
#include "platform/TextCodec.h"

namespace talmera::cli {
namespace {

bool exportable(const tableInfo& table, bool deleted) { return deleted || !table.deletedRecords; }

std::string folded(const std::string& text) { return foldedName(text); }

size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> previous(b.size() + 1), current(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t substitution = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
            current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitution});
        }
        std::swap(previous, current);
    }
    return previous[b.size()];
}

}  // namespace

std::string foldedName(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string uniqueName(const std::string& wanted, std::set<std::string>& taken) {
    std::string name = wanted;
    for (int n = 2; taken.count(foldedName(name)); ++n) name = wanted + "_" + std::to_string(n);
    taken.insert(foldedName(name));
    return name;
}

std::vector<std::string> closeNames(const std::string& name, const std::vector<std::string>& candidates) {
    std::vector<std::pair<size_t, std::string>> scored;
    const std::string wanted = folded(name);
    for (const std::string& candidate : candidates) {
        const std::string other = folded(candidate);
        const size_t distance = editDistance(wanted, other);
        const size_t allowed = std::max<size_t>(2, wanted.size() / 3);
        const bool part = !wanted.empty() && wanted.size() >= 3 && other.find(wanted) != std::string::npos;
        if (distance <= allowed || part) scored.emplace_back(part ? std::min(distance, allowed) : distance, candidate);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> names;
    for (const auto& [score, candidate] : scored) {
        if (names.size() == 3) break;
        names.push_back(candidate);
    }
    return names;
}

std::vector<const tableInfo*> selectExportTables(const CMDBRecovery& engine, const std::vector<std::string>& names,
                                                 bool deleted, std::vector<std::string>& unknown) {
    std::vector<const tableInfo*> chosen;
    const auto add = [&](const tableInfo* table) {
        if (std::find(chosen.begin(), chosen.end(), table) == chosen.end()) chosen.push_back(table);
    };
    if (names.empty()) {
        for (const tableInfo& table : engine.tables) {
            if (exportable(table, deleted)) add(&table);
        }
        return chosen;
    }
    for (const std::string& name : names) {
        const tableInfo* exact = nullptr;
        const tableInfo* caseless = nullptr;
        for (const tableInfo& table : engine.tables) {
            if (!exportable(table, deleted)) continue;
            if (table.name == name && !exact) exact = &table;
            if (!caseless && equalsIgnoreCase(table.name, name)) caseless = &table;
        }
        if (exact || caseless) {
            add(exact ? exact : caseless);
        } else {
            unknown.push_back(name);
        }
    }
    return chosen;
}

std::string exportFileName(const std::string& table, ExportFormat format) {
    const char* extension = format == ExportFormat::Csv         ? ".csv"
                            : format == ExportFormat::Tsv       ? ".tsv"
                            : format == ExportFormat::JsonLines ? ".jsonl"
                                                                : ".sql";
    std::string name = SafeFileName(table);
    // A leading dot would hide the file.
    if (!name.empty() && name[0] == '.') name[0] = '_';
    return name + extension;
}

ExportTable exportShape(CMDBRecovery& engine, tableInfo& table, const std::string& name) {
    ExportTable shape;
    shape.name = name;
    shape.columns = exportColumns(engine, table);
    std::set<std::string> taken;
    // Column names stay as Access has them; a damaged definition that
    // repeats one gets "_2" on the second, so that no value is lost.
    std::map<uint16_t, std::string> byNumber;
    for (size_t c = 0; c < shape.columns.size(); ++c) {
        shape.columns[c].name = uniqueName(shape.columns[c].name, taken);
        byNumber.emplace(table.columns[c].columnNumber, shape.columns[c].name);
    }
    const auto columnOf = [&](uint16_t number, std::string& out) {
        const auto at = byNumber.find(number);
        if (at == byNumber.end()) return false;
        for (size_t c = 0; c < table.columns.size(); ++c) {
            if (table.columns[c].columnNumber == number && table.columns[c].type == kJetComplex) return false;
        }
        out = at->second;
        return true;
    };
    std::set<std::string> indexNames;
    // As the repair creates them: a logical index of the primary-key kind is
    // the key, the others indexes, unique where Access has them so.
    for (const indexInfo& index : table.indexes) {
        for (size_t j = 0; j < index.indexNames.size(); ++j) {
            const uint8_t typeByte = j < index.indexTypes.size() ? index.indexTypes[j] : 0;
            std::vector<std::pair<std::string, bool>> columns;
            bool usable = !index.columnNumbers.empty();
            for (size_t c = 0; c < index.columnNumbers.size() && usable; ++c) {
                std::string column;
                usable = columnOf(index.columnNumbers[c], column);
                const bool descending = c < index.columnOrders.size() && index.columnOrders[c] == 0;
                columns.emplace_back(column, descending);
            }
            if (!usable) continue;
            if (typeByte == 1 && index.isPrimary && shape.primaryKey.empty() && !table.deletedRecords) {
                for (const auto& [column, descending] : columns) shape.primaryKey.push_back(column);
                continue;
            }
            // A table of deleted records may hold a row twice: no unique index there.
            ExportTable::Index out;
            out.name = uniqueName(index.indexNames[j], indexNames);
            out.unique = (index.isUnique || (typeByte == 0 && index.isPrimary) || (typeByte == 1 && index.isPrimary)) &&
                         !table.deletedRecords;
            out.columns = std::move(columns);
            shape.indexes.push_back(std::move(out));
        }
    }
    return shape;
}

std::vector<ExportForeignKey> exportForeignKeys(const CMDBRecovery& engine,
                                                const std::vector<const tableInfo*>& tables) {
    std::vector<ExportForeignKey> keys;
    const auto findTable = [&](const std::string& name) -> const tableInfo* {
        for (const tableInfo* t : tables) {
            if (t->name == name && !t->deletedRecords) return t;
        }
        return nullptr;
    };
    const auto columnNumber = [](const tableInfo& t, const std::string& name, uint16_t& number) {
        for (const columnInfo& c : t.columns) {
            if (c.name == name && c.type != kJetComplex) return number = c.columnNumber, true;
        }
        return false;
    };
    const std::vector<RelationInfo>& relations = engine.relations;
    std::set<std::string> names;
    for (size_t i = 0; i < relations.size();) {
        const RelationInfo& head = relations[i];
        const size_t count = static_cast<size_t>(std::max<int32_t>(1, head.columnCount));
        ExportForeignKey key;
        key.name = head.relationName;
        key.table = head.foreignTableName;
        key.referencedTable = head.tableName;
        key.cascadeUpdates = head.cascadeUpdates != 0;
        key.cascadeDeletes = head.cascadeDeletes != 0;
        bool enforced = head.enforceIntegrity != 0;
        for (size_t o = 0; o < count && i + o < relations.size(); ++o) {
            const RelationInfo& pair = relations[i + o];
            enforced = enforced && pair.relationName == head.relationName;
            key.columns.push_back(pair.foreignColumnName);
            key.referencedColumns.push_back(pair.columnName);
        }
        i += count;
        const tableInfo* many = findTable(key.table);
        const tableInfo* one = findTable(key.referencedTable);
        if (!enforced || !many || !one || names.count(key.name)) continue;
        // The servers want a unique index on exactly the referenced columns.
        std::vector<uint16_t> wanted;
        bool columnsKnown = true;
        for (const std::string& c : key.referencedColumns) {
            uint16_t number = 0;
            columnsKnown = columnsKnown && columnNumber(*one, c, number);
            wanted.push_back(number);
        }
        for (const std::string& c : key.columns) {
            uint16_t number = 0;
            columnsKnown = columnsKnown && columnNumber(*many, c, number);
        }
        if (!columnsKnown) continue;
        std::sort(wanted.begin(), wanted.end());
        bool unique = false;
        for (const indexInfo& index : one->indexes) {
            if (!(index.isPrimary || index.isUnique) || index.ignoresNulls) continue;
            std::vector<uint16_t> have(index.columnNumbers.begin(), index.columnNumbers.end());
            std::sort(have.begin(), have.end());
            unique = unique || have == wanted;
        }
        if (!unique) continue;
        names.insert(key.name);
        keys.push_back(std::move(key));
    }
    return keys;
}

TableExportResult exportTableRows(CMDBRecovery& engine, CQuorvinAccessRecoveryApp& app, tableInfo& table,
                                  const ExportTable& shape, TableWriter& writer, const ExportOptions& options,
                                  std::ostream& out, ProgressBar& bar, std::ostream& err) {
    TableExportResult result;
    writer.beginTable(shape);
    RowWalker rows(engine, table);
    std::vector<RowValue> values;
    std::vector<ExportCell> cells;
    const uint64_t incompleteBefore = engine.statistics.valuesIncomplete;
    while (rows.nextGroup() && !result.stopped) {
        for (size_t k = 0; k < rows.groupSize(); ++k) {
            if (app.stopRequested || !out) {
                result.stopped = true;
                break;
            }
            if (!rows.candidate(k) || !rows.decode(k, true, values, false)) continue;
            convertRow(engine, table, shape.columns, values, cells, result.unconverted);
            ++result.rows;
            for (size_t c = 0; c < cells.size(); ++c) {
                ExportCell& cell = cells[c];
                if (shape.columns[c].type != ExportType::Ole || cell.kind != ExportCell::Kind::Bytes) continue;
                UnwrappedOle ole;
                if (options.ole == OleMode::Unwrap) {
                    ole = unwrapOle(cell.bytes);
                    if (!ole.unwrapped) {
                        if (result.oleKeptRaw++ == 0) result.oleReason = ole.reason;
                    } else {
                        cell.bytes = std::move(ole.data);
                    }
                }
                if (options.oleDir.empty()) continue;
                if (!ole.unwrapped) {
                    ole.extension = extensionFromContents(cell.bytes.data(), cell.bytes.size());
                    if (ole.extension.empty()) ole.extension = ".bin";
                }
                std::string name = shape.name + "_" + shape.columns[c].name + "_" + std::to_string(result.rows);
                name += ole.fileName.empty() ? ole.extension : "_" + ole.fileName;
                const std::string path = writeNewFile(options.oleDir, name, cell.bytes, err);
                cell = ExportCell{};
                if (!path.empty()) {
                    ++result.oleFiles;
                    cell.kind = ExportCell::Kind::Text;
                    cell.text = path;
                }
            }
            writer.row(cells);
            bar.step();
        }
    }
    writer.endTable();
    result.incomplete = engine.statistics.valuesIncomplete - incompleteBefore;
    if (!out) result.stopped = true;
    return result;
}

}  // namespace talmera::cli
