#include "filetools/Failure.h"

#include <cerrno>
#include <cstring>

namespace tollavar {

Failure::Failure(ErrorCode code, std::string source, std::string description, std::string subject)
    : m_code(code), m_source(std::move(source)), m_description(std::move(description)), m_subject(std::move(subject))
{
}

ErrorCode errorCodeForErrno(int errnoValue)
{
    switch (errnoValue) {
    case ENOENT:
        return ErrorCode::FileNotFound;
    case ENOTDIR:
        return ErrorCode::PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return ErrorCode::PermissionDenied;
    case EEXIST:
    case ENOTEMPTY:
        return ErrorCode::FileAlreadyExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return ErrorCode::DiskFull;
    case EIO:
    case EISDIR:
    case EBUSY:
    case ENAMETOOLONG:
    case ELOOP:
    case EXDEV:
        return ErrorCode::PathFileAccess;
    default:
        return ErrorCode::InvalidCall;
    }
}

static const char* reasonFor(int errnoValue)
{
    switch (errorCodeForErrno(errnoValue)) {
    case ErrorCode::FileNotFound:
        return "File not found";
    case ErrorCode::PathNotFound:
        return "Path not found";
    case ErrorCode::PermissionDenied:
        return "Permission denied";
    case ErrorCode::FileAlreadyExists:
        return "File already exists";
    case ErrorCode::DiskFull:
        return "Disk full";
    case ErrorCode::PathFileAccess:
        return "Path/File access error";
    default:
        return nullptr;
    }
}

Failure systemFailure(int errnoValue, std::string_view source, std::string_view path)
{
    const char* reason = reasonFor(errnoValue);
    std::string description = reason ? reason : std::strerror(errnoValue);
    description += ": ";
    description += path;
    return Failure(errorCodeForErrno(errnoValue), std::string(source), std::move(description), std::string(path));
}

} // namespace tollavar
