// The wrapper Access puts around a picture or document in an OLE Object
// column, taken off: the OLE header (class and name of the object), the
// OLE 1.0 stream around the object's native data, and inside that the
// Packager's package (a file with its name) or the compound file of an
// OLE 2 object (its "Ole10Native" or "CONTENTS" stream). What is left is the
// embedded file's own bytes, which an image viewer or an office program opens.
// The layouts are in docs/format.md ("OLE objects").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talmera::cli {

struct UnwrappedOle {
    bool unwrapped = false;      // false: `data` is the stored value as it is
    std::vector<uint8_t> data;   // the embedded file's bytes, or the value
    std::string fileName;        // the package's own file name, when it has one
    std::string extension;       // from the contents or the class (".bmp", ".doc"), or ".bin"
    std::string className;       // the OLE class ("Paint.Picture", "Package"), when found
    std::string reason;          // why it stays raw (unwrapped false)
};

// Every length inside the value is bounded by the value; nothing is read
// beyond it.
UnwrappedOle unwrapOle(const std::vector<uint8_t>& value);

// The extension a file's first bytes say it has (".png", ".jpg", ...), or
// empty when they say nothing known.
std::string extensionFromContents(const uint8_t* data, size_t size);

}  // namespace talmera::cli
