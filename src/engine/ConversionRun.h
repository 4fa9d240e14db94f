#pragma once

#include "engine/ConversionContext.h"

#include <string>

namespace tollavar {

// Converts one index file into the datagroup whose DATAGRP.XML is `xmlFile`. True only when the whole
// index file was converted and the XML file saved; every failure is handed to the prompter here,
// before the undo is offered.
bool convertIndexFile(ConversionContext& context, const std::string& indexFile, const std::string& xmlFile,
                      const std::string& rootName, const std::string& documentName);

} // namespace tollavar
