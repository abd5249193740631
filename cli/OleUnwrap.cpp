#include "cli/OleUnwrap.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "accessobjects/CompoundFile.h"
#include "platform/LittleEndian.h"

namespace talmera::cli {
namespace {

using namespace std::string_view_literals;

constexpr uint16_t kOleHeaderSignature = 0x1C15;
constexpr uint32_t kOle1Version = 0x0501;
constexpr uint32_t kOle1Embedded = 2;
constexpr uint32_t kPackageEmbeddedFile = 3;

// A bounded reader over the value's bytes.
struct Bytes {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool failed = false;

    bool has(size_t n) const { return !failed && at <= size && size - at >= n; }
    uint16_t u16() {
        if (!has(2)) return failed = true, 0;
        const uint16_t v = le::U16(data + at);
        at += 2;
        return v;
    }
    uint32_t u32() {
        if (!has(4)) return failed = true, 0;
        const uint32_t v = le::U32(data + at);
        at += 4;
        return v;
    }
    // A text of a counted length (its NUL included in the count).
    std::string counted() {
        const uint32_t n = u32();
        if (!has(n)) return failed = true, std::string();
        std::string text(reinterpret_cast<const char*>(data + at), n);
        at += n;
        while (!text.empty() && text.back() == '\0') text.pop_back();
        return text;
    }
    // A NUL-terminated text.
    std::string zeroEnded() {
        if (failed) return {};
        const uint8_t* end = static_cast<const uint8_t*>(std::memchr(data + at, 0, size - at));
        if (!end) return failed = true, std::string();
        std::string text(reinterpret_cast<const char*>(data + at), static_cast<size_t>(end - (data + at)));
        at = static_cast<size_t>(end - data) + 1;
        return text;
    }
};

bool startsWith(const uint8_t* data, size_t size, std::string_view magic, size_t offset = 0) {
    return size >= offset + magic.size() && std::memcmp(data + offset, magic.data(), magic.size()) == 0;
}

// The extension of a file name ("report.PDF" gives ".PDF"), or empty.
std::string extensionOfName(const std::string& name) {
    const size_t slash = name.find_last_of("/\\");
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == name.size()) return {};
    return name.substr(dot);
}

// The last part of a path the Packager kept ("C:\Docs\a.txt" gives "a.txt").
std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string extensionFromClass(const std::string& className, const uint8_t* data, size_t size) {
    const bool compound = startsWith(data, size, std::string_view(reinterpret_cast<const char*>(cfb::kSignature), 8));
    const bool zip = startsWith(data, size, "PK\x03\x04");
    const auto is = [&](std::string_view prefix) { return className.rfind(prefix, 0) == 0; };
    if (is("Word.Document")) return zip ? ".docx" : compound ? ".doc" : "";
    if (is("Excel.Sheet") || is("Excel.Chart")) return zip ? ".xlsx" : compound ? ".xls" : "";
    if (is("PowerPoint.Show") || is("PowerPoint.Slide")) return zip ? ".pptx" : compound ? ".ppt" : "";
    if (is("PBrush") || is("Paint.Picture")) return ".bmp";
    return {};
}

// Takes a Packager package apart: its file name and its file's bytes.
bool unwrapPackage(const uint8_t* data, size_t size, UnwrappedOle& out) {
    Bytes b{data, size};
    b.u16();  // the package's own signature (2)
    const std::string label = b.zeroEnded();
    const std::string source = b.zeroEnded();
    const uint32_t kind = b.u32();
    if (b.failed || kind != kPackageEmbeddedFile) {
        out.reason = b.failed ? "the package is cut short" : "the package holds a link or a command, not a file";
        return false;
    }
    const uint32_t pathLength = b.u32();
    if (!b.has(pathLength)) return out.reason = "the package is cut short", false;
    b.at += pathLength;
    const uint32_t length = b.u32();
    if (!b.has(length)) return out.reason = "the package's file is cut short", false;
    out.data.assign(data + b.at, data + b.at + length);
    out.fileName = baseName(label.empty() ? source : label);
    if (out.fileName.empty()) out.fileName = baseName(source);
    return true;
}

// The native data of an OLE 2 object: a compound file with the object's own
// stream.
bool unwrapCompound(const uint8_t* data, size_t size, UnwrappedOle& out) {
    cfb::Reader reader(std::vector<uint8_t>(data, data + size));
    if (!reader.valid()) return out.reason = "its compound file cannot be read", false;
    const uint32_t native = reader.Find(0, u"\x01Ole10Native");
    if (native != cfb::kNoStream) {
        const std::vector<uint8_t> stream = reader.ReadStream(native);
        Bytes b{stream.data(), stream.size()};
        const uint32_t length = b.u32();
        if (!b.has(length)) return out.reason = "its Ole10Native stream is cut short", false;
        const uint8_t* inner = stream.data() + 4;
        if (out.className == "Package") return unwrapPackage(inner, length, out);
        out.data.assign(inner, inner + length);
        return true;
    }
    for (const char16_t* name : {u"CONTENTS", u"Package"}) {
        const uint32_t entry = reader.Find(0, name);
        if (entry == cfb::kNoStream) continue;
        out.data = reader.ReadStream(entry);
        return true;
    }
    // A document of an office program is the compound file itself.
    out.data.assign(data, data + size);
    return true;
}

}  // namespace

std::string extensionFromContents(const uint8_t* data, size_t size) {
    if (startsWith(data, size, "BM") && size >= 14) return ".bmp";
    if (startsWith(data, size, "\x89PNG\r\n\x1a\n")) return ".png";
    if (startsWith(data, size, "\xFF\xD8\xFF")) return ".jpg";
    if (startsWith(data, size, "GIF87a") || startsWith(data, size, "GIF89a")) return ".gif";
    if (startsWith(data, size, "II*\0"sv) || startsWith(data, size, "MM\0*"sv)) return ".tif";
    if (startsWith(data, size, "%PDF")) return ".pdf";
    if (startsWith(data, size, "{\\rtf")) return ".rtf";
    if (startsWith(data, size, "RIFF") && startsWith(data, size, "WAVE", 8)) return ".wav";
    if (startsWith(data, size, "RIFF") && startsWith(data, size, "AVI ", 8)) return ".avi";
    if (startsWith(data, size, "\xD7\xCD\xC6\x9A")) return ".wmf";
    if (startsWith(data, size, " EMF", 40)) return ".emf";
    if (startsWith(data, size, "PK\x03\x04")) return ".zip";
    if (startsWith(data, size, std::string_view(reinterpret_cast<const char*>(cfb::kSignature), 8))) return ".ole";
    return {};
}

UnwrappedOle unwrapOle(const std::vector<uint8_t>& value) {
    UnwrappedOle out;
    const auto raw = [&](std::string reason) {
        out.unwrapped = false;
        out.data = value;
        out.fileName.clear();
        out.reason = out.reason.empty() ? std::move(reason) : out.reason;
        out.extension = extensionFromContents(value.data(), value.size());
        if (out.extension.empty()) out.extension = ".bin";
        return out;
    };
    Bytes b{value.data(), value.size()};
    if (b.u16() != kOleHeaderSignature) return raw("it has no OLE header");
    const uint16_t headerSize = b.u16();
    b.u32();  // the object's kind
    const uint16_t nameLength = b.u16();
    const uint16_t classLength = b.u16();
    const uint16_t nameOffset = b.u16();
    const uint16_t classOffset = b.u16();
    if (b.failed || headerSize > value.size()) return raw("its OLE header is cut short");
    if (classLength > 0 && classOffset + static_cast<size_t>(classLength) <= headerSize) {
        out.className.assign(reinterpret_cast<const char*>(value.data() + classOffset), classLength);
        while (!out.className.empty() && out.className.back() == '\0') out.className.pop_back();
    }
    (void)nameLength;
    (void)nameOffset;

    // The OLE 1.0 stream after the header.
    b.at = headerSize;
    const uint32_t version = b.u32();
    const uint32_t format = b.u32();
    if (b.failed || (version & 0xFFFF) != kOle1Version) return raw("its OLE stream is of an unknown version");
    if (format != kOle1Embedded) return raw("it is a linked object: the file stays outside the database");
    const std::string oleClass = b.counted();
    b.counted();  // topic
    b.counted();  // item
    const uint32_t length = b.u32();
    if (b.failed || !b.has(length)) return raw("its native data is cut short");
    if (!oleClass.empty()) out.className = oleClass;
    const uint8_t* native = value.data() + b.at;

    bool done = false;
    if (out.className == "Package") {
        done = unwrapPackage(native, length, out);
    } else if (startsWith(native, length, std::string_view(reinterpret_cast<const char*>(cfb::kSignature), 8))) {
        done = unwrapCompound(native, length, out);
    } else {
        out.data.assign(native, native + length);
        done = true;
    }
    if (!done) return raw(out.reason);
    out.unwrapped = true;
    out.extension = extensionOfName(out.fileName);
    if (out.extension.empty()) out.extension = extensionFromClass(out.className, out.data.data(), out.data.size());
    if (out.extension.empty()) out.extension = extensionFromContents(out.data.data(), out.data.size());
    if (out.extension.empty()) out.extension = ".bin";
    return out;
}

}  // namespace talmera::cli
