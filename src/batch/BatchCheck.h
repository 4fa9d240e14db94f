#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace tollavar {

struct CommandContext;

// The kinds of finding per index file, in the order a report lists them.
enum class CheckKind
{
    MissingImage,   // the run would ask "Source File is Missing"
    RefusedPath,    // the run would stop on the path
    DuplicateImage, // numbered with Allow Duplicates, else the run would ask "File Exists"
    ColumnCount,    // more or fewer columns than names: surplus ignored, missing ones left out
    XmlValue,       // a value XML cannot carry: the run would stop
    FullText,       // a full-text file that would travel with its image
};
inline constexpr size_t kCheckKindCount = 6;

// Shown per kind; the rest are counted.
inline constexpr size_t kCheckExamples = 20;

struct CheckExample
{
    long line = 0; // line number in the index file, from 1
    std::string text;
};

struct CheckFindings
{
    long count = 0;
    std::vector<CheckExample> examples;

    void add(long line, std::string text);
};

struct IndexFileCheck
{
    std::string path;
    std::string encoding;
    long lines = 0;
    long documents = 0;
    long firstDocId = 0; // the DOCIDs the file's documents would take
    long lastDocId = 0;
    std::array<CheckFindings, kCheckKindCount> findings;
    // Failures that would stop or fail this file's conversion, beyond the per-line findings.
    std::vector<std::string> problems;

    const CheckFindings& operator[](CheckKind kind) const { return findings[static_cast<size_t>(kind)]; }
    CheckFindings& operator[](CheckKind kind) { return findings[static_cast<size_t>(kind)]; }
};

struct BatchCheckReport
{
    std::string configFile;
    std::string datagroupFolder; // empty when it cannot be composed
    bool datagroupExists = false;
    bool xmlExists = false;
    bool xmlExtensible = false; // an existing DATAGRP.XML that a run can read and add to
    long lastDocIdBefore = 0;
    long nextDocId = 1;
    long lastDocIdAfter = 0;
    std::optional<long> maxFiles;
    bool allowDuplicates = false;
    // Failures and questions of the command itself (settings, folders, DATAGRP.XML).
    std::vector<std::string> problems;
    std::vector<IndexFileCheck> files;

    bool wouldPassMaximum() const { return maxFiles && lastDocIdAfter > *maxFiles; }
    // Questions and stops the conversion would meet; 0 means it would run through unattended.
    long blockingCount() const;
};

// Goes through every index file the Convert command would select, in its order, and reports what
// converting them would meet. Reads the settings as they stand; moves, creates and writes nothing.
BatchCheckReport CheckBatch(CommandContext& ctx);

// Whether a finding of this kind makes the run ask or stop, under the given Allow Duplicates switch.
bool IsBlocking(CheckKind kind, bool allowDuplicates);

} // namespace tollavar
