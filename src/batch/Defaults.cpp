#include "batch/Defaults.h"

#include "engine/ConversionSettings.h"

namespace tollavar {

void loadDefaults(ConversionSettings& s)
{
    s.indexFiles = "";
    s.xmlFilePath = "";
    s.datagroupNumber = "1";
    s.companyName = "Default Company";
    s.companyId = "DEFC";
    s.projectId = "1";
    s.projectName = "Default Project";
    s.removeProcessedFiles = false;
    s.autoCreateSubfolders = true;
    s.allowDuplicates = false;
    s.imageFolder = "";
    s.maxDocuments = "1000";
    s.delimiter = ",";
    s.promptWhenFinished = false;
    s.skipHeaderLine = false;
    s.pathBase = "";
}

void newCommand(ConversionSettings& settings, std::string& configFile)
{
    configFile.clear();
    loadDefaults(settings);
}

} // namespace tollavar
