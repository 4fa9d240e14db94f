#pragma once

#include "filetools/DocumentOpener.h"

namespace tollavar {

// Hands a document or a web address to the desktop's associated program.
class QtDocumentOpener : public DocumentOpener
{
public:
    bool open(const std::string& documentOrAddress) override;
};

} // namespace tollavar
