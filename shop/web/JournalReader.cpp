#include "JournalReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fbx::shop::web {

namespace {

constexpr std::size_t kBlock = 64 * 1024;
// A line longer than this is no record of ours and is passed over.
constexpr std::size_t kLongestLine = 1 << 20;

std::string upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string field(const nlohmann::json& record, const char* name) {
    auto it = record.find(name);
    return it != record.end() && it->is_string() ? it->get<std::string>() : std::string();
}

}  // namespace

bool JournalFilter::matches(const nlohmann::json& r) const {
    if (!machine.empty() && field(r, "machine") != machine) return false;
    if (!direction.empty() && field(r, "direction") != direction) return false;
    if (!outcome.empty() && field(r, "outcome") != outcome) return false;
    if (!program.empty()) {
        std::string file = field(r, "file");
        file = file.substr(file.rfind('/') == std::string::npos ? 0 : file.rfind('/') + 1);
        if (upper(file).find(upper(program)) == std::string::npos) return false;
    }
    return true;
}

bool JournalFilter::mayMatch(std::string_view line) const {
    for (const std::string* value : {&machine, &direction, &outcome}) {
        if (!value->empty() && line.find(*value) == std::string_view::npos) return false;
    }
    return true;
}

JournalPage readJournalPage(const std::string& path, const JournalFilter& filter,
                            std::int64_t before, std::size_t limit, std::int64_t maxScan) {
    JournalPage page;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return page;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return page;
    }
    // Bytes [pos, pos + data.size()) are read and not yet taken apart; data
    // ends where the newest line not yet taken ends.
    std::int64_t pos = before < 0 || before > st.st_size ? st.st_size : before;
    std::string data;
    std::int64_t scanned = 0;
    // The block of the file before pos; moves pos back over it.
    auto readBack = [&](std::string& block) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(pos, kBlock));
        block.assign(n, '\0');
        if (::pread(fd, block.data(), n, pos - static_cast<std::int64_t>(n)) !=
            static_cast<ssize_t>(n))
            return false;
        pos -= static_cast<std::int64_t>(n);
        scanned += static_cast<std::int64_t>(n);
        return true;
    };
    bool skipping = false;  // in a line too long to be a record
    while (page.records.size() < limit) {
        if (!data.empty() && data.back() == '\n') data.pop_back();
        const std::size_t lf = data.rfind('\n');
        if (lf == std::string::npos && pos > 0 && !skipping && data.size() <= kLongestLine &&
            scanned < maxScan) {
            std::string block;
            if (!readBack(block)) break;
            data.insert(0, block);
            continue;
        }
        if (lf == std::string::npos && pos > 0) {
            if (scanned >= maxScan) break;  // the page ends here; go on from this line later
            // Too long: drop what is read of it and look for its start.
            skipping = true;
            data.clear();
            std::string block;
            if (!readBack(block)) break;
            const std::size_t start = block.rfind('\n');
            if (start != std::string::npos) {
                data = block.substr(0, start + 1);
                skipping = false;
            }
            continue;
        }
        const std::size_t start = lf == std::string::npos ? 0 : lf + 1;
        if (!skipping && filter.mayMatch(std::string_view(data).substr(start))) {
            nlohmann::json record = nlohmann::json::parse(data.begin() + static_cast<long>(start),
                                                          data.end(), nullptr, false);
            if (record.is_object() && filter.matches(record))
                page.records.push_back(std::move(record));
        }
        skipping = false;
        data.resize(start);
        if (lf == std::string::npos) break;  // the journal's first line
    }
    ::close(fd);
    const std::int64_t next = pos + static_cast<std::int64_t>(data.size());
    page.before = next > 0 ? next : -1;
    return page;
}

}  // namespace fbx::shop::web
