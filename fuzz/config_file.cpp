// A configuration file of any bytes: reading it leaves valid settings behind, and saving those
// settings and reading the file back gives the very same settings.

#include "FuzzCheck.h"

#include "batch/ConfigFile.h"
#include "engine/ConversionSettings.h"
#include "filetools/Failure.h"
#include "filetools/Windows1252.h"

#include <cstdint>
#include <string>

using namespace tollavar;

namespace {

bool allTextValid(const ConversionSettings& s)
{
    for (const std::string* text :
         {&s.indexFiles, &s.xmlFilePath, &s.datagroupNumber, &s.companyName, &s.companyId, &s.projectId, &s.projectName,
          &s.fieldNames, &s.fieldTypes, &s.maxDocuments, &s.imageFolder, &s.delimiter})
        if (!utf8::isValid(*text) || text->find_first_of("\r\n") != std::string::npos)
            return false;
    return true;
}

// Every field different from what a file could be expected to hold, so that a line the reader
// skipped shows up as a difference.
ConversionSettings unlikelySettings()
{
    ConversionSettings s;
    for (std::string* text :
         {&s.indexFiles, &s.xmlFilePath, &s.datagroupNumber, &s.companyName, &s.companyId, &s.projectId, &s.projectName,
          &s.fieldNames, &s.fieldTypes, &s.maxDocuments, &s.imageFolder, &s.delimiter})
        *text = "\xE2\x80\xBD unset";
    s.removeProcessedFiles = !s.removeProcessedFiles;
    s.allowDuplicates = !s.allowDuplicates;
    s.skipHeaderLine = !s.skipHeaderLine;
    s.promptWhenFinished = !s.promptWhenFinished;
    s.autoCreateSubfolders = !s.autoCreateSubfolders;
    return s;
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the target by this name
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ConversionSettings settings;
    try {
        applyConfigText(bytes, settings);
    } catch (const Failure& failure) {
        FUZZ_CHECK(failure.code() == ErrorCode::TypeMismatch || failure.code() == ErrorCode::InputPastEndOfFile,
                   "a broken file is a type mismatch or too short");
    }
    FUZZ_CHECK(allTextValid(settings), "settings hold valid text of one line each");

    const std::string saved = serializeConfig(settings);
    ConversionSettings reread = unlikelySettings();
    try {
        applyConfigText(saved, reread);
    } catch (const Failure&) {
        FUZZ_CHECK(false, "a saved file reads back");
    }
    FUZZ_CHECK(reread == settings, "a saved file reads back as the settings it was saved from");
    FUZZ_CHECK(serializeConfig(reread) == saved, "saving is stable");
    return 0;
}
