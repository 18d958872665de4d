#include "QueueStore.h"

#include <sys/stat.h>
#include <algorithm>
#include <cerrno>

#include <nlohmann/json.hpp>

#include "FileIo.h"

namespace fbx::shop::web {

QueueStore::QueueStore(std::string path) : m_path(std::move(path)) {}

Status QueueStore::load() {
    m_sends.clear();
    std::string text;
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0 && errno == ENOENT) return Status::ok();
    if (Status st = readWholeFile(m_path, text); !st.isOk()) return st;
    const nlohmann::json doc = nlohmann::json::parse(text, nullptr, false);
    if (!doc.is_object() || !doc.contains("sends") || !doc["sends"].is_array())
        return Status::fileError(m_path + ": not a queue of ferobrixlan-server");
    for (const nlohmann::json& item : doc["sends"]) {
        if (!item.is_object() || !item.value("id", nlohmann::json()).is_number_unsigned()) continue;
        QueuedSend s;
        s.id = item["id"].get<std::uint64_t>();
        s.machine = item.value("machine", "");
        s.program = item.value("program", "");
        s.queued = item.value("queued", std::time_t{0});
        if (s.machine.empty() || s.program.empty()) continue;
        m_nextId = std::max(m_nextId, s.id + 1);
        m_sends.push_back(s);
    }
    return Status::ok();
}

Status QueueStore::save() {
    nlohmann::json sends = nlohmann::json::array();
    for (const QueuedSend& s : m_sends)
        sends.push_back(
            {{"id", s.id}, {"machine", s.machine}, {"program", s.program}, {"queued", s.queued}});
    const nlohmann::json doc = {{"sends", sends}};
    Status st = replaceFile(
        m_path, doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    m_writeProblem = st.isOk() ? std::string() : st.message();
    return st;
}

void QueueStore::changed(const std::string& machine) {
    if (m_changed) m_changed(machine);
}

QueuedSend* QueueStore::find(std::uint64_t id) {
    auto it = std::find_if(m_sends.begin(), m_sends.end(),
                           [&](const QueuedSend& s) { return s.id == id; });
    return it == m_sends.end() ? nullptr : &*it;
}

std::vector<QueuedSend> QueueStore::list(const std::string& machine) const {
    std::vector<QueuedSend> out;
    std::copy_if(m_sends.begin(), m_sends.end(), std::back_inserter(out),
                 [&](const QueuedSend& s) { return machine.empty() || s.machine == machine; });
    return out;
}

std::size_t QueueStore::length(const std::string& machine) const {
    return static_cast<std::size_t>(std::count_if(
        m_sends.begin(), m_sends.end(), [&](const QueuedSend& s) { return s.machine == machine; }));
}

Status QueueStore::add(const std::string& machine, const std::string& program, QueuedSend& added) {
    QueuedSend s;
    s.id = m_nextId;
    s.machine = machine;
    s.program = program;
    s.queued = std::time(nullptr);
    m_sends.push_back(s);
    if (Status st = save(); !st.isOk()) {
        m_sends.pop_back();
        return st;
    }
    ++m_nextId;
    added = s;
    changed(machine);
    return Status::ok();
}

QueueStore::Withdrawn QueueStore::withdraw(const std::string& machine, std::uint64_t id) {
    QueuedSend* s = find(id);
    if (!s || s->machine != machine) return Withdrawn::Unknown;
    if (s->state == QueuedSend::State::Sending) return Withdrawn::AlreadySending;
    std::erase_if(m_sends, [&](const QueuedSend& q) { return q.id == id; });
    save();
    changed(machine);
    return Withdrawn::Done;
}

std::optional<QueuedSend> QueueStore::take(const std::string& machine) {
    for (QueuedSend& s : m_sends) {
        if (s.machine != machine) continue;
        if (s.state != QueuedSend::State::Waiting) return std::nullopt;  // one at a time
        s.state = QueuedSend::State::Taken;
        changed(machine);
        return s;
    }
    return std::nullopt;
}

bool QueueStore::stillQueued(std::uint64_t id) const {
    return std::any_of(m_sends.begin(), m_sends.end(),
                       [&](const QueuedSend& s) { return s.id == id; });
}

void QueueStore::sending(std::uint64_t id) {
    if (QueuedSend* s = find(id)) {
        s->state = QueuedSend::State::Sending;
        changed(s->machine);
    }
}

void QueueStore::putBack(std::uint64_t id) {
    if (QueuedSend* s = find(id)) {
        s->state = QueuedSend::State::Waiting;
        changed(s->machine);
    }
}

void QueueStore::finished(std::uint64_t id) {
    QueuedSend* s = find(id);
    if (!s) return;
    const std::string machine = s->machine;
    std::erase_if(m_sends, [&](const QueuedSend& q) { return q.id == id; });
    save();
    changed(machine);
}

}  // namespace fbx::shop::web
