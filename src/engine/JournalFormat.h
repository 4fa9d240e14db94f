#pragma once

#include "filetools/JournalFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The layout of the recovery journal, shared by its writer and its reader (docs/journal-format.md).
//
// A journal is text: a head of "name<TAB>value..." lines ending in a "head" line that carries the
// checksum of everything before it, then one record per line, each ending in a TAB and the checksum of
// the record before it. Texts are escaped (backslash, TAB, LF, CR). A record that is cut, damaged or
// followed by nothing but zeros ends the journal: records are written ahead of what they describe and
// synced before it happens, so anything after the last whole record was never done.
namespace tollavar::journal {

inline constexpr std::string_view kMagic = "TOLLAVAR RECOVERY JOURNAL 2\n";

// Record types.
inline constexpr char kMove = 'M';         // shared length and rest of the source, then of the destination
inline constexpr char kNotMade = 'N';      // the move recorded last did not happen
inline constexpr char kSetAside = 'A';     // a replaced file renamed to a hidden name beside it
inline constexpr char kSaving = 'S';       // last DOCID, new size, new fingerprint, the file written
inline constexpr char kKeptOriginal = 'K'; // the original bytes are kept for an in-place save
inline constexpr char kFailed = 'X';       // the run failed and said so; the date it did
inline constexpr char kCopyBegun = 'C';    // a move copies into the destination named
inline constexpr char kCopyDone = 'D';     // that copy is whole under its name; the source goes next
inline constexpr char kEnded = 'E';        // the command is past its last file: marker and advance follow

// Names in the datagroup folder.
inline constexpr std::string_view kJournalName = ".DATAGRP.JOURNAL";
inline constexpr std::string_view kStagingSuffix = ".new";
inline constexpr std::string_view kKeptOriginalName = ".DATAGRP.XML.kept";
inline constexpr std::string_view kSetAsideMark = ".set-aside";

uint32_t checksum(const char* data, size_t size);
std::string hex(uint64_t value, int digits);
void appendEscaped(std::string& out, std::string_view text);
std::optional<std::string> unescape(std::string_view text);
std::optional<uint64_t> unsignedNumber(std::string_view text, int base = 10);
std::optional<int64_t> signedNumber(std::string_view text);

} // namespace tollavar::journal

namespace tollavar {

using files::FileIdentity;
using files::identityOf;

// Size and a 64-bit hash of a file's bytes: enough to tell DATAGRP.XML as it was from any other text.
struct Fingerprint
{
    uint64_t size = 0;
    uint64_t hash = 0;
    bool operator==(const Fingerprint&) const = default;
};
Fingerprint fingerprintOf(std::string_view bytes);

} // namespace tollavar
