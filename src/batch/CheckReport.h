#pragma once

#include "engine/Prompt.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tollavar {

// What a dry run of the Convert command met, per index file, in the order a report lists it.
enum class CheckKind
{
    MissingImage,     // the run asks "Source File is Missing"
    TakenDestination, // numbered with Allow Duplicates, else the run asks "File Exists"
    Question,         // any other question the run asks, and waits it gives up
    Stop,             // an error that ends the file's conversion
    FullText,         // a full-text file that travels with its image
};
inline constexpr size_t kCheckKindCount = 5;

// Shown per kind; the rest are counted.
inline constexpr size_t kCheckExamples = 20;

// One finding as it was met; the report words it.
struct CheckExample
{
    enum class What
    {
        Message,      // the run showed `caption` and `text`; `answer` when it asked
        NumberedName, // the place `path` is taken: the image would get a numbered name
        FullTextFile, // the full-text file `path` travels with its image
    };
    long line = 0; // line number in the index file, from 1; 0 when the run was not at a line
    What what = What::Message;
    std::string path = {};
    std::string caption = {};
    std::string text = {};   // as the message has it, line breaks and all
    std::string answer = {}; // empty when the message asks nothing
    long waitSeconds = 0;    // the run waits up to this long before it asks (a busy file or datagroup)
    MessageKind kind = MessageKind::Plain;
};

struct CheckFindings
{
    long count = 0;
    std::vector<CheckExample> examples;

    void add(CheckExample example);
};

struct IndexFileCheck
{
    std::string path;
    std::string encoding;
    long lines = 0;
    long documents = 0;
    long firstDocId = 0; // the DOCIDs its documents would take (none when documents is 0)
    long lastDocId = 0;
    bool converted = false;
    // The run comes to this file; false for one it would reach only had it not stopped before.
    bool reached = true;
    // What the run meets in it up to its stop, and what the check found beyond.
    std::array<CheckFindings, kCheckKindCount> findings;
    std::array<CheckFindings, kCheckKindCount> pastStop;

    const CheckFindings& operator[](CheckKind kind) const { return findings[static_cast<size_t>(kind)]; }
    CheckFindings& operator[](CheckKind kind) { return findings[static_cast<size_t>(kind)]; }
    const CheckFindings& past(CheckKind kind) const { return pastStop[static_cast<size_t>(kind)]; }
    CheckFindings& past(CheckKind kind) { return pastStop[static_cast<size_t>(kind)]; }
};

// Where the unattended run stops: the message it stops with, and where it meets it.
struct CheckStop
{
    std::string indexFile; // empty: outside any index file's conversion
    long line = 0;         // 0: not at a line
    std::string caption;
    std::string text;
};

// One message of the run, as the unattended run would have met it.
struct CheckMessage
{
    std::string caption;
    std::string text;
    std::string answer;
    bool question = false; // it asks (or waits); an unattended run ends with status 1 after it
    bool stop = false;     // an error message
    long waitSeconds = 0;  // the run waits up to this long before it asks (a busy file or datagroup)
    MessageKind kind = MessageKind::Plain;
    // What recovery would do, for the report to tell as not yet done.
    std::shared_ptr<const RecoveryFacts> recovery = nullptr;
};

struct CheckReport
{
    std::string configFile;
    std::string datagroupFolder; // empty when it cannot be composed
    bool datagroupExists = false;
    bool xmlExists = false;
    std::optional<long> nextDocId;
    long lastDocIdAfter = 0;
    std::optional<long> maxFiles;
    bool wouldPassMaximum = false;
    bool allowDuplicates = false;
    // The datagroup had no lock file to take without writing one, so it was read unlocked: a conversion
    // may be running meanwhile.
    bool readUnlocked = false;
    // Messages met outside any index file's conversion: recovery, the lock, the command's own failures.
    std::vector<CheckMessage> commandMessages;
    // What the command says besides its messages (nothing matched, a file left for the next run).
    std::vector<std::string> notices;
    // What it would change.
    long imagesMoved = 0;
    long fullTextsMoved = 0;
    long foldersCreated = 0;
    long filesDeleted = 0;
    std::vector<std::string> filesWritten;
    std::vector<IndexFileCheck> files;
    // Where the run stops, if it does; the check goes on past it, to the end of every selected file.
    std::optional<CheckStop> stop;
    // Found past the stop outside any index file (a marker or a removal refused).
    CheckFindings commandPastStop;
    // Every message, in order, wherever it was met.
    std::vector<CheckMessage> messages;
    // The run would end with status 0: to its end, every file converted, every save made.
    bool runSucceeds = false;

    // Questions and stops the conversion would meet, plus one for a run that would not succeed without
    // any; 0 means it would run through unattended.
    long blockingCount() const;
    // Problems the check found past the stop: the run would meet them once the stop is mended.
    long pastStopCount() const;
    int exitStatus() const { return blockingCount() == 0 ? 0 : 1; }
};

} // namespace tollavar
