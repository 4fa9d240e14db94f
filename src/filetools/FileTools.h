#pragma once

#include <string>
#include <string_view>

namespace tollavar {

class SettingsStore;
class DocumentOpener;

// Path and file helpers shared by every part of the program; the main window creates one instance at
// start-up and holds it for the program's life. Paths may use "/" or "\" as separators.
class FileTools
{
public:
    FileTools(SettingsStore& store, DocumentOpener& opener);

    // Folder part without a trailing separator; "" for a path without a folder.
    static std::string folderPart(std::string_view path);
    // File-name part.
    static std::string namePart(std::string_view path);
    // Text after the last "." of the file-name part, in the path's own letter case; "" without a dot.
    static std::string extensionPart(std::string_view path);
    // Decimal digits padded on the left with "0" to `width`; a wider number keeps all its digits and a
    // negative one gets its sign before the padded digits.
    static std::string zeroPadded(long long number, int width);
    // True only for a path from the root ("/..."), or a Windows drive or network root.
    static bool isFullPath(std::string_view path);

    // Creates the folder and every missing folder above it.
    void createFolderPath(const std::string& folder) const;
    // True while another process holds the file open.
    bool isFileInUse(const std::string& file) const;
    std::string readStringSetting(const std::string& application, const std::string& section, const std::string& key,
                                  const std::string& defaultValue) const;
    // Opens a document or address; a failure is raised as a Failure, never ends the program.
    void openDocument(const std::string& documentOrAddress) const;

private:
    SettingsStore& m_store;
    DocumentOpener& m_opener;
};

} // namespace tollavar
