#include "engine/ExistingXmlDecoding.h"

#include "engine/DatagroupXmlText.h"
#include "filetools/Failure.h"
#include "filetools/Windows1252.h"

#include <cerrno>
#include <iconv.h>
#include <optional>
#include <utility>

namespace tollavar {

using datagroupxml::isBlankChar;

namespace {

[[noreturn]] void refuse(std::string reason)
{
    throw Failure(ErrorCode::InvalidCall, datagroupxml::kSource, std::move(reason));
}

std::string upperEncodingName(std::string_view name)
{
    std::string upper;
    for (char c : name)
        if (c != '-' && c != '_')
            upper.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    return upper;
}

// The encoding that the XML declaration at the start of the bytes names; empty without one.
std::string declaredEncoding(std::string_view bytes)
{
    if (bytes.size() < 6 || bytes.substr(0, 5) != "<?xml" || !isBlankChar(static_cast<xmlChar>(bytes[5])))
        return {};
    const std::string_view declaration = bytes.substr(0, bytes.find("?>"));
    size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return {};
    at += 8;
    while (at < declaration.size() && isBlankChar(static_cast<xmlChar>(declaration[at])))
        ++at;
    if (at >= declaration.size() || declaration[at] != '=')
        return {};
    ++at;
    while (at < declaration.size() && isBlankChar(static_cast<xmlChar>(declaration[at])))
        ++at;
    if (at >= declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return {};
    const size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos)
        return {};
    return std::string(declaration.substr(at + 1, end - at - 1));
}

// Bytes in an encoding glibc knows, to UTF-8, in one piece. Nothing when the encoding is unknown or
// the bytes are not in it.
std::optional<std::string> decodeWithIconv(const std::string& encoding, std::string_view bytes)
{
    iconv_t converter = iconv_open("UTF-8", encoding.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out;
    out.assign(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    size_t used = 0;
    bool ok = true;
    while (inLeft > 0) {
        char* o = out.data() + used;
        size_t outLeft = out.size() - used;
        const size_t result = iconv(converter, &in, &inLeft, &o, &outLeft);
        used = out.size() - outLeft;
        if (result == static_cast<size_t>(-1)) {
            if (errno != E2BIG) {
                ok = false;
                break;
            }
            out.resize(out.size() * 2);
        }
    }
    iconv_close(converter);
    if (!ok)
        return std::nullopt;
    out.resize(used);
    return out;
}

} // namespace

std::string decodeExisting(std::string_view bytes)
{
    std::string declared = declaredEncoding(bytes);
    const bool marked = bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF";
    const bool utf16 = bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF");
    if (marked) {
        bytes.remove_prefix(3);
        declared = declaredEncoding(bytes);
        const std::string upper = upperEncodingName(declared);
        if (!declared.empty() && upper != "UTF8") {
            refuse("the file begins with a UTF-8 mark but declares the encoding " + declared);
        }
        declared = "UTF-8";
    }
    if (utf16)
        declared = "UTF-16";
    const std::string upper = upperEncodingName(declared);
    if (declared.empty() || upper == "UTF8") {
        if (!utf8::isValid(bytes)) {
            refuse(std::string("the file's bytes are not UTF-8, the encoding it ") +
                   (declared.empty() ? "has without a declaration" : "declares"));
        }
        return std::string(bytes);
    }
    if (upper == "WINDOWS1252" || upper == "CP1252") {
        // Every byte has a character here; an all-ASCII file (the usual one) needs no decoding.
        return utf8::hasNonAscii(bytes) ? cp1252::decode(bytes) : std::string(bytes);
    }
    std::optional<std::string> decoded = decodeWithIconv(declared, bytes);
    if (!decoded)
        refuse("the file's bytes are not in the encoding it declares, " + declared);
    return std::move(*decoded);
}

} // namespace tollavar
