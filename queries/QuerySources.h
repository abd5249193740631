// The FROM clause of a rebuilt query and the names written into it.
//
// MSysQueries keeps one row per source (a table, a saved query or a
// subquery, with its alias) and one row per join condition, naming the two
// sources it joins. Access writes the sources that take part in no join as a
// comma list, then the joins, nested with parentheses in the order of their
// rows; several conditions between the same two sources are one join whose
// conditions are joined with AND (Access keeps them last condition first).
#pragma once

#include <string>
#include <vector>

namespace talmera {

// One source of the FROM clause.
struct querySource {
    std::string key;    // the name joins call it by: its alias, else its name
    std::string entry;  // as written in the FROM clause ("[Orders] ", "Products AS [Product List]")
};

// Join kinds as the Flag of a join row gives them.
enum QueryJoinKind : int { kInnerJoin = 1, kLeftJoin = 2, kRightJoin = 3 };

// One join row: Name1 the left source, Name2 the right one.
struct queryJoin {
    int kind = kInnerJoin;
    std::string left, right;
    std::string condition;
};

// More joins than this in one query are damage (Access joins at most 32
// tables); the rows after them are not joined.
inline constexpr size_t kMaxQueryJoins = 1024;

// The items of the FROM clause, in order: each source in no join (its entry
// as given), then each tree of joins. A join row naming a source that has no
// table row joins that name as a table.
std::vector<std::string> BuildFromItems(const std::vector<querySource>& sources, const std::vector<queryJoin>& joins);

// True when a name can stand in Access SQL without brackets: letters, digits
// and "_", not starting with a digit, and no SQL keyword.
bool IsPlainSqlName(const std::string& name);

// The name in brackets, unless it is bracketed already.
std::string BracketName(const std::string& name);

// A parameter's name as a PARAMETERS declaration writes it: a reference to a
// form control (Forms!Orders!OrderID) gets each of its parts bracketed, any
// other name is bracketed whole.
std::string ParameterName(const std::string& name);

// The type word Access writes in a PARAMETERS declaration for the Flag of a
// parameter row (a column type code); the empty text for an unknown code.
std::string ParameterTypeWord(int flag);

}  // namespace talmera
