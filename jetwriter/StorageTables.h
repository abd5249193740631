// The system tables that hold Access's object storage in a database file.
#pragma once

#include "jetwriter/Internal.h"
#include "jetwriter/JetWriter.h"

namespace jetwriter::detail {

// MSysAccessObjects (Jet 3, Jet 4): the compound file in numbered chunks.
Table chunkTable(const Fmt& f, const Bytes& compound, const std::vector<uint16_t>& missing);
// MSysAccessStorage (ACE): one row per storage and stream.
Table accessStorageTable(const std::vector<StorageNode>& nodes);

}  // namespace jetwriter::detail
