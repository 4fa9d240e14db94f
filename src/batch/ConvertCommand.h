#pragma once

#include "batch/CommandContext.h"
#include "batch/RunRecord.h"

#include <functional>
#include <string>
#include <vector>

namespace tollavar {

struct ConvertOutcome
{
    bool ranToEnd = false;            // the submit marker was written and a full datagroup advanced
    bool allConverted = true;         // no selected index file failed to convert
    bool refused = false;             // another Convert command was still running
    bool configSaveFailed = false;    // a save of the configuration failed (and was reported)
    bool stoppedBetweenFiles = false; // a stop was honoured after a whole file: nothing was cut short
    // What the command has to say besides its messages: nothing matched, a file left for the next run.
    // The window shows each in its status bar; an unattended run writes them to standard error.
    std::vector<std::string> notices = {};
    // What the command did, as the run history keeps it (also handed to the context's record sink).
    RunRecord record = {};
};

// Converts one index file into a datagroup; convertIndexFile unless a test scripts it.
using IndexFileConverter =
    std::function<bool(ConversionContext&, const std::string& indexFile, const std::string& xmlFile,
                       const std::string& rootName, const std::string& documentName)>;

// Receives an index file that an item selects; returns false to stop.
using SelectedFileVisitor = std::function<bool(const std::string& file)>;

// The datagroup folder the settings name (the XML location's folder, the company ID and the number in
// four digits). Throws Failure when the number is not one.
std::string datagroupFolderPath(const ConversionSettings& settings);

// Calls `visit` for every index file that `item` selects now, in the order the Convert command takes
// them, without converting anything. False when `visit` stopped it. Throws Failure, as the command
// fails, when the item's folder cannot be listed.
bool forEachSelectedIndexFile(CommandContext& ctx, const std::string& item, const SelectedFileVisitor& visit);

// File, Convert File: converts every index file that indexFiles selects into the current datagroup, saves the
// configuration after each success, writes the submit marker and advances a full datagroup. Reports its
// own failures. A start while a command is running (the window keeps taking input during a conversion)
// is refused and does nothing.
ConvertOutcome convertCommand(CommandContext& ctx, const IndexFileConverter& convert = {});

// Moves the configuration on to the next datagroup number and saves it. False when the save failed (it
// was reported). Throws Failure when the number is not one or is the last.
bool advanceDatagroupNumber(CommandContext& ctx);

// The Run button.
ConvertOutcome runCommand(CommandContext& ctx);

} // namespace tollavar
