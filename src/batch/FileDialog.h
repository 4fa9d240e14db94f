#pragma once

#include <optional>
#include <string>

namespace tollavar {

// The shared open/save file dialog. The window shows a QFileDialog; tests answer from a script.
struct FileDialogRequest
{
    enum class Kind
    {
        Open,
        Save,
        Folder, // a folder chooser: the answer is the folder itself; filter unused
    };
    Kind kind = Kind::Open;
    std::string title;           // "" leaves the dialog's own caption
    std::string filter;          // description|pattern pairs, every item separated by "|"
    int filterIndex = 1;         // 1-based
    std::string initialFileName; // may hold a folder, a file or a "*.tvr" pattern; a Folder request's start

    bool operator==(const FileDialogRequest&) const = default;
};

class FileDialog
{
public:
    virtual ~FileDialog() = default;
    // The chosen path, or nothing when the user cancelled.
    virtual std::optional<std::string> show(const FileDialogRequest& request) = 0;
};

// The description a cancelled dialog reports, with ErrorCode::DialogCancelled.
inline constexpr const char* kDialogCancelledDescription = "Cancel was selected.";

} // namespace tollavar
