#include "cli/Catalog.h"

#include <cstdio>
#include <vector>

#include "cli/Preview.h"
#include "engine/ApplicationState.h"
#include "engine/MDBRecovery.h"
#include "engine/save/OutputTypes.h"
#include "output/dao/ViewTranslation.h"
#include "related/Related.h"

namespace talmera::cli {
namespace {

using Json = nlohmann::ordered_json;

bool shown(const tableInfo& table, bool includeDeleted) {
    return includeDeleted || !table.deletedRecords;
}

Json columnJson(const columnInfo& column) {
    Json c;
    c["name"] = column.name;
    c["type"] = column.type;
    c["number"] = column.columnNumber;
    c["length"] = column.length;
    c["fixed"] = column.isFixed;
    c["variable"] = column.isVariable;
    c["autoNumber"] = column.isAutoNumber;
    c["hyperlink"] = column.isHyperlink;
    c["calculated"] = column.isCalculated;
    c["precision"] = column.precision;
    c["scale"] = column.scale;
    Json properties = Json::array();
    for (const columnProperties& p : column.properties) properties.push_back(Json{{"name", p.name}, {"value", p.value}});
    c["properties"] = std::move(properties);
    if (column.type == kJetComplex) {
        // A complex column: its value table and how many values or files it holds.
        c["complex"] = Json{{"valueTableId", column.valueTableId},
                            {"multipleValues", column.allowsMultipleValues},
                            {"values", column.complexValues.size()},
                            {"attachments", column.attachments.size()}};
        // The hidden version history of an append-only memo: its versions.
        if (column.isVersionHistory) c["complex"]["versions"] = column.versions.size();
    }
    return c;
}

// The relationships: consecutive rows of one name are one relationship's
// column pairs.
Json relationsJson(const CMDBRecovery& engine) {
    Json relations = Json::array();
    for (size_t i = 0; i < engine.relations.size();) {
        const RelationInfo& r = engine.relations[i];
        Json pairs = Json::array();
        size_t j = i;
        for (; j < engine.relations.size() && engine.relations[j].relationName == r.relationName; ++j) {
            pairs.push_back(Json{{"column", engine.relations[j].columnName},
                                 {"foreignColumn", engine.relations[j].foreignColumnName}});
        }
        relations.push_back(Json{{"name", r.relationName},
                                 {"table", r.tableName},
                                 {"foreignTable", r.foreignTableName},
                                 {"columns", std::move(pairs)},
                                 {"columnCount", r.columnCount},
                                 {"enforced", r.enforceIntegrity != 0},
                                 {"oneToOne", r.isUnique != 0},
                                 {"cascadeUpdates", r.cascadeUpdates != 0},
                                 {"cascadeDeletes", r.cascadeDeletes != 0},
                                 {"join", r.leftJoin ? "left" : r.rightJoin ? "right" : "inner"}});
        i = j;
    }
    return relations;
}

Json indexJson(const indexInfo& index) {
    Json i;
    i["names"] = index.indexNames;
    i["columns"] = index.columnNumbers;
    i["orders"] = index.columnOrders;
    i["primary"] = index.isPrimary;
    i["unique"] = index.isUnique;
    i["ignoresNulls"] = index.ignoresNulls;
    return i;
}

Json tableJson(const tableInfo& table) {
    Json t;
    t["name"] = table.name;
    t["definitionPage"] = table.definitionPage;
    t["recordCount"] = table.recordCount;
    t["pages"] = table.pages.size();
    t["unlistedPages"] = table.unlistedPages.size();
    t["deletedRows"] = table.deletedRows.size();
    Json columns = Json::array();
    for (const columnInfo& column : table.columns) columns.push_back(columnJson(column));
    t["columns"] = std::move(columns);
    Json indexes = Json::array();
    for (const indexInfo& index : table.indexes) indexes.push_back(indexJson(index));
    t["indexes"] = std::move(indexes);
    return t;
}

// How a column reads in the listing: the type, then what sets it apart.
std::string columnDescription(const columnInfo& column) {
    std::string text = columnTypeName(column.type);
    if (column.isHyperlink) text += ", hyperlink";
    if (column.isAutoNumber) text += ", auto-number";
    if (column.isCalculated) text += ", calculated";
    if (column.type == kJetText || column.type == kJetBinary) {
        text += ", " + std::to_string(column.length) + " bytes";
    }
    if (column.type == kJetDecimal) {
        text += " (" + std::to_string(column.precision) + ", " + std::to_string(column.scale) + ")";
    }
    return text;
}

void printNameList(std::ostream& out, const char* heading, const std::vector<std::string>& names) {
    if (names.empty()) return;
    out << '\n' << heading << " (" << names.size() << "):\n";
    for (const std::string& name : names) out << "  " << name << '\n';
}

}  // namespace

std::string formatName(const CMDBRecovery& engine) {
    if (engine.aceFormat) return "ace";
    return engine.jet4Layout ? "jet4" : "jet3";
}

std::string columnTypeName(uint8_t type) {
    switch (type) {
        case kJetBoolean: return "Yes/No";
        case kJetByte: return "Byte";
        case kJetInteger: return "Integer";
        case kJetLong: return "Long Integer";
        case kJetCurrency: return "Currency";
        case kJetSingle: return "Single";
        case kJetDouble: return "Double";
        case kJetDateTime: return "Date/Time";
        case kJetBinary: return "Binary";
        case kJetText: return "Text";
        case kJetOle: return "OLE Object";
        case kJetMemo: return "Memo";
        case kJetGuid: return "Replication ID";
        case kJetDecimal: return "Decimal";
        case kJetAttachment: return "Attachment";
        case kJetComplex: return "Complex";
        case kJetBigInt: return "Large Number";
        case kJetDateTimeExtended: return "Date/Time Extended";
        default: break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "type 0x%02X", type);
    return text;
}

Json catalogJson(CMDBRecovery& engine, const CQuorvinAccessRecoveryApp& app,
                 bool includeDeleted) {
    Json catalog;
    catalog["format"] = formatName(engine);
    catalog["pageSize"] = engine.pageSize;

    Json tables = Json::array();
    for (const tableInfo& table : engine.tables) {
        if (shown(table, includeDeleted)) tables.push_back(tableJson(table));
    }
    catalog["tables"] = std::move(tables);

    Json queries = Json::array();
    for (const queryInfo& query : engine.queries) {
        queries.push_back(Json{{"name", query.name}, {"sql", query.sqlText}});
    }
    catalog["queries"] = std::move(queries);

    Json links = Json::array();
    for (const LinkedTableInfo& link : engine.linkedTables) {
        links.push_back(Json{{"name", link.linkName},
                             {"foreignName", link.foreignName},
                             {"path", link.databasePath},
                             {"connect", RelatedReader(engine).ReadConnectValue(link.connectPosition)},
                             {"outputConnect", RelatedReader(engine).RebuildConnect(link)}});
    }
    catalog["linkedTables"] = std::move(links);
    catalog["relations"] = relationsJson(engine);

    catalog["forms"] = app.formNames;
    catalog["reports"] = app.reportNames;
    catalog["macros"] = app.macroNames;
    catalog["modules"] = app.moduleNames;
    return catalog;
}

void printCatalogListing(std::ostream& out, const CMDBRecovery& engine,
                         const CQuorvinAccessRecoveryApp& app, bool includeDeleted) {
    std::string format = formatName(engine);
    const char* formatText = format == "ace" ? "ACE" : format == "jet4" ? "Jet 4" : "Jet 3";
    out << "Format: " << formatText << ", page size " << engine.pageSize << '\n';

    for (const tableInfo& table : engine.tables) {
        if (!shown(table, includeDeleted)) continue;
        out << "\nTable: " << table.name << '\n';
        out << "  Records: " << table.recordCount << '\n';
        out << "  Deleted-row entries: " << table.deletedRows.size() << '\n';
        out << "  Columns (" << table.columns.size() << "):\n";
        for (const columnInfo& column : table.columns) {
            out << "    " << column.name << ": " << columnDescription(column) << '\n';
        }
    }

    if (!engine.queries.empty()) {
        out << "\nQueries (" << engine.queries.size() << "):\n";
        for (const queryInfo& query : engine.queries) out << "  " << query.name << '\n';
    }
    if (!engine.linkedTables.empty()) {
        out << "\nLinked tables (" << engine.linkedTables.size() << "):\n";
        for (const LinkedTableInfo& link : engine.linkedTables) {
            out << "  " << link.linkName << " -> " << link.foreignName;
            if (!link.databasePath.empty()) out << " in " << link.databasePath;
            out << '\n';
        }
    }
    if (!engine.relations.empty()) {
        const Json relations = relationsJson(engine);
        out << "\nRelationships (" << relations.size() << "):\n";
        for (const Json& r : relations) {
            std::string columns, foreign;
            for (const Json& pair : r["columns"]) {
                columns += (columns.empty() ? "" : ", ") + pair["column"].get<std::string>();
                foreign += (foreign.empty() ? "" : ", ") + pair["foreignColumn"].get<std::string>();
            }
            out << "  " << r["name"].get<std::string>() << ": " << r["table"].get<std::string>() << " (" << columns
                << ") -> " << r["foreignTable"].get<std::string>() << " (" << foreign << ")\n";
        }
    }
    printNameList(out, "Forms", app.formNames);
    printNameList(out, "Reports", app.reportNames);
    printNameList(out, "Macros", app.macroNames);
    printNameList(out, "Modules", app.moduleNames);
}

// The views a repair would make of the queries, over the tables it would write.
std::vector<dao::sqlite::PlannedView> plannedViews(const CMDBRecovery& engine) {
    using dao::sqlite::PlannedTable;
    std::vector<PlannedTable> tables;
    for (const tableInfo& table : engine.tables) {
        if (!shown(table, false)) continue;
        PlannedTable t;
        t.name = table.name;
        for (const columnInfo& column : table.columns) {
            // Complex columns hold nothing in their table.
            const dao::sqlite::ValueKind kind = column.type == 0x12
                                                    ? dao::sqlite::ValueKind::Unknown
                                                    : dao::sqlite::ValueKindOfFieldType(OutputFieldType(column));
            t.columns.push_back({column.name, kind});
        }
        tables.push_back(std::move(t));
    }
    for (const LinkedTableInfo& link : engine.linkedTables) tables.push_back(PlannedTable{link.linkName, {}, true});
    std::vector<dao::sqlite::PlannedQuery> queries;
    for (const queryInfo& query : engine.queries) queries.push_back({query.name, query.sqlText, query.connect});
    return dao::sqlite::PlanViews(tables, queries);
}

void printQueries(std::ostream& out, const CMDBRecovery& engine, bool json) {
    if (json) {
        const std::vector<dao::sqlite::PlannedView> views = plannedViews(engine);
        Json queries = Json::array();
        for (size_t i = 0; i < engine.queries.size(); ++i) {
            const queryInfo& query = engine.queries[i];
            Json q{{"name", query.name}, {"sql", query.sqlText}};
            if (!views[i].select.empty()) q["sqlite"] = views[i].select;
            queries.push_back(std::move(q));
        }
        out << queries.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    std::string line;
    for (const queryInfo& query : engine.queries) {
        line.clear();
        appendTsvField(line, query.name);
        line += '\t';
        appendTsvField(line, query.sqlText);
        line += '\n';
        out << line;
    }
}

}  // namespace talmera::cli
