#pragma once

#include <string>

namespace tollavar {

struct ConversionContext;
class DatagroupDocument;

// Saves the run's DATAGRP.XML under the journal's eye: the journal learns the new bytes' fingerprint and
// the file they go to before a byte is written, and keeps the original whole for a save that has to
// write into the file itself.
void saveXml(ConversionContext& context, const DatagroupDocument& document, const std::string& nativeXml,
             long lastDocId, const std::string& originalText);

} // namespace tollavar
