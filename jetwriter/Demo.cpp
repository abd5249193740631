// The demo database: a small file with every column type the format has, the
// usual index kinds, NULLs, a memo longer than a page, a table over several
// data pages, and one catalog entry of each other kind.
#include <optional>
#include <string>

#include "jetwriter/Internal.h"
#include "jetwriter/JetWriter.h"

namespace jetwriter {

namespace {

using detail::column;

Bytes guid(uint8_t seed) {
    Bytes g(16);
    for (int i = 0; i < 16; ++i) g[i] = uint8_t(seed * 16 + i);
    return g;
}

// Days since 1899-12-30 of a date (proleptic Gregorian), plus a time of day.
double dateValue(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
    // Days from civil (Howard Hinnant's algorithm), relative to 1970-01-01.
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = unsigned((153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days1970 = long(era) * 146097 + long(doe) - 719468;
    return double(days1970 + 25569) + (hh * 3600 + mm * 60 + ss) / 86400.0;
}

std::string longMemo() {
    std::string s;
    for (int i = 0; s.size() < 6000; ++i) s += "Line " + std::to_string(i) + " of a memo longer than one page. ";
    return s;
}

}  // namespace

Database demoDatabase(Format format) {
    const bool jet3 = format == Format::Jet3;
    const bool ace = format == Format::Ace;
    Database db;
    db.format = format;

    Table customers;
    customers.name = "Customers";
    Column id = column("CustomerID", kLong);
    id.autoNumber = true;
    Column website = column("Website", kMemo);
    website.hyperlink = true;
    Column amount = column("Amount", kDecimal);
    amount.precision = 18;
    amount.scale = 4;
    customers.columns = {
        id,
        column("Name", kText, 50),
        column("City", kText, 30),
        column("Active", kBool),
        column("Rating", kByte),
        column("Visits", kInt),
        column("Balance", kCurrency),
        column("Score", kSingle),
        column("Ratio", kDouble),
        column("Joined", kDateTime),
        column("Notes", kMemo),
        column("Photo", kOle),
        column("Tag", kBinary, 16),
        column("Guid", kGuid),
        website,
    };
    if (!jet3) customers.columns.push_back(amount);
    if (ace) customers.columns.push_back(column("Labels", kComplex));

    struct Customer {
        const char* name;
        const char* city;
        bool active;
        int rating, visits;
        int64_t balance;
        double score, ratio, joined;
        std::string notes;
    };
    const Customer people[] = {
        {"Alfreds Futterkiste", "Berlin", true, 5, 12, 1234500, 4.5, 0.125, dateValue(2001, 2, 3, 4, 5, 6), "Regular customer"},
        {"Ana Trujillo", "México D.F.", false, 3, 0, -5000, 2.25, 1.5, dateValue(1999, 12, 31, 23, 59, 59), longMemo()},
        {"Antonio Moreno", nullptr, true, 0, 7, 0, 0, -2.75, dateValue(2020, 2, 29), ""},
        {"Around the Horn", "London", false, 255, -32768, 99999999, -1.5, 1e10, dateValue(1900, 1, 1, 12), "Ünïcödé ok"},
    };
    int n = 0;
    for (const Customer& c : people) {
        ++n;
        // Values one by one: a braced list of variants trips a false
        // "maybe uninitialized" warning in GCC 12 at -O2.
        Row r;
        std::vector<Value>& v = r.values;
        v.push_back(int64_t(n));
        v.push_back(std::string(c.name));
        v.push_back(c.city ? Value(std::string(c.city)) : Value{});
        v.push_back(c.active);
        v.push_back(int64_t(c.rating));
        v.push_back(int64_t(c.visits));
        v.push_back(c.balance);
        v.push_back(c.score);
        v.push_back(c.ratio);
        v.push_back(c.joined);
        v.push_back(n == 3 ? Value{} : Value(c.notes));
        Value photo, tag, id16;
        if (n % 2) photo = Bytes{0x15, 0x1C, 0x2F, 0x00, uint8_t(n)};
        if (n != 4) tag = Bytes{0xDE, 0xAD, 0xBE, 0xEF, uint8_t(n)};
        if (n != 2) id16 = guid(uint8_t(n));
        v.push_back(photo);
        v.push_back(tag);
        v.push_back(id16);
        v.push_back(n == 1 ? Value(std::string("Example#https://example.com/#")) : Value{});
        if (!jet3) r.values.push_back(n == 3 ? Value{} : Value(std::string(n == 2 ? "-12345.6789" : "42.5")));
        if (ace) r.values.push_back(int64_t(n));
        customers.rows.push_back(r);
    }
    Index pk;
    pk.name = "PrimaryKey";
    pk.primary = true;
    pk.columns = {{0}};
    Index byName;
    byName.name = "Name";
    byName.unique = true;
    byName.columns = {{1}};
    Index byCity;
    byCity.name = "City";
    byCity.ignoreNulls = true;
    byCity.columns = {{2}, {9, true}};
    customers.indexes = {pk, byName, byCity};
    db.tables.push_back(customers);
    if (ace) {
        // Labels is an attachment column: files on the first two customers.
        Attachment note{"note.txt", Bytes{'H', 'e', 'l', 'l', 'o', '\r', '\n'}, true, 0};
        Attachment logo{"logo.png", Bytes{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, false, 0};
        db.tables.push_back(attachmentValueTable("Customers", "Labels", {{1, note}, {2, logo}, {2, note}}));
        db.complexColumns.push_back({"Customers", "Labels", db.tables.back().name});
    }

    // Enough rows for several data pages in every format.
    Table orders;
    orders.name = "Orders";
    Column orderId = column("OrderID", kLong);
    orderId.autoNumber = true;
    orders.columns = {
        orderId,
        column("CustomerID", kLong),
        column("Product", kText, 40),
        column("Quantity", kInt),
        column("Price", kCurrency),
        column("Ordered", kDateTime),
        column("Shipped", kBool),
    };
    const char* products[] = {"Chai", "Chang", "Aniseed Syrup", "Tofu", "Pavlova", "Ikura", "Konbu"};
    for (int i = 1; i <= 300; ++i) {
        Row r;
        r.values = {
            int64_t(i),
            int64_t(1 + i % 4),
            std::string(products[i % 7]) + " #" + std::to_string(i),
            i % 11 == 0 ? Value{} : Value(int64_t(i % 50 + 1)),
            int64_t(i) * 12500,
            dateValue(2023, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0),
            i % 3 == 0,
        };
        orders.rows.push_back(r);
    }
    Index orderPk;
    orderPk.name = "PrimaryKey";
    orderPk.primary = true;
    orderPk.columns = {{0}};
    Index orderCustomer;
    orderCustomer.name = "CustomerID";
    orderCustomer.columns = {{1}};
    orders.indexes = {orderPk, orderCustomer};
    db.tables.push_back(orders);

    auto object = [&](const std::string& name, ObjectKind kind) {
        CatalogObject o;
        o.name = name;
        o.kind = kind;
        db.objects.push_back(o);
        return &db.objects.back();
    };
    // A grouped select over a join, stored as Access stores it: the query's
    // own row, the end row, the type row, the options, then one row per table,
    // output column, join, condition, grouping and ordering.
    CatalogObject* query = object("Customer List", ObjectKind::Query);
    auto row = [&](uint8_t attribute, std::optional<int> flag, std::optional<std::string> expression = {},
                   std::optional<std::string> name1 = {}, std::optional<std::string> name2 = {}) {
        QueryRow r;
        r.attribute = attribute;
        r.flag = flag;
        r.expression = std::move(expression);
        r.name1 = std::move(name1);
        r.name2 = std::move(name2);
        query->queryRows.push_back(r);
    };
    row(0, 0);
    row(255, {});
    row(1, 1);
    row(3, 0);
    row(5, {}, {}, "Customers");
    row(5, {}, {}, "Orders");
    row(6, 0, "Customers.Name");
    row(6, 0, "Customers.City");
    row(6, 0, "Count(Orders.OrderID)", "Order Count");
    row(7, 1, "Customers.CustomerID = Orders.CustomerID", "Customers", "Orders");
    row(8, {}, "Customers.Active = True");
    row(9, 0, "Customers.Name");
    row(9, 0, "Customers.City");
    row(11, {}, "Customers.Name");
    CatalogObject* linked = object("Linked Suppliers", ObjectKind::LinkedTable);
    linked->linkPath = "C:\\Data\\Suppliers.mdb";
    linked->foreignName = "Suppliers";
    CatalogObject* odbc = object("Remote Invoices", ObjectKind::OdbcLink);
    odbc->connect = "ODBC;DSN=Invoices;DATABASE=billing";
    odbc->foreignName = "dbo.Invoices";
    object("Customer Form", ObjectKind::Form);
    object("Sales Report", ObjectKind::Report);
    object("AutoExec", ObjectKind::Macro);
    object("Utilities", ObjectKind::Module);
    return db;
}

}  // namespace jetwriter
