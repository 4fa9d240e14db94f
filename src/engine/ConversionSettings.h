#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// Every conversion setting; the main window shows each in one control. Texts hold exactly what was
// typed; numbers are parsed where they are used. The initial values are the window's design values
// (LoadDefaults replaces most of them at start-up).
struct ConversionSettings
{
    std::string txtIDX = "test.csv";
    std::string txtXML = "DATAGRP.XML";
    std::string txtDGNUMBER = "1";
    std::string txtDGCOMPNAME = "Test Company";
    std::string txtDGCOMPID = "TEST";
    std::string txtPROJID = "1";
    std::string txtNAME = "Test Project";
    std::string txtFNAMES = "Name|Scan Date|ID Number";
    std::string txtFTYPES = "text|date|number";
    std::string txtMaxFiles = "2500";
    std::string txtImageFolder;
    std::string cboDelimiter = ",";
    bool mRemove = false;
    bool mAllowDupes = false;
    bool mSkipHeader = false;
    bool mPrompt = false;
    bool mAutoSub = true;

    bool operator==(const ConversionSettings&) const = default;
};

// The two flags of a Convert command, set only by the conversion run.
struct RunFlags
{
    bool DatagroupFull = false;
    bool BatchCanceled = false;
};

// Splits a bar list on every "|": nothing trimmed, "" is no item, a trailing bar adds an empty item.
std::vector<std::string> SplitBarList(std::string_view text);

} // namespace tollavar
