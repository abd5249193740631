#include "cli/Attachments.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "cli/Preview.h"
#include "engine/MDBRecovery.h"
#include "related/Related.h"

namespace talmera::cli {

std::string SafeFileName(const std::string& name) {
    std::string safe;
    for (unsigned char c : name) {
        const bool control = c < 0x20 || c == 0x7F;
        safe.push_back(control || c == '/' || c == '\\' || c == ':' ? '_' : static_cast<char>(c));
    }
    for (size_t at = safe.find(".."); at != std::string::npos; at = safe.find("..")) safe[at] = '_';
    if (safe.size() > 200) {
        // Keep the extension; never cut a UTF-8 character in two.
        const size_t dot = safe.rfind('.');
        const std::string extension = dot != std::string::npos && safe.size() - dot <= 16 ? safe.substr(dot) : "";
        size_t keep = 200 - extension.size();
        while (keep > 0 && (static_cast<unsigned char>(safe[keep]) & 0xC0) == 0x80) --keep;
        safe = safe.substr(0, keep) + extension;
    }
    if (safe.empty() || safe == ".") safe = "attachment";
    return safe;
}

int createNewFile(const std::string& dir, const std::string& name, std::string& path) {
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string extension = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    for (int n = 1; n < 10000; ++n) {
        path = dir + "/" + (n == 1 ? name : stem + " (" + std::to_string(n) + ")" + extension);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

std::string writeNewFile(const std::string& dir, const std::string& name, const std::vector<uint8_t>& data,
                         std::ostream& err) {
    const std::string safe = SafeFileName(name);
    std::string path;
    const int fd = createNewFile(dir, safe, path);
    bool written = fd >= 0;
    const int openError = errno;
    for (size_t at = 0; written && at < data.size();) {
        const ssize_t n = ::write(fd, data.data() + at, data.size() - at);
        if (n <= 0) {
            written = false;
            break;
        }
        at += static_cast<size_t>(n);
    }
    if (fd >= 0 && ::close(fd) != 0) written = false;
    if (!written) {
        err << "talmera-repair: cannot write '" << (path.empty() ? dir + "/" + safe : path)
            << "': " << std::strerror(fd < 0 ? openError : errno) << '\n';
        return {};
    }
    return path;
}

bool listAttachments(CMDBRecovery& engine, const tableInfo& table, const std::string& extractDir,
                     std::ostream& out, std::ostream& err) {
    bool ok = true;
    out << "column\trow key\tfile name\tbytes" << (extractDir.empty() ? "" : "\tsaved as") << '\n';
    for (const columnInfo& column : table.columns) {
        for (const colRecordAttachmentInfo& a : column.attachments) {
            std::vector<uint8_t> content;
            const bool complete = RelatedReader(engine).ReadAttachmentContent(a, content);
            // Names from the file may hold tabs and line breaks: escaped as
            // preview's tsv escapes them, so that a line stays one line.
            std::string name, file;
            appendTsvField(name, column.name);
            appendTsvField(file, a.fileName);
            out << name << '\t' << a.key << '\t' << file << '\t' << content.size()
                << (complete ? "" : " incomplete");
            if (!extractDir.empty()) {
                const std::string path = writeNewFile(extractDir, a.fileName, content, err);
                const bool written = !path.empty();
                if (!written) ok = false;
                std::string shown;
                if (written) appendTsvField(shown, path);
                out << '\t' << shown;
            }
            out << '\n';
        }
    }
    return ok;
}

}  // namespace talmera::cli
