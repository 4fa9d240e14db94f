#pragma once

#include <string>
#include <string_view>

namespace tollavar {

struct ConversionSettings;
class DatagroupDocument;
class FileTools;
class MoveRecorder;
class Prompter;

enum class PlacementOutcome
{
    NothingToPlace,
    Placed,
    Dropped,
};

// Moves each document's image (and its full-text file) from the image folder into the datagroup
// folder under the same relative path, asking the user when the source is missing or the
// destination is taken. One placer serves one conversion run.
class ImagePlacer
{
public:
    ImagePlacer(const ConversionSettings& settings, const FileTools& fileTools, Prompter& prompter,
                std::string imageFolder, std::string indexFile, const std::string& xmlFile);

    // Places the current document's image; may drop the document from `document` or change its FILE1.
    // Raises a Failure (codes 21 and 23 among them) for the run to report.
    PlacementOutcome place(std::string_view imagePath, DatagroupDocument& document);

    long movedCount() const { return m_movedCount; }
    // Told of every move before it is made (none: nobody keeps a record).
    void setRecorder(MoveRecorder* recorder) { m_recorder = recorder; }

private:
    void moveFullText(std::string_view imagePath, const std::string& destination) const;
    std::string duplicateName(const std::string& destination, std::string_view imagePath,
                              DatagroupDocument& document) const;

    const ConversionSettings& m_settings;
    const FileTools& m_fileTools;
    Prompter& m_prompter;
    const std::string m_imageFolder;
    const std::string m_indexFile;
    const std::string m_datagroupFolder;
    const bool m_indexInDatagroup;
    long m_movedCount = 0;
    std::string m_lastFolderSeen; // most lines of a batch share their folder: test it once
    MoveRecorder* m_recorder = nullptr;
};

// True when a relative image path climbs out of its folder ("..", in either separator style).
bool LeavesItsFolder(std::string_view imagePath);

} // namespace tollavar
