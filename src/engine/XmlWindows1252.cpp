#include "engine/XmlWindows1252.h"

#include "filetools/Windows1252.h"

#include <libxml/parser.h>

namespace tollavar {

namespace {

// windows-1252 bytes to UTF-8. Every byte has a character, so this never fails; it stops when the
// output has no room for the next character.
int decodeWindows1252(unsigned char* out, int* outlen, const unsigned char* in, int* inlen)
{
    if (!out || !outlen || !inlen)
        return -1;
    if (!in) {
        *outlen = 0;
        *inlen = 0;
        return 0;
    }
    unsigned char* o = out;
    unsigned char* const oEnd = out + *outlen;
    const unsigned char* i = in;
    const unsigned char* const iEnd = in + *inlen;
    while (i < iEnd) {
        const char32_t cp = cp1252::toUnicode(*i);
        if (cp < 0x80) {
            if (o >= oEnd)
                break;
            *o++ = static_cast<unsigned char>(cp);
        } else if (cp < 0x800) {
            if (oEnd - o < 2)
                break;
            *o++ = static_cast<unsigned char>(0xC0 | (cp >> 6));
            *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        } else {
            if (oEnd - o < 3)
                break;
            *o++ = static_cast<unsigned char>(0xE0 | (cp >> 12));
            *o++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
            *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        }
        ++i;
    }
    *outlen = static_cast<int>(o - out);
    *inlen = static_cast<int>(i - in);
    return *outlen;
}

// UTF-8 to windows-1252. A character without a byte (or broken UTF-8) stops the conversion with -2
// and the counts up to it, as libxml2 expects, so that it can write a character reference instead.
// A sequence cut off at the end of the input is left for the next call.
int encodeWindows1252(unsigned char* out, int* outlen, const unsigned char* in, int* inlen)
{
    if (!out || !outlen || !inlen)
        return -1;
    if (!in) {
        *outlen = 0;
        *inlen = 0;
        return 0;
    }
    unsigned char* o = out;
    unsigned char* const oEnd = out + *outlen;
    const unsigned char* i = in;
    const unsigned char* const iEnd = in + *inlen;
    int result = 0;
    while (i < iEnd && o < oEnd) {
        const unsigned char lead = *i;
        if (lead < 0x80) {
            *o++ = lead;
            ++i;
            continue;
        }
        const long trailing = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (trailing > 0 && iEnd - i <= trailing && lead < 0xF8) {
            bool truncated = true;
            for (const unsigned char* t = i + 1; t < iEnd; ++t)
                truncated = truncated && (*t & 0xC0) == 0x80;
            if (truncated)
                break;
        }
        const std::string_view rest(reinterpret_cast<const char*>(i), static_cast<size_t>(iEnd - i));
        size_t pos = 0;
        const char32_t cp = utf8::next(rest, pos);
        const int byte = cp == 0xFFFFFFFF ? -1 : cp1252::fromUnicode(cp);
        if (byte < 0) {
            result = -2;
            break;
        }
        *o++ = static_cast<unsigned char>(byte);
        i += pos;
    }
    *outlen = static_cast<int>(o - out);
    *inlen = static_cast<int>(i - in);
    return result < 0 ? result : *outlen;
}

} // namespace

xmlCharEncodingHandlerPtr xmlWindows1252Handler()
{
    static xmlCharEncodingHandlerPtr handler = [] {
        xmlInitParser();
        // Registers itself; lookups by name (any case) then find it before iconv is asked.
        return xmlNewCharEncodingHandler(kXmlWindows1252, decodeWindows1252, encodeWindows1252);
    }();
    return handler;
}

} // namespace tollavar
