#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace tollavar {

// Every way the program fails, by the number users of the classic program recognise. Every platform
// failure maps onto one of the last seven; the others are the program's own.
enum class ErrorCode : int
{
    InvalidCall = 5,
    Overflow = 6,
    OutOfMemory = 7,
    TypeMismatch = 13,
    UserInterrupt = 18,
    ImageFileExists = 21,
    SourceFileMissing = 23,
    InputPastEndOfFile = 62,
    FileNotFound = 53,
    FileAlreadyExists = 58,
    DiskFull = 61,
    PermissionDenied = 70,
    PathFileAccess = 75,
    PathNotFound = 76,
    DialogCancelled = 32755,
};

// The number a message shows for the code.
constexpr int errorNumber(ErrorCode code)
{
    return static_cast<int>(code);
}

// The core's one error value: what went wrong, the operation that raised it, a description, and the
// path or value at fault when there is one. Commands and the conversion run hand it up to the layer
// that shows it; nothing else swallows it.
class Failure : public std::exception
{
public:
    Failure(ErrorCode code, std::string source, std::string description, std::string subject = {});

    ErrorCode code() const noexcept { return m_code; }
    int number() const noexcept { return errorNumber(m_code); }
    const std::string& source() const noexcept { return m_source; }
    const std::string& description() const noexcept { return m_description; }
    // The path or value the failure is about ("" when it is about none); the description names it too.
    const std::string& subject() const noexcept { return m_subject; }
    const char* what() const noexcept override { return m_description.c_str(); }

private:
    ErrorCode m_code;
    std::string m_source;
    std::string m_description;
    std::string m_subject;
};

// Classic error number for an errno value.
ErrorCode errorCodeForErrno(int errnoValue);

// A platform failure: "<reason>: <path>", raised by the operation named in `source`.
Failure systemFailure(int errnoValue, std::string_view source, std::string_view path);

} // namespace tollavar
