#pragma once

#include <libxml/encoding.h>

namespace tollavar {

// The encoding name that DATAGRP.XML declares, and under which our handler is registered.
inline constexpr char kXmlWindows1252[] = "windows-1252";

// libxml2's handler for windows-1252, by our own table. glibc's iconv stops at the five bytes the code
// page leaves undefined and libxml2's own table cuts the document short there; ours reads them as the
// control characters of the same number and writes those back as the same bytes, so every file round
// trips. On output a character windows-1252 lacks is refused, which libxml2 turns into a numeric
// character reference. The first call registers the handler with libxml2 (not thread-safe); later
// calls return the same handler.
xmlCharEncodingHandlerPtr xmlWindows1252Handler();

} // namespace tollavar
