#pragma once

#include <string>
#include <string_view>

namespace tollavar {

// What one conversion run did to its index file, for the run history.
struct IndexFileFacts
{
    long long bytes = -1;    // the index file's size as read; -1 when it was never read
    std::string fingerprint; // of its bytes as read (files::contentFingerprint); empty when never read
    long documentsAdded = 0;
    long firstDocId = 0; // the DOCIDs of the documents added (none when documentsAdded is 0)
    long lastDocId = 0;
    long imagesMoved = 0;
    long fullTextsMoved = 0;
    long linesSkipped = 0;     // blank lines, a skipped header and documents the user dropped
    std::string encoding = {}; // as the reader took it; empty when never read
};

// Told how a conversion run goes. The run calls it every kProgressEvery lines, so whatever it does per
// call is spread over that many lines of the hot loop.
class ConversionObserver
{
public:
    static constexpr long kProgressEvery = 256;

    virtual ~ConversionObserver() = default;
    // Counting an index file's lines costs a pass over it: only for those who show a total.
    virtual bool wantsLineCount() const { return false; }
    // `totalLines` is -1 unless wantsLineCount().
    virtual void indexFileStarted(std::string_view /*indexFile*/, long /*totalLines*/) {}
    virtual void linesDone(long /*lines*/, long /*documents*/) {}
    // Also after a failure: what was done up to it (moves included, DOCIDs only if the file was saved).
    virtual void indexFileEnded(const IndexFileFacts& /*facts*/, bool /*converted*/) {}
};

} // namespace tollavar
