#pragma once

#include <string>
#include <vector>

namespace tollavar {

// What a conversion run that ends before its save has left behind: every file it moved goes back to its
// source, every file it set aside returns to its place, a DATAGRP.XML it created goes, and so does a
// folder it made that is empty again. The same steps put right a run that was killed, from its journal;
// here they run at once, from the journal the run is writing.
struct RollbackResult
{
    long filesPutBack = 0;
    long imagesPutBack = 0;
    // Files that could not go back (a source taken meanwhile, say): the journal stays for the next run.
    std::vector<std::string> notPutBack;
};

class RunRollback
{
public:
    virtual ~RunRollback() = default;
    // `originalText` is DATAGRP.XML as the run read it ("" when it had none).
    virtual RollbackResult rollBack(const std::string& originalText) = 0;
};

} // namespace tollavar
