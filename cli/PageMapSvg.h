// `talmera-repair map`: the page map of a scanned file as an SVG picture.
#pragma once

#include <ostream>
#include <string>

namespace talmera {
class CMDBRecovery;
}

namespace talmera::cli {

// Most cells drawn; a larger map draws groups of its cells, each as the most
// telling kind among them.
constexpr size_t kMaxSvgCells = 16384;

// Writes the page map the scan left in `engine` (engine/PageMap.h) as one SVG
// document: a cell per page (or group of pages), coloured by kind, a <title>
// per cell naming its pages and owner, a red frame and cross on pages whose
// rows were lost, and a legend with the pages of each kind. Each cell's rect
// carries data-kind, data-first, data-pages (and data-lost="1") for machines.
void writePageMapSvg(std::ostream& out, const CMDBRecovery& engine, const std::string& fileName);

}  // namespace talmera::cli
