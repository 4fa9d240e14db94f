#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace tollavar {

// Error numbers that users of the classic program recognise; every platform failure maps onto one.
namespace ErrorCode {
constexpr int InvalidCall = 5;
constexpr int FileNotFound = 53;
constexpr int FileAlreadyExists = 58;
constexpr int DiskFull = 61;
constexpr int PermissionDenied = 70;
constexpr int PathFileAccess = 75;
constexpr int PathNotFound = 76;
constexpr int DialogCancelled = 32755;
} // namespace ErrorCode

// The core's one error value: a number, the source that raised it and a description. Commands and
// the conversion run catch it where they report failures; nothing else swallows it.
class Failure : public std::exception
{
public:
    Failure(int code, std::string source, std::string description);

    int code() const noexcept { return m_code; }
    const std::string& source() const noexcept { return m_source; }
    const std::string& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

private:
    int m_code;
    std::string m_source;
    std::string m_description;
};

// Classic error number for an errno value.
int errorCodeForErrno(int errnoValue);

// A platform failure: "<reason>: <path>", raised by the operation named in `source`.
Failure systemFailure(int errnoValue, std::string_view source, std::string_view path);

} // namespace tollavar
