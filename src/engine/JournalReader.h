#pragma once

#include "engine/JournalFormat.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// What a journal says, read back by the next command.
struct JournalContents
{
    // A move, or a replaced file set aside (`from` the datagroup file, `to` its hidden name), in the
    // order they were recorded.
    struct Step
    {
        bool setAside = false;
        std::string from;
        std::string to;
        bool copyBegun = false; // the move copies: a hidden partial copy may lie beside `to`
        bool copyDone = false;  // the copy was whole under its name before the source was deleted
    };
    std::string datagroupFolder;
    std::string workingFolder;
    std::string indexFile;
    std::optional<FileIdentity> indexIdentity;
    std::string imageFolder;
    std::string xmlFile;
    std::optional<Fingerprint> original; // none: DATAGRP.XML was missing or empty
    bool removeProcessed = false;
    std::string configFile;
    files::ProcessStamp writer;
    std::vector<Step> steps; // every move that may have been made, in order
    bool saving = false;
    long lastDocId = 0;
    std::optional<Fingerprint> saved; // what DATAGRP.XML holds once the save is done
    std::string saveTarget;           // the file the save wrote (a link's target)
    bool keptOriginal = false;
    std::string failedOn;      // the date the run failed and said so; empty: it was interrupted
    bool commandEnded = false; // the command was past its last file: marker, advance and removal were left
};

// Reads a journal's bytes. The records end at the first one that is cut or damaged: everything after
// it was never done. Raises a Failure (naming `path`) when the head is damaged or incomplete.
JournalContents parseRunJournal(std::string_view bytes, const std::string& path);

} // namespace tollavar
