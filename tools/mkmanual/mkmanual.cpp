// Turns the user's guide from Markdown into a PDF: the text as Qt's rich-text engine lays it
// out, images resolved from the Markdown file's folder, A4 pages with their numbers.
//
//   mkmanual INPUT.md OUTPUT.pdf TITLE
//
// Runs at build time without a display (Qt's offscreen platform).

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QImage>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>
#include <cstdio>

namespace {

// Markdown images that do not resolve would print as empty boxes; the build stops instead.
class TManualDocument : public QTextDocument
{
public:
    QStringList FMissing;

protected:
    // Also asked by the copy that print() lays out, with the name as the text has it.
    QVariant loadResource(int type, const QUrl &name) override
    {
        QVariant resource = QTextDocument::loadResource(type, baseUrl().resolved(name));
        if (type == QTextDocument::ImageResource && !resource.isValid())
            FMissing << name.toString();
        return resource;
    }
};

// Markdown tables come without room in their cells; they get some, and full width.
void SpaceTables(QTextFrame *frame)
{
    for (QTextFrame *child : frame->childFrames()) {
        if (auto *table = qobject_cast<QTextTable *>(child)) {
            QTextTableFormat format = table->format();
            format.setCellPadding(4);
            format.setCellSpacing(0);
            format.setBorder(0.5);
            format.setBorderCollapse(true);
            format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
            table->setFormat(format);
        }
        SpaceTables(child);
    }
}

// The text's width in the document's pixels (96 per inch): A4's 210 mm less the writer's
// margins and the 2 cm print() adds on each side.
constexpr double TextWidthPx = (210.0 - 2 * 20 - 2 * 20) / 25.4 * 96;

// Pictures wider than the text are scaled down to it, not cut off at the margin.
void FitImages(QTextDocument &document)
{
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            QTextImageFormat format = fragment.charFormat().toImageFormat();
            if (!format.isValid()) continue;
            const QImage image = document.resource(QTextDocument::ImageResource,
                                                   QUrl(format.name())).value<QImage>();
            if (image.isNull() || image.width() <= TextWidthPx) continue;
            format.setWidth(TextWidthPx);
            format.setHeight(image.height() * TextWidthPx / image.width());
            QTextCursor cursor(&document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(format);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: mkmanual INPUT.md OUTPUT.pdf TITLE\n");
        return 2;
    }
    const QString input = QFile::decodeName(argv[1]);
    const QString output = QFile::decodeName(argv[2]);
    QFile source(input);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "mkmanual: %s: %s\n", argv[1], qPrintable(source.errorString()));
        return 1;
    }

    TManualDocument document;
    document.setBaseUrl(QUrl::fromLocalFile(QFileInfo(input).absoluteDir().absolutePath() + '/'));
    QFont font(QStringLiteral("DejaVu Sans"), 10);
    document.setDefaultFont(font);
    document.setMarkdown(QString::fromUtf8(source.readAll()));
    SpaceTables(document.rootFrame());
    FitImages(document);
    document.setMetaInformation(QTextDocument::DocumentTitle, QString::fromLocal8Bit(argv[3]));

    QPdfWriter pdf(output);
    pdf.setTitle(QString::fromLocal8Bit(argv[3]));
    pdf.setCreator(QStringLiteral("Corvane"));
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                  QMarginsF(20, 20, 20, 20), QPageLayout::Millimeter));
    pdf.setResolution(300);
    // print() lays the text out on the writer's pages and numbers them.
    document.print(&pdf);
    if (!document.FMissing.isEmpty()) {
        std::fprintf(stderr, "mkmanual: %s: images not found: %s\n", argv[1],
                     qPrintable(document.FMissing.join(QStringLiteral(", "))));
        QFile::remove(output);
        return 1;
    }
    if (QFileInfo(output).size() == 0) {
        std::fprintf(stderr, "mkmanual: %s: nothing written\n", argv[2]);
        return 1;
    }
    return 0;
}
