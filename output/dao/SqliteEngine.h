// The embedded output engine: the DAO-shaped interface of Dao.h written into
// a new SQLite database.
//
// It behaves as DAO does where the save relies on it: it refuses what DAO
// refuses (names used twice, indexes on missing fields, values that do not fit
// their field, duplicates in unique indexes, missing required values, records
// a validation rule refuses), converts assigned values to the field's type and
// keeps auto-number values as given. The result is an ordinary SQLite file
// with typed tables, indexes, foreign keys and views; what SQLite has no place
// for (field properties, Access SQL, links) lives in metadata tables named
// _talmera_*. docs/output-format.md describes the file for its readers.
//
// Tables are created in the file when their data first arrives (the first
// recordset, a query or relation that needs them, or Close), so that Required,
// DefaultValue and ValidationRule set after TableDefs.Append are part of the
// table. Relations become foreign keys at Close.
#pragma once

#include <memory>

#include "output/dao/Dao.h"

namespace talmera::dao {

std::shared_ptr<Engine> CreateSqliteEngine();

}  // namespace talmera::dao
