// The readers of related objects: table and column property blocks,
// relationships, linked tables (their paths and Connect values), complex
// columns (attachments and multi-valued columns) and attachment data. They
// read the damaged file through the engine's core (its pages, slot tables and
// long values) and keep what they find in it (relations, complexColumns, the
// columns' properties and values, relatedStatistics). The catalog scan calls
// the first of them as it goes (InstallRelatedReaders).
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "engine/MDBRecovery.h"

namespace talmera {

class RelatedReader {
public:
    explicit RelatedReader(CMDBRecovery& engine);

    // ---- Property blocks (PropertyBlocks.cpp) ------------------------------
    void ReadTableProperties(tableInfo& table);
    // Table and column property block (the catalog row's long-value header).
    void ReadPropertyBlock(uint8_t row, uint32_t page, uint16_t length, uint16_t flags, tableInfo& table);

    // ---- Relationships (Relationships.cpp) ---------------------------------
    void ReadRelationships();

    // ---- Linked tables (LinkedTables.cpp) ----------------------------------
    void FetchLinkPaths();
    // The Connect text of a link: its value header sits 4 bytes after position.
    std::string ReadConnectValue(uint64_t position) const;
    // A link's long value on page/row; false with mr2 set when the chain
    // pointer turned out to be a property-block signature.
    bool ReadLinkLongValue(uint32_t page, uint8_t row, uint16_t length, uint16_t flags, std::string& text,
                           bool& mr2) const;
    // The text of a link value's bytes: in Jet 3 8-bit text in the code page,
    // in Jet 4 compressed (FF FE) or UTF-16; up to the first zero character.
    std::string LinkValueText(const uint8_t* data, size_t size) const;
    // The connect text a link is saved with, rebuilt from its Connect value and path.
    std::string RebuildConnect(const LinkedTableInfo& link) const;

    // ---- Complex columns (ComplexColumns.cpp, Attachments.cpp) -------------
    void ReadComplexColumns(uint32_t catalogId);
    bool LinkComplexColumns();
    void ReadComplexValues();
    void ReadComplexValues(columnInfo& column);
    // The Jet type code of a multi-valued column's values (its value table's
    // third column); 0 for an attachment column or a value table that cannot
    // be read. The value table's own properties ("Value", "FileData") are read
    // into the column once per scan.
    uint8_t ComplexValueType(uint32_t tableId, const std::string& columnName, tableInfo& table);
    // The decimal scale of a multi-valued decimal column's values.
    unsigned ComplexValueScale(const columnInfo& column) const;
    // size bytes of a multi-valued column's value, from where it is stored
    // (zeros past the file's end).
    std::vector<uint8_t> ComplexValueBytes(const ComplexData& value, size_t size) const;
    // The file an attachment holds (inflated when stored deflated); false when
    // its storage broke or the inflation failed: content then holds what was read.
    bool ReadAttachmentContent(const colRecordAttachmentInfo& attachment, std::vector<uint8_t>& content) const;
    // Appends an attachment's stored bytes (length bytes from page/row) to buffer;
    // false when the storage broke before length bytes were read.
    bool ReadAttachmentData(std::vector<uint8_t>& buffer, uint32_t length, uint32_t page, uint32_t row) const;

private:
    CMDBRecovery& engine_;
    // The engine's parts these readers use, under the engine's names.
    CQuorvinAccessRecoveryApp& app;
    const PageFile& databaseFile;
    const uint16_t& pageSize;
    const uint64_t& fileLength;
    const bool& jet4Layout;
    std::deque<tableInfo>& tables;
    const std::vector<systemTableInfo>& systemTables;
    std::vector<LinkedTableInfo>& linkedTables;
    const std::vector<uint64_t>& relationCatalogPages;
    const std::vector<uint64_t>& queryCatalogPages;
    std::vector<RelationInfo>& relations;
    std::vector<AttachmentInfo>& complexColumns;
    bool& redirectActive;
    std::string& redirectColumn;
    std::vector<std::pair<uint32_t, std::string>>& redirectedColumns;
    CMDBRecovery::RelatedStatistics& relatedStatistics;
    PageLayout Layout() const { return engine_.Layout(); }
    uint64_t pageCount() const { return engine_.pageCount(); }
    bool Stopped() const { return engine_.Stopped(); }
    std::string DecodeTextBytes(const uint8_t* data, size_t size) const { return engine_.DecodeTextBytes(data, size); }
    std::string DecodeStoredText(const uint8_t* data, size_t size) const { return engine_.DecodeStoredText(data, size); }
};

// Lets the catalog scan of this engine read each table's property block,
// MSysComplexColumns and the complex columns' values as it goes.
void InstallRelatedReaders(CMDBRecovery& engine);

}  // namespace talmera
