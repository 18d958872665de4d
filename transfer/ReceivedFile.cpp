#include "ReceivedFile.h"

#include <chrono>
#include <filesystem>
#include <unistd.h>

#include "ConfigFile.h"

namespace fbx {

Status ReceivedFile::prepare() {
    m_appended = false;
    return writeWholeFile(m_path, "\r\n");
}

Status ReceivedFile::append(std::string_view text) {
    Status st = appendToFile(m_path, text, true);
    if (st.isOk()) m_appended = true;
    return st;
}

Status ReceivedFile::saveIncomplete(std::string_view text) {
    std::string withEnd(text);
    withEnd += "\r\n";
    if (m_appended) return appendToFile(m_path, withEnd, true);
    return writeWholeFile(m_path, withEnd);
}

std::string ReceivedFile::rescue(std::string_view text, std::string& error) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path dir = fs::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    const auto stamp = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    std::string name = fs::path(m_path).filename().string();
    if (name.empty()) name = "received";
    fs::path target = dir / ("ferobrixlan-rescue-" + std::to_string(stamp) + "-" +
                             std::to_string(getpid()) + "-" + name);
    Status st = writeWholeFile(target.string(), text);
    if (!st.isOk()) {
        error = st.message();
        return {};
    }
    return target.string();
}

}  // namespace fbx
