#pragma once

#include <string>
#include <string_view>

#include "Status.h"

namespace fbx {

// Whole files, read and written so that a failure never leaves a file half
// written without saying so. Every failure is a FileError naming the path and
// the system's reason.

// Reads a whole file as bytes.
Status readWholeFile(const std::string& path, std::string& out);

// Writes bytes to a file, creating or emptying it first. Not atomic: a
// failure part-way leaves a part. Errors of the write, fsync-less close
// included, are reported.
Status writeWholeFile(const std::string& path, std::string_view bytes);

// Replaces a file's content in one step: the bytes go to a new file beside it,
// are flushed to the disk, and the new file then takes the old one's place
// (with the old one's permissions; a symbolic link keeps pointing where it
// did). A failure at any point leaves the old file exactly as it was. Only
// when the directory cannot take a new file (the file itself being writable)
// is the file rewritten in place.
Status replaceFile(const std::string& path, std::string_view bytes);

// Creates a file that must not exist yet, writes the bytes and flushes the file
// and its directory to the disk. A failure removes what was created.
Status createNewFile(const std::string& path, std::string_view bytes);

// Writes all bytes at the descriptor's current offset, retrying short writes
// and interruptions. Returns how many bytes went out; err is the errno of the
// failure when fewer than all did.
size_t writeAll(int fd, std::string_view bytes, int& err);

// Flushes a directory's entries (a file created or renamed in it) to the disk.
Status syncDirectoryOf(const std::string& path);

}  // namespace fbx
