#pragma once

#include "engine/JournalFormat.h"
#include "engine/JournalReader.h"
#include "engine/MoveRecorder.h"
#include "filetools/JournalFile.h"

#include <string>
#include <string_view>

namespace tollavar {

// The recovery journal of one index file's conversion, a hidden file in the datagroup folder. Its
// head (written whole, before DATAGRP.XML is opened) names the index file, the image folder and
// DATAGRP.XML as they were, and the process that writes it; then every move is recorded before it is
// made, and the save before it happens. The writer holds a lock on the file for as long as it lives,
// so that no recovery takes a live run's journal for a dead one. The Convert command removes it once
// the file's bookkeeping is durable; a journal found at the start of a command belongs to a run that
// was interrupted, or that failed and left its images to be put back.
//
// Records go through a shared mapping of the file: they are in the kernel's page cache (and so survive
// the process being killed) without a system call each; the placer makes them durable in batches
// before it makes the batch's moves.
class RunJournal : public MoveRecorder
{
public:
    static std::string pathFor(const std::string& datagroupFolder);
    // Where the journal's first lines are written before they take its name: a run killed in between
    // leaves this file, and only this one, for the next run to remove.
    static std::string startingPathFor(const std::string& datagroupFolder);
    // Where the original DATAGRP.XML is kept while a save writes into the file itself.
    static std::string keptOriginalPathFor(const std::string& datagroupFolder);

    RunJournal(std::string datagroupFolder, std::string configFile, bool removeProcessed);
    ~RunJournal() override;
    RunJournal(const RunJournal&) = delete;
    RunJournal& operator=(const RunJournal&) = delete;

    // `originalText` empty: DATAGRP.XML is missing, or its empty file is being replaced by a new one.
    void begin(const std::string& indexFile, const std::string& xmlFile, const std::string& imageFolder,
               std::string_view originalText);
    bool begun() const { return m_file.isOpen(); }
    // What the journal says so far, as the next run would read it back.
    JournalContents contents() const;

    void beforeMove(std::string_view from, std::string_view to) override;
    void moveNotMade() override;
    void beforeSetAside(std::string_view path, std::string_view aside) override;
    void makeDurable() override;
    void copyBegun(const files::FileAt& from, const files::FileAt& to) override;
    void copyDone(const files::FileAt& from, const files::FileAt& to) override;
    // Before DATAGRP.XML is replaced: the last DOCID tells a later recovery whether the datagroup is full,
    // the fingerprint whether the save was reached, `target` where its temporary files lie.
    void markSaving(long lastDocId, const Fingerprint& newContent, const std::string& target);
    // Before a save writes into DATAGRP.XML itself: its bytes are kept whole beside it, so that a save cut
    // short can be undone.
    void keepOriginal(std::string_view originalText);
    void dropKeptOriginal();
    // The run failed, said so, and leaves its moves for the next run to put back.
    void markFailed();
    // The command has converted its last file: its marker and its advance follow, then this journal goes.
    void markCommandEnded();
    // The file's bookkeeping is done: the journal goes.
    void remove();

private:
    void append(char type, std::string_view first, std::string_view second);
    void appendTexts(char type, std::initializer_list<std::string_view> texts);
    static char* putPath(char* out, std::string_view path, std::string& previous);

    std::string m_datagroupFolder;
    std::string m_configFile;
    bool m_removeProcessed;
    std::string m_path;
    files::JournalFile m_file;
    char* m_map = nullptr;
    size_t m_used = 0;
    size_t m_capacity = 0;
    bool m_keptOriginal = false;
    std::string m_previousFrom; // as the caller gave them, separators unchanged
    std::string m_previousTo;
};

} // namespace tollavar
