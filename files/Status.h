#pragma once

#include <string>
#include <utility>

namespace fbx {

// The outcome of an operation that can fail: a small closed set of kinds
// plus a message an operator can act on (a path, the system's reason).
// A partial result is a count, never a Status.
class Status {
public:
    enum class Code { Ok, NothingWaiting, PortLost, Refused, FileError };

    Status() = default;
    static Status ok() { return {}; }
    static Status nothingWaiting() { return Status(Code::NothingWaiting, {}); }
    static Status portLost(std::string message) { return Status(Code::PortLost, std::move(message)); }
    static Status refused(std::string message) { return Status(Code::Refused, std::move(message)); }
    static Status fileError(std::string message) { return Status(Code::FileError, std::move(message)); }

    bool isOk() const { return m_code == Code::Ok; }
    Code code() const { return m_code; }
    const std::string& message() const { return m_message; }

private:
    Status(Code code, std::string message) : m_code(code), m_message(std::move(message)) {}

    Code m_code = Code::Ok;
    std::string m_message;
};

// errno turned into text, with the path it concerns: "PATH: reason".
std::string describeErrno(const std::string& path, int err);

}  // namespace fbx
