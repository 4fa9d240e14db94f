#pragma once

#include "filetools/DocumentOpener.h"

namespace tollavar {

// Hands a document or a web address to the desktop's associated program.
class QtDocumentOpener : public DocumentOpener
{
public:
    // How long to wait for the opener's verdict. An opener that hands the document on returns at once;
    // one that runs the viewer itself is still running then, which means it found one.
    explicit QtDocumentOpener(int verdictMilliseconds = 3000) : m_verdictMilliseconds(verdictMilliseconds) {}

    bool open(const std::string& documentOrAddress) override;

private:
    int m_verdictMilliseconds;
};

} // namespace tollavar
