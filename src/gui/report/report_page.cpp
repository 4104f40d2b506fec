#include "report_page.h"
#include "core/playback/video_renderer.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>

#include <algorithm>

namespace korvante {

namespace {

QFont reportFont(int pixelHeight)
{
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelHeight);
    font.setWeight(QFont::Bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QFont titleFont() { return reportFont(40); }
QFont headingFont() { return reportFont(20); }
QFont textFont() { return reportFont(16); }

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop;
constexpr int kDetailsFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
// Evidence lines wrap anywhere: a long file name must not run off the page.
constexpr int kEvidenceFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;

QString detailsText(const QString &details)
{
    QString text = details;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QString bytesText(std::int64_t size)
{
    return size < 0 ? QStringLiteral("size unknown") : QStringLiteral("%1 bytes").arg(size);
}

// The evidence block's heading and lines at their places: calls `draw` with
// each text, its font and its box; returns the bottom of the last one.
template <class Draw>
int layoutEvidence(const ReportEvidence &evidence, Draw &&draw)
{
    const QRect box = report::kEvidenceBox;
    draw(QStringLiteral("Recording evidence"), headingFont(), QRect(box.left(), box.top(), box.width(), 30));
    int y = report::kMapAt.y();
    const QFont font = textFont();
    const QFontMetrics metrics(font);
    int bottom = y;
    for (const QString &line : evidenceLines(evidence)) {
        const QRect lineBox = metrics.boundingRect(QRect(box.left(), y, box.width(), 1000), kEvidenceFlags, line);
        draw(line, font, QRect(box.left(), y, box.width(), lineBox.height()));
        y += std::max(lineBox.height(), metrics.lineSpacing());
        bottom = y;
    }
    return bottom;
}

int detailsBottom(const QString &details)
{
    const QFontMetrics metrics(textFont());
    const QRect used = metrics.boundingRect(report::kDetailsBox, kDetailsFlags, detailsText(details));
    return report::kDetailsBox.top() + used.height();
}

} // namespace

QString reportDocumentName(const QDateTime &when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    return QString::asprintf("%d%d%d%d%d%d", d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

QString formatPositionMs(std::uint64_t milliseconds)
{
    const std::uint64_t seconds = milliseconds / 1000;
    return QString::asprintf("%02llu:%02llu.%03llu", static_cast<unsigned long long>(seconds / 60),
                             static_cast<unsigned long long>(seconds % 60),
                             static_cast<unsigned long long>(milliseconds % 1000));
}

QStringList evidenceLines(const ReportEvidence &evidence)
{
    QStringList lines;
    for (size_t i = 0; i < evidence.files.size(); ++i) {
        const EvidenceFile &file = evidence.files[i];
        lines << QStringLiteral("%1: %2").arg(QString::fromStdString(file.role), QString::fromStdString(file.name));
        QString facts = bytesText(file.size);
        if (!file.recorded.empty())
            facts += QStringLiteral(", recorded ") + QString::fromStdString(file.recorded);
        // The clock that named the recording, beside the time it gave.
        if (i == 0 && !evidence.cameraClock.empty())
            facts += QStringLiteral(", ") + QString::fromStdString(evidence.cameraClock);
        lines << facts;
        if (i >= evidence.digests.size()) {
            lines << QStringLiteral("SHA-256: not computed");
        } else if (evidence.digests[i].sha256.empty()) {
            lines << QStringLiteral("SHA-256: none (%1)").arg(QString::fromStdString(evidence.digests[i].error));
        } else {
            const QString digest = QString::fromStdString(evidence.digests[i].sha256);
            lines << QStringLiteral("SHA-256: ") + digest.left(32);
            lines << QStringLiteral("         ") + digest.mid(32);
        }
    }
    lines << QStringLiteral("Picture at %1").arg(formatPositionMs(evidence.positionMs));
    const ImpactSummary &impact = evidence.impact;
    if (evidence.hasSamples && impact.hasPeak) {
        QString peak = QStringLiteral("Peak %1 g at %2").arg(QString::number(impact.peakG, 'f', 2),
                                                             formatPositionMs(static_cast<std::uint64_t>(impact.peakMs)));
        if (impact.side != ImpactSide::None)
            peak += QStringLiteral(", from the ") + QString::fromLatin1(impactSideText(impact.side));
        lines << peak;
        if (impact.hasSpeed)
            lines << QStringLiteral("Speed 3 s before: %1 km/h (GPS at %2)")
                         .arg(QString::number(impact.speedKmh, 'f', 0),
                              formatPositionMs(static_cast<std::uint64_t>(impact.speedMs)));
    } else if (evidence.hasSamples) {
        lines << QStringLiteral("No G-sensor samples within 5 s");
    }
    return lines;
}

int paintReportPage(QPainter &painter, const ReportContent &content)
{
    painter.save();
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.setPen(Qt::black);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    painter.setFont(titleFont());
    painter.drawText(report::kTitleBox, kTextFlags, QStringLiteral("Accident Report"));
    painter.setFont(headingFont());
    painter.drawText(report::kVideoHeadingBox, kTextFlags, QStringLiteral("1.Blockbox video captuer"));
    painter.drawText(report::kMapHeadingBox, kTextFlags, QStringLiteral("2.Blockbox map image"));
    painter.drawText(report::kDetailsHeadingBox, kTextFlags, QStringLiteral("3.Accident details"));

    if (!content.video.isNull()) // in its own shape, centred in the box
        painter.drawImage(VideoRenderer::fitted(report::kVideoRect, content.video.size()), content.video);
    if (!content.map.isNull())
        painter.drawImage(QRect(report::kMapAt, report::kMapSize), content.map,
                          QRect(QPoint(0, 0), report::kMapSize));

    const int evidenceBottom = layoutEvidence(content.evidence, [&](const QString &text, const QFont &font, const QRect &box) {
        painter.setFont(font);
        painter.drawText(box, box.top() == report::kEvidenceBox.top() ? kTextFlags : kEvidenceFlags, text);
    });

    painter.setFont(textFont());
    painter.drawText(report::kDetailsBox, kDetailsFlags, detailsText(content.details));
    painter.restore();
    return std::max({report::kMapAt.y() + report::kMapSize.height(), evidenceBottom, detailsBottom(content.details)});
}

bool printReportPage(QPrinter &printer, const ReportContent &content, int screenDpiX, int screenDpiY,
                     const QDateTime &when)
{
    printer.setDocName(reportDocumentName(when));
    printer.setFullPage(false);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    // One logical unit is about one screen pixel: a little narrower
    // horizontally (screen dpi + 5), as the page was laid out.
    double sx = static_cast<double>(printer.logicalDpiX()) / std::max(1, screenDpiX + 5);
    double sy = static_cast<double>(printer.logicalDpiY()) / std::max(1, screenDpiY);
    // The page reaches below the printable height of common paper at screen
    // resolution (the details start 990 units down): the whole page is then
    // reduced alike, so nothing is cut off or pushed to a second sheet.
    int bottom = 0;
    {
        QImage probe(1, 1, QImage::Format_RGB32);
        QPainter measure(&probe);
        bottom = paintReportPage(measure, ReportContent{QImage(), QImage(), content.details, content.evidence});
    }
    const int right = std::max(report::kVideoRect.right(), report::kEvidenceBox.right()) + 1;
    const QRect area = printer.pageLayout().paintRectPixels(printer.resolution());
    const double fit = std::min({1.0, area.width() / (right * sx), area.height() / ((bottom + 10) * sy)});
    sx *= fit;
    sy *= fit;
    painter.scale(sx, sy);
    paintReportPage(painter, content);
    return painter.end();
}

} // namespace korvante
