// A recovery journal of any bytes: reading it either refuses it as a Failure or gives back what a
// journal can say, and a journal cut anywhere after its head says no more than the whole one.

#include "FuzzCheck.h"

#include "engine/JournalReader.h"
#include "filetools/Failure.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

using namespace tollavar;

namespace {

std::optional<JournalContents> read(std::string_view bytes)
{
    try {
        return parseRunJournal(bytes, "/fuzz/.DATAGRP.JOURNAL");
    } catch (const Failure&) {
        return std::nullopt;
    }
}

} // namespace

// NOLINTNEXTLINE(readability-identifier-naming): libFuzzer calls the target by this name
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<JournalContents> whole = read(bytes);
    if (!whole)
        return 0;
    FUZZ_CHECK(!whole->datagroupFolder.empty() && !whole->indexFile.empty() && !whole->xmlFile.empty() &&
                   !whole->imageFolder.empty(),
               "a journal read back names its folders and files");
    FUZZ_CHECK(whole->steps.size() <= static_cast<size_t>(std::count(bytes.begin(), bytes.end(), '\n')),
               "every step comes from a record line of its own");
    FUZZ_CHECK(!whole->saved || whole->saving, "a save fingerprint comes with the save record");

    // Cut in its middle, the journal keeps its head or is refused: never a different one.
    const std::optional<JournalContents> cut = read(bytes.substr(0, size / 2 + 1));
    if (cut) {
        FUZZ_CHECK(cut->indexFile == whole->indexFile && cut->imageFolder == whole->imageFolder &&
                       cut->original == whole->original && cut->indexIdentity == whole->indexIdentity,
                   "a cut journal keeps its head");
        FUZZ_CHECK(!cut->saving || whole->saving, "a cut journal reaches no save the whole one lacks");
    }
    return 0;
}
