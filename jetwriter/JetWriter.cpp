// The file as a whole: header page, system tables, user tables and the catalog
// (MSysObjects), plus damage and saving.
#include "jetwriter/JetWriter.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <stdexcept>

#include "jetwriter/Internal.h"
#include "jetwriter/StorageTables.h"
#include "jetwriter/Tables.h"

namespace jetwriter {

using namespace detail;

namespace {

// Catalog ids of the fixed entries, as Access numbers them.
constexpr uint32_t kRootId = 0x0F000000;
constexpr uint32_t kTablesContainer = 0x0F000001;
constexpr uint32_t kDatabasesContainer = 0x0F000002;
constexpr uint32_t kRelationshipsContainer = 0x0F000003;
constexpr uint32_t kDatabaseEntryId = 0x10000000;
// Objects without a definition page (containers, queries, forms, links, ...)
// take ids from a counter with the top bit set.
constexpr uint32_t kObjectIdBase = 0x80000000;
constexpr uint32_t kSystemFlag = 0x80000000;

// The catalog's creation and update times: a fixed moment, so that equal
// descriptions give equal files (2024-01-02 03:04:05).
constexpr double kCatalogTime = 45293.12783564815;

Column col(const char* name, uint8_t type, uint8_t flags, uint16_t length = 0, bool outOfRow = false) {
    Column c;
    c.name = name;
    c.type = type;
    c.length = length;
    c.flagsOverride = flags;
    c.longValueOutOfRow = outOfRow;
    return c;
}

// Text and binary lengths of system columns: Jet 4 counts bytes of UCS-2.
uint16_t sysText(const Fmt&) { return 255; }
uint16_t sysBinary(const Fmt& f) { return f.jet3 ? 255 : 510; }

constexpr uint8_t kSysFixed = 0x13;
constexpr uint8_t kSysVar = 0x12;
constexpr uint8_t kSysBinary = 0x32;

Table catalogTable(const Fmt& f) {
    Table t;
    t.name = "MSysObjects";
    t.system = true;
    t.tableType = 0x53;
    t.columns = {
        col("Id", kLong, kSysFixed),
        col("ParentId", kLong, kSysFixed),
        col("Name", kText, kSysVar, sysText(f)),
        col("Type", kInt, kSysFixed),
        col("DateCreate", kDateTime, kSysFixed),
        col("DateUpdate", kDateTime, kSysFixed),
        col("Owner", kBinary, kSysBinary, sysBinary(f)),
        col("Flags", kLong, kSysFixed),
        col("Database", kMemo, kSysVar),
        col("Connect", kMemo, kSysVar),
        col("ForeignName", kText, kSysVar, sysText(f)),
        col("RmtInfoShort", kBinary, kSysVar, sysBinary(f)),
        col("RmtInfoLong", kOle, kSysVar),
        col("Lv", kOle, kSysVar),
        col("LvProp", kOle, kSysVar, 0, true),
        col("LvModule", kOle, kSysVar),
        col("LvExtra", kOle, kSysVar),
    };
    Index parentName;
    parentName.name = "ParentIdName";
    parentName.columns = {{1}, {2}};
    Index id;
    id.name = "Id";
    id.columns = {{0}};
    t.indexes = {parentName, id};
    return t;
}

Table acesTable(const Fmt& f) {
    Table t;
    t.name = "MSysACEs";
    t.system = true;
    t.tableType = 0x53;
    t.columns = {
        col("ObjectId", kLong, kSysFixed),
        col("SID", kBinary, kSysBinary, sysBinary(f)),
        col("ACM", kLong, kSysFixed),
        col("FInheritable", kBool, kSysFixed),
    };
    Index ix;
    ix.name = "ObjectId";
    ix.columns = {{0}};
    t.indexes = {ix};
    return t;
}

Table queriesTable(const Fmt& f) {
    Table t;
    t.name = "MSysQueries";
    t.system = true;
    t.tableType = 0x53;
    t.columns = {
        col("ObjectId", kLong, kSysFixed),
        col("Attribute", kByte, kSysFixed),
        col("Order", kBinary, kSysVar, sysBinary(f)),
        col("Name1", kText, kSysVar, sysText(f)),
        col("Name2", kText, kSysVar, sysText(f)),
        col("Expression", kMemo, kSysVar),
        col("Flag", kInt, kSysFixed),
    };
    if (!f.jet3) t.columns.push_back(col("LvExtra", kLong, kSysFixed));
    Index ix;
    ix.name = "ObjectIdAttribute";
    ix.columns = {{0}, {1}, {2}};
    t.indexes = {ix};
    return t;
}

// The MSysQueries rows of every query object, in description order; ids[i] is
// the catalog id of objects[i].
std::vector<Row> queryRows(const Fmt& f, const std::vector<CatalogObject>& objects, const std::vector<uint32_t>& ids) {
    std::vector<Row> rows;
    for (size_t i = 0; i < objects.size(); ++i) {
        const CatalogObject& o = objects[i];
        if (o.queryRows.empty()) continue;
        if (o.kind != ObjectKind::Query)
            throw std::invalid_argument("\"" + o.name + "\": only queries have MSysQueries rows");
        std::map<uint8_t, uint32_t> perAttribute;
        for (const QueryRow& q : o.queryRows) {
            Row r;
            r.values.assign(f.jet3 ? 7 : 8, Value{});
            r.values[0] = int64_t(int32_t(ids[i]));
            r.values[1] = int64_t(q.attribute);
            const uint32_t number = ++perAttribute[q.attribute];
            r.values[2] = q.order ? *q.order : Bytes{uint8_t(number >> 24), uint8_t(number >> 16), uint8_t(number >> 8), uint8_t(number)};
            if (q.name1) r.values[3] = *q.name1;
            if (q.name2) r.values[4] = *q.name2;
            if (q.expression) r.values[5] = *q.expression;
            if (q.flag) r.values[6] = int64_t(*q.flag);
            if (q.lvExtra) {
                if (f.jet3) throw std::invalid_argument("\"" + o.name + "\": Jet 3 MSysQueries has no LvExtra column");
                r.values[7] = *q.lvExtra;
            }
            r.deleted = q.deleted;
            r.overflow = q.overflow;
            rows.push_back(std::move(r));
        }
    }
    return rows;
}

Table relationshipsTable(const Fmt& f) {
    Table t;
    t.name = "MSysRelationships";
    t.system = true;
    t.tableType = 0x53;
    t.columns = {
        col("szRelationship", kText, kSysVar, sysText(f)),
        col("grbit", kLong, kSysFixed),
        col("ccolumn", kLong, kSysFixed),
        col("icolumn", kLong, kSysFixed),
        col("szObject", kText, kSysVar, sysText(f)),
        col("szColumn", kText, kSysVar, sysText(f)),
        col("szReferencedObject", kText, kSysVar, sysText(f)),
        col("szReferencedColumn", kText, kSysVar, sysText(f)),
    };
    for (auto [name, column] : {std::pair{"szRelationship", 0}, {"szObject", 4}, {"szReferencedObject", 6}}) {
        Index ix;
        ix.name = name;
        ix.columns = {{column}};
        t.indexes.push_back(ix);
    }
    return t;
}

// System tables carry Access's own index flags (which differ from the ones a
// user index with the same properties gets), list their logical indexes by
// name and, from Jet 4 on, their columns by name too.
void adjustSystemPlan(const Fmt& f, TablePlan& p, const std::vector<std::pair<uint8_t, uint8_t>>& flagsAndTypes) {
    for (size_t k = 0; k < p.realIndexes.size(); ++k) {
        p.realIndexes[k].flags = uint8_t(flagsAndTypes[k].first & (f.jet3 ? 0x7F : 0xFF));
        p.realIndexes[k].type = flagsAndTypes[k].second;
    }
    std::sort(p.logicalOrder.begin(), p.logicalOrder.end(),
              [&](size_t a, size_t b) { return p.realIndexes[a].name < p.realIndexes[b].name; });
    p.sortEntriesByName = !f.jet3;
}

struct CatalogEntry {
    uint32_t id = 0;
    uint32_t parent = 0;
    std::string name;
    int16_t type = 0;
    uint32_t flags = 0;
    std::string database, connect, foreignName;
    Bytes lvProp;  // the property block
};

Row catalogRow(const CatalogEntry& e) {
    Row r;
    r.values.assign(17, Value{});
    r.values[0] = int64_t(e.id);
    r.values[1] = int64_t(e.parent);
    r.values[2] = e.name;
    r.values[3] = int64_t(e.type);
    r.values[4] = kCatalogTime;
    r.values[5] = kCatalogTime;
    r.values[7] = int64_t(e.flags);
    if (!e.database.empty()) r.values[8] = e.database;
    if (!e.connect.empty()) r.values[9] = e.connect;
    if (!e.foreignName.empty()) r.values[10] = e.foreignName;
    if (!e.lvProp.empty()) r.values[14] = e.lvProp;
    return r;
}

std::vector<Row> relationshipRows(const std::vector<RelationshipRow>& relationships) {
    std::vector<Row> rows;
    for (const RelationshipRow& r : relationships) {
        Row row;
        row.values = {r.name, int64_t(int32_t(r.grbit)), int64_t(r.columnCount), int64_t(r.columnIndex),
                      r.object, r.column, r.referencedObject, r.referencedColumn};
        row.deleted = r.deleted;
        rows.push_back(std::move(row));
    }
    return rows;
}

Table complexColumnsTable() {
    Table t;
    t.name = "MSysComplexColumns";
    t.system = true;
    t.columns = {
        col("ColumnName", kText, kSysVar, 255),
        col("ComplexTypeObjectID", kLong, kSysFixed),
        col("FlatTableID", kLong, kSysFixed),
        col("ConceptualTableID", kLong, kSysFixed),
        col("ComplexID", kLong, kSysFixed),
    };
    return t;
}

std::vector<Row> complexColumnRows(const Database& db, const Layout& lay) {
    auto pageOf = [&](const std::string& name) -> uint32_t {
        for (size_t k = 0; k < db.tables.size(); ++k)
            if (db.tables[k].name == name) return lay.tables[k].definitionPage;
        throw std::invalid_argument("complex column: no table \"" + name + "\"");
    };
    std::vector<Row> rows;
    int64_t id = 0;
    for (const ComplexColumn& c : db.complexColumns) {
        Row r;
        r.values = {c.column, int64_t(0), int64_t(pageOf(c.valueTable)), int64_t(pageOf(c.table)), ++id};
        rows.push_back(std::move(r));
    }
    return rows;
}

void writeHeader(Image& img, const Database& db) {
    const Fmt& f = img.fmt;
    uint8_t* p = img.page(0);
    p[1] = 0x01;
    const char* id = db.format == Format::Ace ? "Standard ACE DB" : "Standard Jet DB";
    std::memcpy(p + 4, id, std::strlen(id));
    p[0x14] = db.format == Format::Jet3 ? 0 : db.format == Format::Jet4 ? 1 : 2;
    // The masked block: sort order, code page, and what the protection sets:
    // the page-encryption key (0: pages not encrypted), the Jet password and,
    // for Jet 4, the creation date whose whole days mask the password.
    if (f.jet3)
        set16(p + 0x3A, 0x0409);
    else
        set16(p + 0x6E, 0x0409);
    set16(p + 0x3C, db.codePage);
    writeProtectionFields(p, db, f);
    const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};  // 0x6B39DAC7, little endian
    rc4(key, 4, p + 0x18, f.jet3 ? 126 : 128);
}

}  // namespace

std::vector<uint8_t> write(const Database& db, Layout* layout) {
    const Fmt f = Fmt::of(db.format);
    Image img(f);
    img.newPage();            // 0: header
    MapRows maps(img);
    maps.openPage();          // 1: usage-map rows
    const uint32_t catalogDef = img.newPage();  // 2: MSysObjects' definition
    // 3, 4, 5: MSysACEs', MSysQueries' and MSysRelationships' definitions, the
    // pages Access gives them (readers find query rows by owner page 4).
    std::vector<uint32_t> systemDefs;
    if (db.addStandardSystemTables)
        for (int k = 0; k < 3; ++k) systemDefs.push_back(img.newPage());

    for (const Table& t : db.tables)
        if (t.name == "MSysObjects") throw std::invalid_argument("a user table cannot be called MSysObjects");

    std::vector<CatalogEntry> entries;
    auto add = [&](uint32_t id, uint32_t parent, const std::string& name, int16_t type, uint32_t flags) -> CatalogEntry& {
        entries.push_back(CatalogEntry{id, parent, name, type, flags, {}, {}, {}, {}});
        return entries.back();
    };
    add(kTablesContainer, kRootId, "Tables", 3, kSystemFlag);
    add(kDatabasesContainer, kRootId, "Databases", 3, kSystemFlag);
    add(kRelationshipsContainer, kRootId, "Relationships", 3, kSystemFlag);
    uint32_t databaseEntries = 0;
    if (db.addDatabaseEntry) add(kDatabaseEntryId + databaseEntries++, kDatabasesContainer, "MSysDb", 2, kSystemFlag);
    add(catalogDef, kTablesContainer, "MSysObjects", 1, kSystemFlag);

    auto writeOne = [&](const Table& t, TablePlan plan, uint32_t firstPage, bool isCatalog,
                        const std::vector<Row>* extraRows) {
        TableInput in;
        in.table = &t;
        in.plan = std::move(plan);
        in.isCatalog = isCatalog;
        in.codePage = db.codePage;
        in.rows = [&t, extraRows](const RowVisitor& visit) {
            for (const Row& r : t.rows) visit(r);
            if (t.rowSource) {
                Row r;
                for (size_t i = 0; i < t.generatedRows; ++i) {
                    t.rowSource(i, r);
                    visit(r);
                }
            }
            if (extraRows)
                for (const Row& r : *extraRows) visit(r);
        };
        return writeTable(img, maps, in, firstPage);
    };

    // Containers with counter ids, then everything the description lists.
    std::vector<std::string> containers;
    if (!f.jet3) containers.push_back("DataAccessPages");
    for (const char* c : {"Forms", "Modules", "Reports", "Scripts", "SysRel"}) containers.push_back(c);
    // The described objects' ids, known before MSysQueries is written.
    std::vector<uint32_t> objectIds;
    {
        uint32_t next = kObjectIdBase + uint32_t(containers.size());
        uint32_t databaseNext = kDatabaseEntryId + databaseEntries;
        for (const CatalogObject& o : db.objects)
            objectIds.push_back(o.kind == ObjectKind::DatabaseEntry ? databaseNext++ : next++);
    }

    std::vector<uint32_t> queryPages;
    if (db.addStandardSystemTables) {
        struct Sys {
            Table table;
            std::vector<std::pair<uint8_t, uint8_t>> flags;
        };
        std::vector<Sys> sys = {
            {acesTable(f), {{0x88, 0}}},
            {queriesTable(f), {{0x81, 1}}},
            {relationshipsTable(f), {{0x82, 0}, {0x82, 0}, {0x82, 0}}},
        };
        sys[1].table.rowsPerPage = db.queryRowsPerPage;
        const std::vector<Row> queries = queryRows(f, db.objects, objectIds);
        const std::vector<Row> relationships = relationshipRows(db.relationships);
        for (size_t k = 0; k < sys.size(); ++k) {
            Sys& s = sys[k];
            TablePlan p = planTable(f, s.table, false);
            adjustSystemPlan(f, p, s.flags);
            const bool isQueries = k == 1;
            // Access stores query expressions compressed where it can.
            if (isQueries) p.compressMemo = !f.jet3;
            const std::vector<Row>* extra = isQueries ? &queries : k == 2 ? &relationships : nullptr;
            WrittenTable w = writeOne(s.table, std::move(p), systemDefs[k], false, extra);
            add(w.layout.definitionPage, kTablesContainer, s.table.name, 1, kSystemFlag);
            if (isQueries) queryPages = w.layout.dataPages;
        }
    } else {
        for (const CatalogObject& o : db.objects)
            if (!o.queryRows.empty())
                throw std::invalid_argument("\"" + o.name + "\": query rows need the standard system tables");
        if (!db.relationships.empty()) throw std::invalid_argument("relationships need the standard system tables");
    }

    uint32_t nextObject = kObjectIdBase;
    uint32_t formsId = 0, modulesId = 0, reportsId = 0, scriptsId = 0;
    for (const std::string& c : containers) {
        uint32_t id = nextObject++;
        add(id, kRootId, c, 3, 0);
        if (c == "Forms") formsId = id;
        if (c == "Modules") modulesId = id;
        if (c == "Reports") reportsId = id;
        if (c == "Scripts") scriptsId = id;
    }

    Layout lay;
    lay.pageSize = f.pageSize;
    lay.queryPages = std::move(queryPages);
    for (const Table& t : db.tables) {
        WrittenTable w = writeOne(t, planTable(f, t, db.compressText), 0, false, nullptr);
        CatalogEntry& e = add(w.layout.definitionPage, kTablesContainer, t.name, 1, t.system ? kSystemFlag : 0);
        if (!t.properties.empty()) e.lvProp = propertyBlock(t.properties);
        lay.tables.push_back(std::move(w.layout));
    }
    // MSysComplexColumns last among the tables: its rows name the definition
    // pages of the owner and value tables.
    if (!db.complexColumns.empty()) {
        if (db.format != Format::Ace) throw std::invalid_argument("complex columns exist only in ACE files");
        static const Table complexTable = complexColumnsTable();
        std::vector<Row> rows = complexColumnRows(db, lay);
        WrittenTable w = writeOne(complexTable, planTable(f, complexTable, false), 0, false, &rows);
        add(w.layout.definitionPage, kTablesContainer, complexTable.name, 1, kSystemFlag);
    }

    // The object storage's system table.
    if (!db.objectStorage.empty()) {
        Table st;
        if (f.format == Format::Ace) {
            st = accessStorageTable(db.objectStorage);
        } else {
            lay.compoundFile = compoundFile(db.objectStorage);
            st = chunkTable(f, lay.compoundFile, db.missingChunks);
        }
        WrittenTable w = writeOne(st, planTable(f, st, false), 0, false, nullptr);
        add(w.layout.definitionPage, kTablesContainer, st.name, 1, kSystemFlag);
        lay.objectStoragePages = w.layout.dataPages;
    }

    for (size_t i = 0; i < db.objects.size(); ++i) {
        const CatalogObject& o = db.objects[i];
        uint32_t flags = o.system ? kSystemFlag : 0;
        if (o.kind != ObjectKind::DatabaseEntry && nextObject != objectIds[i])
            throw std::logic_error("object ids out of step");
        switch (o.kind) {
            case ObjectKind::Form: add(nextObject++, formsId, o.name, int16_t(0x8000), flags); break;
            case ObjectKind::Report: add(nextObject++, reportsId, o.name, int16_t(0x8004), flags); break;
            case ObjectKind::Macro: add(nextObject++, scriptsId, o.name, int16_t(0x8002), flags); break;
            case ObjectKind::Module: add(nextObject++, modulesId, o.name, int16_t(0x8007), flags); break;
            case ObjectKind::Query: add(nextObject++, kTablesContainer, o.name, 5, flags | o.queryFlags); break;
            case ObjectKind::LinkedTable:
            case ObjectKind::OdbcLink: {
                CatalogEntry& e = add(nextObject++, kTablesContainer, o.name,
                                      o.kind == ObjectKind::LinkedTable ? 6 : 4, flags);
                e.database = o.linkPath;
                e.connect = o.connect;
                e.foreignName = o.foreignName;
                break;
            }
            case ObjectKind::DatabaseEntry:
                add(kDatabaseEntryId + databaseEntries++, kDatabasesContainer, o.name, 2, flags | kSystemFlag);
                break;
        }
    }

    // The catalog last: its rows name every other definition page.
    Table catalog = catalogTable(f);
    std::vector<Row> rows;
    for (const CatalogEntry& e : entries) rows.push_back(catalogRow(e));
    TablePlan cp = planTable(f, catalog, false);
    adjustSystemPlan(f, cp, {{0x81, 0}, {0x81, 1}});
    // Catalog long values (link paths, connect strings) stay in the row.
    cp.inlineLimit = f.maxRow() / 2;
    WrittenTable cw = writeOne(catalog, std::move(cp), catalogDef, true, &rows);
    lay.catalogPages = cw.layout.dataPages;

    writeHeader(img, db);
    encryptImage(img.bytes, db, f);
    lay.pageCount = img.pageCount();
    if (layout) *layout = std::move(lay);
    return std::move(img.bytes);
}

void applyDamage(std::vector<uint8_t>& image, const Damage& damage, const Layout& layout) {
    const size_t ps = layout.pageSize ? layout.pageSize : 4096;
    auto zeroPage = [&](uint32_t page) {
        size_t at = size_t(page) * ps;
        if (at >= image.size()) throw std::out_of_range("page " + std::to_string(page) + " is beyond the image");
        std::fill(image.begin() + long(at), image.begin() + long(std::min(image.size(), at + ps)), 0);
    };
    for (uint32_t p : damage.zeroPages) zeroPage(p);
    if (damage.zeroCatalogDefinition) zeroPage(2);
    if (damage.versionByte) {
        if (image.size() <= 0x14) throw std::out_of_range("image too short for a version byte");
        image[0x14] = *damage.versionByte;
    }
    for (const Damage::Flip& fl : damage.flips) {
        if (fl.offset >= image.size()) throw std::out_of_range("flip offset " + std::to_string(fl.offset) + " is beyond the image");
        image[fl.offset] ^= fl.mask;
    }
    if (damage.truncateTo && *damage.truncateTo < image.size()) image.resize(*damage.truncateTo);
}

void saveFile(const std::string& path, const std::vector<uint8_t>& image) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + path);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace jetwriter
