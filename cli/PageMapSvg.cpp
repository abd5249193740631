#include "cli/PageMapSvg.h"

#include <algorithm>
#include <array>

#include "engine/MDBRecovery.h"
#include "engine/PageMap.h"
#include "platform/Utf8.h"

namespace talmera::cli {
namespace {

constexpr int kColumns = 64;
constexpr int kMargin = 10;
constexpr int kHeading = 30;
constexpr int kLegendLine = 18;

// Text from a damaged file in XML: markup escaped, bytes that are not UTF-8
// and control characters (which XML 1.0 forbids) as U+FFFD.
std::string xmlText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    uint32_t cp = 0;
    while (at < text.size()) {
        if (!utf8::Next(text, at, cp) || (cp < 0x20 && cp != '\t') || cp == 0xFFFE || cp == 0xFFFF) {
            utf8::Append(out, utf8::kReplacement);
            continue;
        }
        switch (cp) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: utf8::Append(out, cp);
        }
    }
    return out;
}

std::string plural(uint64_t n, const char* one) { return std::to_string(n) + " " + one + (n == 1 ? "" : "s"); }

}  // namespace

void writePageMapSvg(std::ostream& out, const CMDBRecovery& engine, const std::string& fileName) {
    const PageMap& map = engine.pageMap;
    const std::vector<PageMapGroup> groups = GroupPageMap(map, kMaxSvgCells);
    const size_t drawn = groups.size();
    const uint64_t perGroup = groups.empty() ? 1 : groups.front().pages;
    const int cellSize = drawn <= 4096 ? 12 : 6;
    const int rows = static_cast<int>((drawn + kColumns - 1) / kColumns);
    const int gridTop = kMargin + kHeading;
    const int legendTop = gridTop + rows * cellSize + 2 * kMargin;
    const int width = std::max(2 * kMargin + kColumns * cellSize, 420);
    const int legendLines = static_cast<int>(kPageKindCount) + 1;
    const int height = legendTop + legendLines * kLegendLine + kMargin;

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<title>Page map of " << xmlText(fileName) << "</title>\n"
        << "<text x=\"" << kMargin << "\" y=\"" << kMargin + 14 << "\" font-size=\"14\">" << xmlText(fileName)
        << ": " << plural(map.pages(), "page");
    if (perGroup > 1) out << ", " << perGroup << " pages a cell";
    out << "</text>\n<g class=\"cells\" stroke=\"#ffffff\" stroke-width=\"0.5\">\n";

    for (size_t d = 0; d < drawn; ++d) {
        const PageMapGroup& g = groups[d];
        const PageKind kind = g.kind;
        const bool lost = g.rowsLost;
        const uint64_t first = g.firstPage;
        const uint64_t pages = g.pages;
        const std::string title = PageGroupText(engine, g);
        const int x = kMargin + static_cast<int>(d % kColumns) * cellSize;
        const int y = gridTop + static_cast<int>(d / kColumns) * cellSize;
        out << "<rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << cellSize << "\" height=\"" << cellSize
            << "\" fill=\"" << PageKindColour(kind) << "\" data-kind=\"" << PageKindName(kind)
            << "\" data-first=\"" << first << "\" data-pages=\"" << pages << '"';
        if (lost) out << " data-lost=\"1\" stroke=\"#ff2020\" stroke-width=\"2\"";
        out << "><title>" << xmlText(title) << "</title></rect>\n";
        if (lost) {
            out << "<path d=\"M" << x + 2 << ' ' << y + 2 << "L" << x + cellSize - 2 << ' ' << y + cellSize - 2
                << "M" << x + cellSize - 2 << ' ' << y + 2 << "L" << x + 2 << ' ' << y + cellSize - 2
                << "\" stroke=\"#ff2020\" stroke-width=\"1.5\" pointer-events=\"none\"/>\n";
        }
    }
    out << "</g>\n<g class=\"legend\">\n";
    for (size_t k = 0; k < kPageKindCount; ++k) {
        const PageKind kind = static_cast<PageKind>(k);
        const int y = legendTop + static_cast<int>(k) * kLegendLine;
        out << "<rect x=\"" << kMargin << "\" y=\"" << y << "\" width=\"12\" height=\"12\" fill=\"" << PageKindColour(kind)
            << "\" stroke=\"#808080\" stroke-width=\"0.5\"/><text x=\"" << kMargin + 18 << "\" y=\"" << y + 10
            << "\" data-kind=\"" << PageKindName(kind) << "\" data-count=\"" << map.count(kind) << "\">"
            << PageKindLabel(kind) << ": " << plural(map.count(kind), "page") << "</text>\n";
    }
    const int y = legendTop + static_cast<int>(kPageKindCount) * kLegendLine;
    out << "<rect x=\"" << kMargin << "\" y=\"" << y
        << "\" width=\"12\" height=\"12\" fill=\"none\" stroke=\"#ff2020\" stroke-width=\"2\"/><text x=\""
        << kMargin + 18 << "\" y=\"" << y + 10 << "\" data-kind=\"lost\" data-count=\"" << map.rowsLostPages()
        << "\">rows lost: " << plural(map.rowsLostPages(), "page") << "</text>\n</g>\n</svg>\n";
}

}  // namespace talmera::cli
