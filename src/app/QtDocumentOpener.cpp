#include "app/QtDocumentOpener.h"

#include <QDesktopServices>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace tollavar {

namespace {

struct Verdict
{
    bool finished = false;
    bool opened = false;
};

// Whether the desktop has a program for addresses of this scheme. With none, Debian's xdg-open still
// exits 0 for a web address, so its verdict cannot say it; xdg-mime's default, $BROWSER and the
// alternatives xdg-open falls back on can. Where nothing can be asked, an opener is assumed.
bool hasHandlerFor(const QString& scheme)
{
    const QString mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (mime.isEmpty() || !qEnvironmentVariableIsEmpty("BROWSER"))
        return true;
    for (const char* browser : {"x-www-browser", "www-browser"}) {
        if (!QStandardPaths::findExecutable(QString::fromLatin1(browser)).isEmpty())
            return true;
    }
    QProcess query;
    query.setStandardInputFile(QProcess::nullDevice());
    query.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    query.start(mime,
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("x-scheme-handler/") + scheme});
    if (!query.waitForFinished(3000) || query.exitStatus() != QProcess::NormalExit) {
        query.kill();
        query.waitForFinished(1000);
        return true;
    }
    return !query.readAllStandardOutput().trimmed().isEmpty();
}

} // namespace

bool QtDocumentOpener::open(const std::string& documentOrAddress)
{
    const QString text = QString::fromStdString(documentOrAddress);
    // A local path must not be parsed as a URL: "#" or "%" in a file name would change its meaning.
    const bool isAddress = text.contains(QStringLiteral("://")) || text.startsWith(QStringLiteral("mailto:"));
    const QUrl url = isAddress ? QUrl(text, QUrl::TolerantMode) : QUrl::fromLocalFile(text);

    // Qt starts xdg-open and calls it a success once it runs, so "no program can open this" went
    // unreported. Its exit status says so.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
        return QDesktopServices::openUrl(url);
    if (isAddress && !hasHandlerFor(url.scheme()))
        return false;

    // Not owned by anything: if the opener is still running (it may be the viewer's parent until the
    // viewer closes) it must neither be killed by a destructor nor block the window.
    auto* process = new QProcess;
    process->setProgram(opener);
    process->setArguments({isAddress ? url.toString(QUrl::FullyEncoded) : text});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    auto verdict = std::make_shared<Verdict>();
    QObject::connect(process, &QProcess::finished, process, [process, verdict](int code, QProcess::ExitStatus how) {
        verdict->finished = true;
        verdict->opened = how == QProcess::NormalExit && code == 0;
        process->deleteLater();
    });
    process->start();
    if (!process->waitForStarted()) {
        delete process;
        return QDesktopServices::openUrl(url);
    }

    QEventLoop loop;
    QObject::connect(process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(m_verdictMilliseconds, &loop, &QEventLoop::quit);
    // The window repaints meanwhile, but takes no clicks that would start a second opener.
    if (!verdict->finished)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return verdict->finished ? verdict->opened : true;
}

} // namespace tollavar
