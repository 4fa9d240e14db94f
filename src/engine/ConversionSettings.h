#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tollavar {

// Every conversion setting; the main window shows each in one control. Texts hold exactly what was
// typed; numbers are parsed where they are used. The initial values are the window's design values
// (loadDefaults replaces most of them at start-up).
struct ConversionSettings
{
    std::string indexFiles = "test.csv";
    std::string xmlFilePath = "DATAGRP.XML";
    std::string datagroupNumber = "1";
    std::string companyName = "Test Company";
    std::string companyId = "TEST";
    std::string projectId = "1";
    std::string projectName = "Test Project";
    std::string fieldNames = "Name|Scan Date|ID Number";
    std::string fieldTypes = "text|date|number";
    std::string maxDocuments = "2500";
    std::string imageFolder;
    std::string delimiter = ",";
    bool removeProcessedFiles = false;
    bool allowDuplicates = false;
    bool skipHeaderLine = false;
    bool promptWhenFinished = false;
    bool autoCreateSubfolders = true;
    // The folder a relative path above is read against: the configuration file's, so that a file opened
    // from anywhere finds what it names; empty for the current folder. Follows the file, never saved in it.
    std::string pathBase;

    bool operator==(const ConversionSettings&) const = default;
};

// The two flags of a Convert command, set only by the conversion run.
struct RunFlags
{
    bool datagroupFull = false;
    bool batchCanceled = false;
    // The datagroup already held the most documents a datagroup can: nothing was converted, and the
    // command advances the number before it converts the file.
    bool datagroupAtCap = false;
};

// `path` read against the settings' pathBase when it is relative; otherwise, and when empty, as it is.
std::string settingPath(const ConversionSettings& settings, std::string_view path);

// Splits a bar list on every "|": nothing trimmed, "" is no item, a trailing bar adds an empty item.
std::vector<std::string> splitBarList(std::string_view text);

} // namespace tollavar
