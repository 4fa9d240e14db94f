#include "app/QtDocumentOpener.h"

#include <QDesktopServices>
#include <QUrl>

namespace tollavar {

bool QtDocumentOpener::open(const std::string& documentOrAddress)
{
    const QString text = QString::fromStdString(documentOrAddress);
    // A local path must not be parsed as a URL: "#" or "%" in a file name would change its meaning.
    const bool isAddress = text.contains(QStringLiteral("://")) || text.startsWith(QStringLiteral("mailto:"));
    const QUrl url = isAddress ? QUrl(text, QUrl::TolerantMode) : QUrl::fromLocalFile(text);
    return QDesktopServices::openUrl(url);
}

} // namespace tollavar
