#pragma once

#include <string>
#include <vector>

namespace tollavar {

// Which of the program's messages this is, so that a prompter or a test can tell them apart by value
// rather than by their words. Plain is no message in particular (an empty one).
enum class MessageKind
{
    Plain,
    ConversionFailure,    // a conversion run stopped: its failure and stage
    UndoOffer,            // after a failure: put DATAGRP.XML back as it was read? Yes changes least
    MovedFilesStay,       // after the undo: `count` files already moved stay moved
    FieldListsDiffer,     // the field names and types are lists of different lengths
    ImagePathMissing,     // the field names have no ImagePath
    XmlInUseWait,         // another program holds DATAGRP.XML: asked again until it is free
    CorruptXml,           // an empty DATAGRP.XML: delete it?
    SourceMissing,        // an image (or its full-text file) at `path` is missing: skip it?
    ImageExists,          // the image's place `path` in the datagroup is taken: replace it?
    DatagroupBusyWait,    // another run holds the datagroup `path`: wait on?
    DatagroupBusyWaiting, // the wait itself, until the datagroup `path` is free
    DatagroupUnlockable,  // the datagroup `path` is on a file system without locks
    InterruptedRun,       // what recovery did with an earlier run's journal, or why it could not
    CommandFailure,       // the Convert command stopped
    ConfigOpenFailure,
    ConfigSaveFailure,
    ConfigMissing, // the configuration file `path` is not there
    StartupFailure,
    DatagroupNumberNotNumeric,
    ConversionStillRunning, // the window was asked to close during a conversion
    ManualNotFound,         // looked for in each of `paths`
    ManualNotOpened,        // `path` could not be opened, for `reason`
    WebSiteNotOpened,       // `path` could not be opened, for `reason`
    ConvertFinished,        // the window's summary: `paths` converted, `count` documents into `path`, `full`
};

// What recovery did with the journal an earlier run left in the datagroup, or why it did nothing.
struct RecoveryFacts
{
    enum class Outcome
    {
        Damaged,           // the journal could not be read: `reason`
        NotActedOn,        // the journal was read but not acted on: `refusal`
        FailedRunPutBack,  // a run that had failed (on `failedOn`) left images: put back
        PutBack,           // a run cut short before its save: its moves put back
        FinishedAfterSave, // a run cut short after its save: its remaining steps done
        FinishedCommand,   // a command cut short after its last file: its remaining steps done
        FailedAfterSave,   // a run that had failed (on `failedOn`) after its save: its remaining steps done
    };
    enum class IndexFileFate
    {
        Untouched,
        Removed,
        KeptChanged, // to be removed, but it changed since the run read it
    };
    // Why a journal that could be read was not acted on. `named` is what the journal names, `expected`
    // what it should have named.
    enum class Refusal
    {
        OtherDatagroup,           // written for the datagroup `named`, not for `expected`
        OtherXmlFile,             // it names the file `named` instead of `expected`
        OtherImageFolder,         // its image folder `named` is not the configuration's
        OwnSetAsideName,          // it sets `named` aside under a name the program does not give
        OtherSaveTarget,          // it saves DATAGRP.XML to `named`
        IndexFileChanged,         // its index file `named` is missing or has changed since
        IndexFileNotSelected,     // its index file `named` is not one the configuration converts
        OutsideFolder,            // `named` lies outside `expected`
        XmlChangedElsewhere,      // DATAGRP.XML was changed by someone else since
        XmlNeitherBeforeNorSaved, // DATAGRP.XML is neither as it was nor as the run saved it
    };

    Outcome outcome = Outcome::Damaged;
    std::string journalPath;
    std::string indexFile;
    std::string reason;                        // Damaged: why the journal could not be read, as the reader said
    Refusal refusal = Refusal::OtherDatagroup; // NotActedOn
    std::string named;
    std::string expected;
    std::string failedOn;
    long filesPutBack = 0; // images for FailedRunPutBack, every moved file for PutBack
    bool saveUndone = false;
    bool configSaved = false;
    IndexFileFate indexFileFate = IndexFileFate::Untouched;
    std::string advancedTo;              // the datagroup number a finished command advanced to, if it did
    std::vector<std::string> notPutBack; // files that could not be put back
    std::string keptAs;                  // where the journal was set aside; empty when it was removed
};

// What the core asks or tells the user: the message's kind and the values its words need. The words
// themselves are chosen above the core.
struct Prompt
{
    explicit Prompt(MessageKind messageKind = MessageKind::Plain) : kind(messageKind) {}

    MessageKind kind;
    std::string path;               // the file or folder the message is about
    std::string indexFile;          // the index file under conversion
    std::string reason;             // why something could not be done, as the system said it
    std::vector<std::string> paths; // further places: names found in other letter case, folders looked in
    long count = 0;
    RecoveryFacts recovery; // InterruptedRun only
    bool full = false;      // ConvertFinished: the datagroup was marked full
};

} // namespace tollavar
