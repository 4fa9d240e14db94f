#include "batch/Defaults.h"

#include "engine/ConversionSettings.h"

namespace tollavar {

void LoadDefaults(ConversionSettings& s)
{
    s.txtIDX = "";
    s.txtXML = "";
    s.txtDGNUMBER = "1";
    s.txtDGCOMPNAME = "Default Company";
    s.txtDGCOMPID = "DEFC";
    s.txtPROJID = "1";
    s.txtNAME = "Default Project";
    s.mRemove = false;
    s.mAutoSub = true;
    s.mAllowDupes = false;
    s.txtImageFolder = "";
    s.txtMaxFiles = "1000";
    s.cboDelimiter = ",";
    s.mPrompt = false;
    s.mSkipHeader = false;
}

void mNew_Click(ConversionSettings& settings, std::string& ConfigFile)
{
    ConfigFile.clear();
    LoadDefaults(settings);
}

} // namespace tollavar
