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
    s.txtIDX = dir / indexItem;
    s.txtXML = dir / "out/DATAGRP.XML";
    s.txtDGNUMBER = "1";
    s.txtDGCOMPID = "EXMP";
    s.txtFNAMES = "Name|IMAGEPATH|PAGECOUNT|ID";
    s.txtFTYPES = "text|text|number|number";
    s.txtImageFolder = dir / "images";
    return s;
}

} // namespace tollavar::testing
