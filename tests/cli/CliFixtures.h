// Databases for the command tests, written by jetwriter.
#pragma once

#include <string>

#include "jetwriter/JetWriter.h"
#include "tests/support/TestSupport.h"

namespace talmera::cli::test {

inline std::string writeDatabase(const talmera::test::TempDir& dir, const std::string& name,
                                 const jetwriter::Database& db) {
    const std::string path = dir.file(name);
    jetwriter::saveFile(path, jetwriter::write(db));
    return path;
}

inline jetwriter::Column column(const std::string& name, uint8_t type, uint16_t length = 0) {
    jetwriter::Column c;
    c.name = name;
    c.type = type;
    c.length = length;
    return c;
}

}  // namespace talmera::cli::test
