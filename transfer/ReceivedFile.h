#pragma once

#include <string>
#include <string_view>

#include "Status.h"

namespace fbx {

// The file a program is received into. It begins with one empty line when
// the target is chosen; received text is then appended in pieces, each piece
// opening and closing the file again. A file removed meanwhile is created
// anew.
class ReceivedFile {
public:
    explicit ReceivedFile(std::string path) : m_path(std::move(path)) {}

    const std::string& path() const { return m_path; }

    // Creates or empties the file and writes CR LF.
    Status prepare();
    // Appends text as it is (no line end added).
    Status append(std::string_view text);
    // The end of an incomplete reception: text followed by CR LF. When an
    // earlier append already wrote part of this reception the text is
    // appended, so nothing received is dropped; otherwise the file is
    // replaced.
    Status saveIncomplete(std::string_view text);

    bool appendedBefore() const { return m_appended; }

    // Where text goes that could not be written to the file: a file in the
    // system's temporary directory named after the target. Returns its path,
    // or an empty string (with the reason in error) when that failed too.
    std::string rescue(std::string_view text, std::string& error) const;

private:
    std::string m_path;
    bool m_appended = false;
};

}  // namespace fbx
