#include "app/QtFileDialog.h"

#include "filetools/FileSystem.h"
#include "filetools/FileTools.h"

#include <QFileDialog>
#include <QFileInfo>

namespace tollavar {

namespace {

QString patternsFor(const QString& pattern)
{
    QStringList patterns;
    for (const QString& part : pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString trimmed = part.trimmed();
        if (trimmed.isEmpty())
            continue;
        // On Linux "*.*" would pass over every name without a dot.
        patterns << (trimmed == QStringLiteral("*.*") ? QStringLiteral("*") : trimmed);
    }
    return patterns.isEmpty() ? QStringLiteral("*") : patterns.join(QLatin1Char(' '));
}

// Qt reads a filter's patterns from the parentheses at its end, so a description that already shows
// its patterns loses them and gets the converted ones.
QString descriptionWithoutPatterns(QString description)
{
    description = description.trimmed();
    if (description.endsWith(QLatin1Char(')'))) {
        const qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (open > 0)
            description = description.left(open).trimmed();
    }
    return description;
}

bool hasWildcard(const std::string& name)
{
    return name.find_first_of("*?") != std::string::npos;
}

} // namespace

QStringList qtNameFilters(const std::string& filter)
{
    const QStringList items = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < items.size(); i += 2)
        filters << descriptionWithoutPatterns(items[i]) + QStringLiteral(" (") + patternsFor(items[i + 1]) +
                       QLatin1Char(')');
    return filters;
}

QtFileDialog::QtFileDialog(QWidget* parent) : m_parent(parent)
{
}

void QtFileDialog::setParentWidget(QWidget* parent)
{
    m_parent = parent;
}

std::optional<std::string> QtFileDialog::show(const FileDialogRequest& request)
{
    // A file dialog cannot pick a folder everywhere: the GTK one has no name box and keeps Open greyed
    // in a folder of folders. The folder chooser is served by every platform theme and portal.
    if (request.kind == FileDialogRequest::Kind::Folder) {
        const std::string start = files::nativePath(request.initialFileName);
        const QString chosen =
            QFileDialog::getExistingDirectory(m_parent, QString::fromStdString(request.title),
                                              files::folderExists(start) ? QString::fromStdString(start) : QString());
        if (chosen.isEmpty())
            return std::nullopt;
        return chosen.toStdString();
    }
    QFileDialog dialog(m_parent);
    const bool save = request.kind == FileDialogRequest::Kind::Save;
    // Qt's own dialog names itself; a platform's (GTK's) shows an empty title bar unless told.
    dialog.setWindowTitle(!request.title.empty() ? QString::fromStdString(request.title)
                          : save                 ? QFileDialog::tr("Save As")
                                                 : QFileDialog::tr("Open"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (save)
        dialog.setOption(QFileDialog::DontConfirmOverwrite);

    const QStringList filters = qtNameFilters(request.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
            dialog.selectNameFilter(filters[request.filterIndex - 1]);
    }

    // The initial name may be a folder, a file, or a pattern that only says which folder to open.
    const std::string initial = files::nativePath(request.initialFileName);
    if (!initial.empty()) {
        if (files::folderExists(initial)) {
            dialog.setDirectory(QString::fromStdString(initial));
        } else {
            const std::string folder = FileTools::folderPart(initial);
            const std::string name = FileTools::namePart(initial);
            if (!folder.empty() && files::folderExists(folder))
                dialog.setDirectory(QString::fromStdString(folder));
            if (!name.empty() && !hasWildcard(name))
                dialog.selectFile(QString::fromStdString(name));
        }
    }

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.front().toStdString();
}

} // namespace tollavar
