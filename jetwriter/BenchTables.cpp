// Benchmark inputs: tables of millions of rows, generated row by row through
// Table::rowSource so that the writer never holds them all.
#include <algorithm>
#include <string>

#include "jetwriter/JetWriter.h"

namespace jetwriter {

namespace {

Column column(const char* name, uint8_t type, uint16_t length = 0) {
    Column c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

Index primaryKey() {
    Index pk;
    pk.name = "PrimaryKey";
    pk.primary = true;
    pk.columns = {{0}};
    return pk;
}

// Plain words for memo values; a value is a run of them from some offset.
const std::string& prose() {
    static const std::string text =
        "Received in good order and checked against the delivery note. The balance was carried "
        "forward to the next period after the customer confirmed the amount by telephone; a copy "
        "of the statement went to the branch office with the monthly summary and the auditor's remarks. ";
    return text;
}

std::string proseRun(size_t from, size_t chars) {
    const std::string& p = prose();
    std::string s;
    s.reserve(chars);
    from %= p.size();
    while (s.size() < chars) {
        const size_t n = std::min(chars - s.size(), p.size() - from);
        s.append(p, from, n);
        from = 0;
    }
    return s;
}

Bytes pattern(size_t i, size_t size) {
    Bytes b(size);
    for (size_t k = 0; k < size; ++k) b[k] = uint8_t(i * 7 + k * 31);
    return b;
}

}  // namespace

Database bigDatabase(Format format, size_t rows) {
    Database db;
    db.format = format;
    Table events;
    events.name = "Events";
    events.columns = {column("EventID", kLong),        column("Created", kDateTime), column("AccountID", kLong),
                      column("Amount", kCurrency),     column("Kind", kText, 20),    column("Description", kText, 100),
                      column("Processed", kBool)};
    events.columns[0].autoNumber = true;
    events.indexes = {primaryKey()};
    static const char* kinds[] = {"deposit", "withdrawal", "transfer", "fee", "interest"};
    events.generatedRows = rows;
    events.rowSource = [](size_t i, Row& r) {
        r.values.resize(7);
        r.values[0] = int64_t(i + 1);
        r.values[1] = 44927.0 + double(i % 86400) / 86400.0 + double(i / 86400);
        r.values[2] = int64_t(1 + i % 997);
        r.values[3] = int64_t((i * 7919) % 10000000) - 2000000;
        r.values[4] = std::string(kinds[i % 5]);
        r.values[5] = i % 13 == 0 ? Value{} : Value("Event " + std::to_string(i + 1) + " of the benchmark ledger");
        r.values[6] = i % 2 == 0;
    };
    db.tables.push_back(std::move(events));

    Table accounts;
    accounts.name = "Accounts";
    accounts.columns = {column("AccountID", kLong), column("Owner", kText, 60), column("Opened", kDateTime),
                        column("Balance", kCurrency)};
    accounts.indexes = {primaryKey()};
    accounts.generatedRows = std::max<size_t>(1, rows / 50);
    accounts.rowSource = [](size_t i, Row& r) {
        r.values.resize(4);
        r.values[0] = int64_t(i + 1);
        r.values[1] = "Account holder " + std::to_string(i + 1);
        r.values[2] = 36526.0 + double(i % 9000);
        r.values[3] = int64_t(i * 104729 % 100000000);
    };
    db.tables.push_back(std::move(accounts));
    return db;
}

Database benchRowsDatabase(Format format, size_t rows) {
    Database db;
    db.format = format;
    Table t;
    t.name = "Ledger";
    t.columns = {column("EntryID", kLong),      column("Code", kText, 20),     column("Customer", kText, 60),
                 column("Amount", kDouble),     column("Posted", kDateTime),   column("Price", kCurrency),
                 column("Settled", kBool),      column("Notes", kMemo),        column("Attachment", kOle)};
    t.columns[0].autoNumber = true;
    t.indexes = {primaryKey()};
    static const char* customers[] = {"Alder & Sons", "Brügge Handel GmbH", "Cortés Importaciones", "Dahl Ltd",
                                      "Élan Services",  "Fjørd Shipping",     "Grün Logistics",       "Hart Brothers"};
    t.generatedRows = rows;
    t.rowSource = [](size_t i, Row& r) {
        r.values.assign(9, Value{});
        r.values[0] = int64_t(i + 1);
        r.values[1] = "L" + std::to_string(1000000 + i);
        r.values[2] = std::string(customers[i % 8]);
        r.values[3] = double(int64_t(i * 7919 % 2000000) - 500000) / 64.0;
        r.values[4] = 43831.0 + double(i / 100) + double(i % 86400) / 86400.0;
        r.values[5] = int64_t(i * 104729 % 100000000) - 10000000;
        r.values[6] = i % 3 != 0;
        // Notes: mostly short (in the row); one in twenty a few hundred
        // characters (one long-value row); one in a thousand several pages
        // long (a chain); one in seventeen NULL.
        if (i % 1000 == 7)
            r.values[7] = "Entry " + std::to_string(i + 1) + ": " + proseRun(i, 2500 + i % 3000);
        else if (i % 20 == 3)
            r.values[7] = "Entry " + std::to_string(i + 1) + ": " + proseRun(i, 100 + i * 37 % 700);
        else if (i % 17 != 0)
            r.values[7] = "Checked " + std::to_string(i + 1);
        // Attachment: one in three small (in the row); one in forty up to a
        // page (one long-value row); one in two thousand spanning pages; the
        // rest NULL.
        if (i % 2000 == 1001)
            r.values[8] = pattern(i, 9000 + i % 7 * 2000);
        else if (i % 40 == 1)
            r.values[8] = pattern(i, 200 + i * 13 % 1500);
        else if (i % 3 == 0)
            r.values[8] = pattern(i, 8 + i % 40);
    };
    db.tables.push_back(std::move(t));
    return db;
}

}  // namespace jetwriter
