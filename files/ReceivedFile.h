#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Crc32.h"
#include "Status.h"

namespace fbx {

// How received text reaches the disk. The file a program is received into
// begins with one empty line when the target is chosen; received text is then
// appended in pieces. The file is held open from prepare() to finish(), so
// that what it holds can always be accounted for:
//
// - An append that fails part-way (a full disk) takes the file back to the
//   size it had, so that a later retry never doubles text; when even that
//   fails, the result says how much of the text did reach the file.
// - Before every write the target is checked to be still the file this
//   reception created (same device and inode, and the size we wrote). When it
//   was removed or replaced, everything of the reception is written to a new
//   file beside it ("NAME-recovered.EXT", or a rescue file in the temporary
//   directory when the folder takes no file), which then takes the rest of the
//   reception.
// - finish() flushes the file to the disk and reports any error the system
//   held back until then.
class ReceivedFile {
public:
    explicit ReceivedFile(std::string path);
    ~ReceivedFile();
    ReceivedFile(ReceivedFile&& other) noexcept;
    ReceivedFile& operator=(ReceivedFile&& other) noexcept;
    ReceivedFile(const ReceivedFile&) = delete;
    ReceivedFile& operator=(const ReceivedFile&) = delete;

    // The file the operator chose, and the file the text goes to now.
    const std::string& targetPath() const { return m_target; }
    const std::string& path() const { return m_path; }

    // Creates or empties the target and writes CR LF.
    Status prepare();
    // Takes over a target that was prepared before (by another ReceivedFile
    // that has since let it go): from now on it is held for the reception.
    Status adopt();

    struct Written {
        Status status;
        size_t written = 0;     // bytes of the text now in the file
        bool movedNow = false;  // this call found the target gone and moved the reception
    };
    // Appends text as it is (no line end added). On failure written is 0 and
    // the file is as it was, or written counts the bytes that could not be
    // taken back (the caller drops them from what it still has to write).
    Written append(std::string_view text);

    // The end of an incomplete reception: text followed by CR LF. When an
    // earlier append already wrote part of this reception the text is
    // appended, so nothing received is dropped; otherwise the file's content
    // is replaced.
    Written saveIncomplete(std::string_view text);

    // Flushes the file to the disk and lets it go. Any error the system held
    // back (a delayed write error at fsync or close) is reported here.
    Status finish();

    bool appendedBefore() const { return m_appended; }
    // The reception went on in another file than the target.
    bool moved() const { return m_moved; }
    // Bytes received earlier that another program changed in the target
    // before it could be moved, and that are therefore lost.
    std::int64_t lostBytes() const { return m_lost; }
    // Bytes in the file now (the leading empty line included).
    std::int64_t size() const { return m_size; }

    // Writes text to a new file in the system's temporary directory named
    // after the target, flushed to the disk. Returns its path, or an empty
    // string (with the reason in error) when that failed too.
    std::string rescue(std::string_view text, std::string& error) const;

private:
    // Opens the file for this reception (once) and remembers who it is.
    Status hold(int fd);
    // Whether the path still names the file we hold, at the size we wrote.
    bool stillOurs() const;
    // Moves everything of the reception to a new file beside the target.
    Status moveReception();
    Written write(std::string_view text);
    void release();

    std::string m_target;
    std::string m_path;
    int m_fd = -1;
    std::uint64_t m_device = 0, m_inode = 0;
    std::int64_t m_size = 0;
    Crc32 m_crc;  // of everything we wrote
    bool m_appended = false;
    bool m_moved = false;
    std::int64_t m_lost = 0;
};

}  // namespace fbx
