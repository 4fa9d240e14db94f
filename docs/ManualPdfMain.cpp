// Build tool: turns the Markdown user manual into TLManual.pdf.
//   tollavar_manual_pdf MANUAL.md OUTPUT.pdf WEBSITE_NAME WEBSITE_URL DOC_DIR
// The three build settings replace @WEBSITE_NAME@, @WEBSITE_URL@ and @DOC_DIR@ in the text, so the
// manual names the site and folders this build was made with.
#include <QFile>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    // A build machine need not have a display; fonts and PDF output work without one.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s MANUAL.md OUTPUT.pdf WEBSITE_NAME WEBSITE_URL DOC_DIR\n", argv[0]);
        return 2;
    }

    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], qPrintable(source.errorString()));
        return 1;
    }
    QString text = QString::fromUtf8(source.readAll());
    text.replace("@WEBSITE_NAME@", QString::fromUtf8(argv[3]));
    text.replace("@WEBSITE_URL@", QString::fromUtf8(argv[4]));
    text.replace("@DOC_DIR@", QString::fromUtf8(argv[5]));

    const QString output = QString::fromLocal8Bit(argv[2]);
    // Written beside the target and renamed over it, so an interrupted build leaves no half manual.
    const QString partial = output + ".part";
    {
        QPdfWriter writer(partial);
        writer.setTitle("Tollavar User Manual");
        writer.setCreator("Tollavar");
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 16, 18, 16),
                                         QPageLayout::Millimeter));

        QTextDocument document;
        QFont font = document.defaultFont();
        font.setPointSizeF(10);
        document.setDefaultFont(font);
        document.setDefaultStyleSheet("code { font-family: monospace; } table { border-collapse: collapse; }");
        document.setMarkdown(text, QTextDocument::MarkdownDialectGitHub);
        document.print(&writer);
    }
    QFile::remove(output);
    if (!QFile::rename(partial, output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
