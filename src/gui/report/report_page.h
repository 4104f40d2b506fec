#pragma once
// The one-page accident report: the title, the video picture, the map, the
// details the user typed, and the evidence block beside the map (the
// recording's files with their SHA-256 digests, the playback position and
// the impact summary). Laid out in logical units of about one screen pixel.
//
// UI thread only (painting).

#include "core/playback/evidence.h"
#include "core/playback/impact_summary.h"

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <string>
#include <vector>

class QPainter;
class QPrinter;

namespace korvante {

// What the evidence block says. `digests` holds one result per file once
// hashing has finished, and is empty before.
struct ReportEvidence {
    std::vector<EvidenceFile> files;
    std::vector<DigestResult> digests;
    std::uint64_t positionMs = 0;
    bool hasSamples = false;
    ImpactSummary impact;
    // "camera clock 47 s slow" when the recording's own GPS time shows its
    // camera clock off; empty when it is not known to be.
    std::string cameraClock;
};

struct ReportContent {
    QImage video;    // the preview as the dialog paints it, 908 x 524
    QImage map;      // the map picture, 299 x 280
    QString details; // the details text ("\r\n" or "\n" line ends)
    ReportEvidence evidence;
};

// Page items, in logical units.
namespace report {
inline constexpr QRect kTitleBox{250, 20, 400, 60};
inline constexpr QRect kVideoHeadingBox{40, 80, 300, 60};
inline constexpr QRect kVideoRect{70, 110, 908 - 200, 524 - 40};
inline constexpr QPoint kMapAt{70, 524 + 130};
inline constexpr QSize kMapSize{299, 280};
inline constexpr QRect kMapHeadingBox{40, 620, 300, 60};
inline constexpr QRect kDetailsHeadingBox{40, 960, 300, 60};
inline constexpr QRect kDetailsBox{50, 990, 700, 400};
// The evidence block: right of the map, above the details heading.
inline constexpr QRect kEvidenceBox{390, 620, 400, 335};
} // namespace report

// "%d%d%d%d%d%d" of year, month, day, hour, minute and second, without
// leading zeros: 10:05:07 on 3 March 2012 gives "2012331057".
QString reportDocumentName(const QDateTime &when);

// "mm:ss.mmm" (minutes not limited to two digits).
QString formatPositionMs(std::uint64_t milliseconds);

// The lines of the evidence block, in order (a digest is split over two
// lines of 32 digits so it fits beside the map).
QStringList evidenceLines(const ReportEvidence &evidence);

// Paints the page at the painter's current transform (one unit is one
// logical unit of the page). Returns the bottom of the lowest item drawn.
int paintReportPage(QPainter &painter, const ReportContent &content);

// Prints the page on `printer`: the document name from `when`, the logical
// units scaled from the screen's resolution (`screenDpiX` + 5 horizontally,
// as the layout was drawn for) to the printer's, and the whole page reduced
// further when it would not fit the printable area. False when the printer
// cannot be painted on.
bool printReportPage(QPrinter &printer, const ReportContent &content, int screenDpiX, int screenDpiY,
                     const QDateTime &when);

} // namespace korvante
