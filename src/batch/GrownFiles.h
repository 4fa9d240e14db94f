#pragma once

#include "engine/ConversionContext.h"
#include "engine/Notice.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tollavar {

// A station appends lines to an index file while the watch converts it. What was converted is kept,
// in a record of its own in the state folder, so that only the lines appended since are converted
// next, and the file removed once it has been converted whole; a watch started again reads the record.
// Without a state folder nothing is kept, and such a file is converted whole again.
class GrownFiles
{
public:
    struct Record
    {
        dev_t device = 0;
        ino_t inode = 0;
        long long convertedBytes = 0; // the file's bytes from its first on, as far as it was converted
        std::string fingerprint;      // of those bytes
        long long pendingBytes = 0;   // the end of the appended part under conversion; 0 when none
    };

    explicit GrownFiles(std::string stateFolder);

    // Converts `file`, or only its appended lines (without header handling) when its record says the
    // part before them was converted and that part is unchanged; a file rewritten since is converted
    // whole and said so in `notices`. When the file has outgrown what was converted, keeps the record.
    bool convert(ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                 const std::string& rootName, const std::string& documentName, std::vector<Notice>& notices);
    // The file is gone (removed once converted whole): so is its record.
    void forget(const std::string& file);

    std::optional<Record> find(const std::string& file) const;

    // What a look at `file` before its conversion must read: nothing when the whole file is new, else
    // the file of its appended lines (written for the look), empty when nothing was appended.
    std::optional<std::string> appendedPartToLook(const std::string& file);

private:
    std::string recordPath(const std::string& file) const;
    std::string appendedPartPath(const std::string& file) const;
    void keep(const std::string& file, const Record& record);
    // The record of `file` if it still describes the start of `bytes` (the file as it is now), brought
    // up to date with an appended part whose conversion finished while the watch was away.
    std::optional<Record> matchingRecord(const std::string& file, const std::string& bytes);
    bool convertWhole(ConversionContext& conversion, const std::string& file, const std::string& xmlFile,
                      const std::string& rootName, const std::string& documentName);

    std::string m_folder;
};

// Converts a file of appended lines: without header handling, since the header came before them.
bool convertAppendedPart(ConversionContext& conversion, const std::string& part, const std::string& xmlFile,
                         const std::string& rootName, const std::string& documentName);

// The watch's state folder: $XDG_STATE_HOME/tollavar/watch, or ~/.local/state/tollavar/watch; empty
// when neither can be named.
std::string defaultWatchStateFolder();

} // namespace tollavar
