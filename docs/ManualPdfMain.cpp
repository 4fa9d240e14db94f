// Build tool: turns the Markdown user manual into TLManual.pdf.
//   tollavar_manual_pdf MANUAL.md OUTPUT.pdf WEBSITE_NAME WEBSITE_URL DOC_DIR
// The three build settings replace @WEBSITE_NAME@, @WEBSITE_URL@ and @DOC_DIR@ in the text, so the
// manual names the site and folders this build was made with.
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace {

// The document is laid out at the screen's resolution and painted scaled up to the writer's.
struct Page
{
    QSizeF body;   // the text area of one page
    double footer; // below it, the page number
};

struct Heading
{
    QTextBlock block;
    int level;
};

std::vector<Heading> headingsAfter(const QTextDocument& document, int position)
{
    std::vector<Heading> found;
    for (QTextBlock block = document.findBlock(position); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level == 2 || level == 3)
            found.push_back({block, level});
    }
    return found;
}

// A table's columns share its width as a browser shares an automatic table's: each gets at least its
// longest word, and the rest goes where the text is longest, so a column of short values stays narrow.
void sizeColumnsToContent(QTextTable* table, double available)
{
    const QTextTableFormat format = table->format();
    const int columns = table->columns();
    // Padding, spacing and borders around each column's text; a little room in it, so that a word
    // measured to fit is not broken by rounding.
    const double chrome = 2 * format.cellPadding() + format.cellSpacing() + 2 * format.border();
    const double room = 3;
    available -= format.cellSpacing() + 2 * format.border(); // the table's own edge
    std::vector<double> shortest(columns, 0), longest(columns, 0);
    const QFont base = table->document()->defaultFont();
    for (int row = 0; row < table->rows(); ++row) {
        for (int column = 0; column < columns; ++column) {
            const QTextTableCell cell = table->cellAt(row, column);
            // Measured piece by piece: code in a cell is set in a wider font than the words around it.
            for (QTextFrame::iterator it = cell.begin(); !it.atEnd(); ++it) {
                double line = 0;
                for (QTextBlock::iterator piece = it.currentBlock().begin(); !piece.atEnd(); ++piece) {
                    const QTextFragment fragment = piece.fragment();
                    const QFontMetricsF metrics(fragment.charFormat().font().resolve(base));
                    line += metrics.horizontalAdvance(fragment.text());
                    for (const QString& word : fragment.text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
                        shortest[column] = std::max(shortest[column], metrics.horizontalAdvance(word) + room + chrome);
                }
                longest[column] = std::max(longest[column], line + room + chrome);
            }
        }
    }
    double sumLongest = 0, sumShortest = 0;
    for (int column = 0; column < columns; ++column) {
        longest[column] = std::max(longest[column], shortest[column]);
        sumLongest += longest[column];
        sumShortest += shortest[column];
    }
    std::vector<double> widths = longest;
    if (sumLongest > available) {
        const double spare = std::max(0.0, available - sumShortest);
        const double wanted = sumLongest - sumShortest;
        for (int column = 0; column < columns; ++column)
            widths[column] =
                shortest[column] + (wanted > 0 ? spare * (longest[column] - shortest[column]) / wanted : 0);
    }
    QVector<QTextLength> constraints;
    for (double width : widths)
        constraints.append(QTextLength(QTextLength::FixedLength, std::ceil(width - chrome)));
    QTextTableFormat sized = format;
    sized.setColumnWidthConstraints(constraints);
    sized.setWidth(QTextLength());
    table->setFormat(sized);
}

// A contents list before the first section, with each section's page (placeholders when the pages are
// not known yet). Returns where the text after the list begins.
int insertContents(QTextDocument& document, const std::vector<int>& pages)
{
    const std::vector<Heading> first = headingsAfter(document, 0);
    if (first.empty())
        return 0;
    std::vector<std::pair<QString, int>> entries;
    for (const Heading& heading : first)
        entries.emplace_back(heading.block.text(), heading.level);
    const QTextBlockFormat title = first.front().block.blockFormat();
    const QTextCharFormat titleChars = first.front().block.charFormat();

    // Inserted at the end of the block before the first section, so the section keeps its own block.
    QTextCursor cursor(first.front().block.previous());
    cursor.movePosition(QTextCursor::EndOfBlock);
    cursor.insertBlock(title, titleChars);
    cursor.insertText(QStringLiteral("Contents"), titleChars);

    QTextTableFormat format;
    format.setBorder(0);
    format.setCellPadding(1);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    format.setColumnWidthConstraints(
        {QTextLength(QTextLength::PercentageLength, 92), QTextLength(QTextLength::PercentageLength, 8)});
    QTextTable* table = cursor.insertTable(static_cast<int>(entries.size()), 2, format);
    for (int row = 0; row < table->rows(); ++row) {
        QTextCursor cell = table->cellAt(row, 0).firstCursorPosition();
        QTextBlockFormat indent;
        indent.setIndent(entries[row].second - 2);
        cell.setBlockFormat(indent);
        cell.insertText(entries[row].first, QTextCharFormat());
        QTextCursor number = table->cellAt(row, 1).firstCursorPosition();
        QTextBlockFormat right;
        right.setAlignment(Qt::AlignRight);
        number.setBlockFormat(right);
        const bool known = row < static_cast<int>(pages.size());
        number.insertText(known ? QString::number(pages[row]) : QStringLiteral("00"), QTextCharFormat());
    }
    return table->lastPosition() + 1;
}

// The manual as it is printed. Built whole each time: editing a laid-out paginated document leaves
// Qt's layout of the text after the edit behind, and that text is then not drawn.
std::unique_ptr<QTextDocument> buildManual(const QString& text, const Page& page, const std::vector<int>& pages,
                                           int* textAfterContents)
{
    auto document = std::make_unique<QTextDocument>();
    QFont font = document->defaultFont();
    font.setPointSizeF(10);
    document->setDefaultFont(font);
    document->setDefaultStyleSheet("code { font-family: monospace; } table { border-collapse: collapse; }");
    document->setMarkdown(text, QTextDocument::MarkdownDialectGitHub);
    for (QTextFrame* frame : document->rootFrame()->childFrames())
        if (auto* table = qobject_cast<QTextTable*>(frame))
            sizeColumnsToContent(table, page.body.width());
    *textAfterContents = insertContents(*document, pages);
    QTextFrameFormat root = document->rootFrame()->frameFormat();
    root.setMargin(0);
    document->rootFrame()->setFrameFormat(root);
    document->setPageSize(page.body);
    return document;
}

std::vector<int> sectionPages(QTextDocument& document, int from, const Page& page)
{
    std::vector<int> pages;
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    for (const Heading& heading : headingsAfter(document, from))
        pages.push_back(static_cast<int>(layout->blockBoundingRect(heading.block).top() / page.body.height()) + 1);
    return pages;
}

} // namespace

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
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(18, 15, 18, 12),
                                         QPageLayout::Millimeter));

        // Laid out by the page here rather than by print(), which adds 2 cm margins of its own inside
        // the page's and leaves a narrow column.
        const double screenDpi = QGuiApplication::primaryScreen()->logicalDotsPerInch();
        const double scale = writer.resolution() / screenDpi;
        const QRectF paintArea = writer.pageLayout().paintRectPixels(writer.resolution());
        Page page;
        page.footer = 0.7 / 2.54 * screenDpi;
        page.body = QSizeF(paintArea.width() / scale, paintArea.height() / scale - page.footer);

        // The contents list takes room of its own, so the pages are known once it is in place.
        int textAfterContents = 0;
        const std::unique_ptr<QTextDocument> draft = buildManual(text, page, {}, &textAfterContents);
        const std::unique_ptr<QTextDocument> manual =
            buildManual(text, page, sectionPages(*draft, textAfterContents, page), &textAfterContents);
        QTextDocument& document = *manual;
        const QFont font = document.defaultFont();

        QPainter painter(&writer);
        painter.scale(scale, scale);
        const int pages = document.pageCount();
        // In the document's units, which the painter scales like the text.
        QFont footerFont = font;
        footerFont.setPixelSize(static_cast<int>(std::lround(8.5 / 72 * screenDpi)));
        for (int i = 0; i < pages; ++i) {
            if (i > 0)
                writer.newPage();
            painter.save();
            painter.translate(0, -i * page.body.height());
            document.drawContents(&painter, QRectF(QPointF(0, i * page.body.height()), page.body));
            painter.restore();
            painter.setFont(footerFont);
            painter.drawText(QRectF(0, page.body.height(), page.body.width(), page.footer),
                             Qt::AlignCenter | Qt::AlignBottom, QString::number(i + 1));
        }
    }
    QFile::remove(output);
    if (!QFile::rename(partial, output)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
