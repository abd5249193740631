#include "jetwriter/JetWriter.h"

namespace jetwriter {
Database demoDatabase(Format format) {
    Database db;
    db.format = format;
    return db;
}
}  // namespace jetwriter
