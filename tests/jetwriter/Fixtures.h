// Databases the writer tests write and read back.
#pragma once

#include <string>

#include "jetwriter/JetWriter.h"

namespace jwtest {

const char* formatName(jetwriter::Format f);
bool hasType(jetwriter::Format f, uint8_t type);

jetwriter::Column column(const std::string& name, uint8_t type, uint16_t length = 0);

// One table per column type the format has ("T_Text", ...): an ID and a value
// column, rows with ordinary, extreme, empty and NULL values.
void addTypeTables(jetwriter::Database& db);

// Rows stored before two columns were added, deleted rows, rows moved behind
// overflow pointers, stale pages, three rows per page.
jetwriter::Table editedTable();

// Memo and OLE values inline, on one long-value row and chained over pages,
// and text rows longer than 256 and 512 bytes.
jetwriter::Table longValuesTable();
jetwriter::Table wideRowsTable();

// So many columns with long names that the definition fills several pages.
jetwriter::Table manyColumnsTable(int columns);

}  // namespace jwtest
