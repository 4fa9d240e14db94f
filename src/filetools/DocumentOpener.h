#pragma once

#include <string>

namespace tollavar {

// Opens a document or a web address with the program the desktop associates with it.
class DocumentOpener
{
public:
    virtual ~DocumentOpener() = default;
    // False when nothing could open it.
    virtual bool open(const std::string& documentOrAddress) = 0;
};

} // namespace tollavar
