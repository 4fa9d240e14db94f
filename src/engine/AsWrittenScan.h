#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tollavar {

// A file as this program writes it, recognised byte by byte: its declaration, elements with ASCII names
// and double-quoted attributes, text whose every reference is one the serializer would write again, and
// layout (CR LF and tabs) only between tags. For such a file, reading it and writing it back is taking
// out its layout and writing an element that held nothing but layout as an empty one, so the bytes
// need not become a tree at all. Anything else is left to the parser (`ok` false).
struct AsWritten
{
    bool ok = false;
    size_t length = 0;           // of the output
    size_t documentsContent = 0; // where DOCUMENTS' content ends in the output: its end tag, or its "/>"
    bool documentsSelfClosed = false;
    std::string_view documentsName;
    bool documentsHadChild = false;
    bool documentsEndsInElement = false;
    bool documentsHoldElement = false;
    long highestDocId = 0;
};

// `in` holds the file from its root on; `out` has room for as many bytes.
AsWritten scanAsWritten(std::string_view in, char* out);

// Why the UTF-8 text is not well formed XML (the parser's first complaint), found without building
// anything; nothing when it is well formed.
std::optional<std::string> whyNotWellFormed(std::string_view text);

} // namespace tollavar
