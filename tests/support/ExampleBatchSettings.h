#pragma once

#include "engine/ConversionSettings.h"
#include "support/TempDir.h"

#include <string>

namespace tollavar::testing {

// Settings for a small batch below `dir`: index files in "in", images in "images", the datagroup in
// "out"; the four columns Name, IMAGEPATH, PAGECOUNT, ID.
inline ConversionSettings exampleBatchSettings(const TempDir& dir, const std::string& indexItem)
{
    ConversionSettings s;
    s.indexFiles = dir / indexItem;
    s.xmlFilePath = dir / "out/DATAGRP.XML";
    s.datagroupNumber = "1";
    s.companyId = "EXMP";
    s.fieldNames = "Name|IMAGEPATH|PAGECOUNT|ID";
    s.fieldTypes = "text|text|number|number";
    s.imageFolder = dir / "images";
    return s;
}

} // namespace tollavar::testing
