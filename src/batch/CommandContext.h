#pragma once

#include "batch/ConfigFileState.h"
#include "engine/ConversionContext.h"
#include "engine/Prompter.h"

#include <string>

namespace tollavar {

class FileDialog;
class RunRecordSink;
class ConversionObserver;
class CommandPorts;
class LocalLockWarnings;

// What the window's commands (Convert, Open, Save, Save As, New) work on. The window owns every
// piece for the program's life; tests build one from fakes.
struct CommandContext
{
    ConversionSettings& settings;
    std::string& configFile;
    RunFlags& flags;
    const FileTools& fileTools;
    Prompter& prompter;
    ConversionHost& host;
    FileDialog& dialog;
    // The words of every message, for what must record a message without showing it (the run history,
    // a check's report) or carry it in a failure.
    const MessageWords& words;
    // A hot folder removes every index file it converted whatever the configuration says; an interrupted
    // run must then be finished the same way, or its index file would be converted twice.
    bool alwaysRemoveProcessed = false;
    // What the configuration file held when the settings last read or wrote it.
    ConfigFileState configFileState = {};
    // Where each Convert command's record goes (the run history); none: no record is kept.
    RunRecordSink* runRecords = nullptr;
    // Shown the conversions' progress (a terminal line); none: nobody watches.
    ConversionObserver* progress = nullptr;
    // How the command was started, as the record names it: "window", "unattended", "watch".
    std::string runMode = "window";
    // What the command acts through; none: the disk and the datagroup's real lock.
    CommandPorts* ports = nullptr;
    // A hot folder keeps its settings in memory while its configuration file does not read as one (an
    // operator emptied, cut short or removed it): saving over it would undo the operator's work.
    bool sparesUnreadableConfigFile = false;
    // What has been said about mounts whose locks keep out only this machine's runs; none: each
    // command says it once itself.
    LocalLockWarnings* localLocks = nullptr;

    ConversionContext conversion() const { return ConversionContext{settings, flags, fileTools, prompter, host}; }
};

} // namespace tollavar
