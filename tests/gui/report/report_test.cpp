// Snapshots and the accident report on the player's sample card: the names
// of the snapshot files, JPEGs that an independent decoder reads at the
// recording's size with the frame of the position, and a report printed to
// PDF through the print dialog's hook whose text, digests and pictures
// independent tools find.

#include "../playback/player_fixture.h"

#include "core/config/viewer_config.h"
#include "core/playback/sensor_records.h"
#include "core/recording/byte_source.h"
#include "gui/platform/message_box.h"
#include "gui/report/map_picture.h"
#include "gui/report/print_dlg.h"
#include "gui/report/report_actions.h"
#include "gui/report/snapshot_capture.h"
#include "mkcard/frame_code.h"

#include <QPlainTextEdit>
#include <QThread>
#include <QPrinter>
#include <QRegularExpression>

#include <cstdlib>
#include <ctime>

namespace korvante::testing {
namespace {

QByteArray run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    return p.readAllStandardOutput();
}

// Width, height and frame number of a JPEG as ffprobe and ffmpeg read it.
struct Decoded {
    int width = 0, height = 0, frame = -1;
};
Decoded decodeJpeg(const std::string &path)
{
    Decoded d;
    const QString file = QString::fromStdString(path);
    const QList<QByteArray> size = run(QStringLiteral("ffprobe"), {QStringLiteral("-v"), QStringLiteral("error"),
        QStringLiteral("-show_entries"), QStringLiteral("stream=width,height"), QStringLiteral("-of"),
        QStringLiteral("csv=p=0"), file}).trimmed().split(',');
    if (size.size() != 2)
        return d;
    d.width = size[0].toInt();
    d.height = size[1].toInt();
    const QByteArray luma = run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"),
        QStringLiteral("-i"), file, QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
        QStringLiteral("gray"), QStringLiteral("-")});
    if (luma.size() == d.width * d.height)
        d.frame = framecode::decodeFrameNumberLuma(reinterpret_cast<const uint8_t *>(luma.constData()), d.width,
                                                   d.height, d.width);
    return d;
}

TEST(SnapshotNames, ModesFallbacksAndChannelFiles)
{
    qputenv("TZ", "UTC");
    tzset();
    // 2012-03-05 14:22:33 UTC as a Windows file time.
    const WindowsFileTime at = windowsFileTimeOf(1330957353);
    const QString player = QStringLiteral("N_20120305_142233_2CH_F.avi");
    const struct {
        std::uint32_t flags;
        std::string entry;
        WindowsFileTime fileTime;
        std::uint64_t positionMs;
        const char *base;
    } cases[] = {
        {kFlagAddPos, "X_20120315_142530_2CH_F.avi", at, 90000, "20120315_142700"},
        {kFlagAddPos, "20120315_142530_F.avi", at, 500, "20120315_142530"},
        {kFlagAddPos, "N_1234_F.avi", at, 90000, ""},
        {kFlagAddPos, "X_20120231_142530_2CH_F.avi", at, 0, "N_20120305_142233_2CH_F"}, // no 31 February
        {kFlagAddPos, "Xnounderscore_at_all", at, 0, "N_20120305_142233_2CH_F"},
        {0, "X_20120315_142530_2CH_F.avi", at, 90000, "N_20120305_142233_2CH_F"},
        {kFlagFileTime, "X_20120315_142530_2CH_F.avi", at, 90000, "20120305_142233"},
        {kFlagFileTime | kFlagAddPos, "X_20120315_142530_2CH_F.avi", at, 90000, "20120305_142403"},
        {kFlagFileTime, "X_20120315_142530_2CH_F.avi", 0, 0, "N_20120305_142233_2CH_F"}, // no file time
        {kFlagFileTime, "X", ~WindowsFileTime{0}, 0, "N_20120305_142233_2CH_F"},         // past 9999
    };
    for (const auto &c : cases)
        EXPECT_EQ(snapshotBaseName(c.flags, player, c.entry, c.fileTime, c.positionMs).toStdString(), c.base)
            << c.entry << " flags " << c.flags;

    EXPECT_EQ(snapshotChannelPath(QStringLiteral("/s/base_CHx.jpg"), 0), QStringLiteral("/s/base_CH(Front).jpg"));
    EXPECT_EQ(snapshotChannelPath(QStringLiteral("/s/abc.jpg"), 0), QStringLiteral("/s/ab(Front).jpg"));
    EXPECT_EQ(snapshotChannelPath(QStringLiteral("/s/abc.jpg"), 1), QStringLiteral("/s/ab(Rear).jpg"));
    // A short typed name never sends the file to the folder above.
    EXPECT_EQ(snapshotChannelPath(QStringLiteral("/s/ab"), 0), QStringLiteral("/s/(Front).jpg"));
    EXPECT_EQ(reportDocumentName(QDateTime(QDate(2012, 3, 3), QTime(10, 5, 7))), QStringLiteral("2012331057"));
}

class ReportTest : public PlayerTest {
protected:
    void TearDown() override
    {
        platform::Dialogs::setHooks({});
        ViewerConfig::instance().flags = 0;
        PlayerTest::TearDown();
    }
    // Pauses and seeks so the screens show the frame of `ms`.
    void pauseAt(std::uint64_t ms)
    {
        if (state() == StateRunning)
            click(CPlayerMenuDlg::Play);
        ASSERT_EQ(state(), StatePaused);
        sendMessage(player.get(), msg::Seek, static_cast<quintptr>(ms));
        pump();
    }
    TempDir out;
};

TEST_F(ReportTest, CaptureWritesOneJpegPerChannelWithTheFrameOfThePosition)
{
    QString proposed;
    QString answer;
    platform::DialogHooks hooks;
    hooks.saveFile = [&](const QString &, const QString &start, const QString &filter) {
        proposed = start;
        EXPECT_EQ(filter, QStringLiteral("JPG Image (*.jpg)"));
        return answer;
    };
    platform::Dialogs::setHooks(hooks);
    const auto jpegs = [&] {
        std::vector<std::string> names;
        for (const auto &e : std::filesystem::directory_iterator(out.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };

    ASSERT_TRUE(openRow(0)); // two channels
    pauseAt(2000);
    answer = QString::fromStdString(out.file("snap_CHx.jpg"));
    captureSnapshots(GetViewerState(), *player);
    EXPECT_EQ(proposed, QStringLiteral("N_20120305_142233_2CH_F_CHx.jpg"));
    EXPECT_EQ(state(), StatePaused); // paused stays paused
    ASSERT_EQ(jpegs(), (std::vector<std::string>{"snap_CH(Front).jpg", "snap_CH(Rear).jpg"}));
    for (const char *name : {"snap_CH(Front).jpg", "snap_CH(Rear).jpg"}) {
        const Decoded d = decodeJpeg(out.file(name));
        EXPECT_EQ(d.width, 320) << name;
        EXPECT_EQ(d.height, 240) << name;
        EXPECT_NEAR(d.frame, 60, 1) << name; // 2 s at 30 frames a second
    }

    // Cancelled: nothing written; running resumes.
    click(CPlayerMenuDlg::Play);
    ASSERT_EQ(state(), StateRunning);
    answer.clear();
    std::filesystem::remove_all(out.path());
    std::filesystem::create_directories(out.path());
    captureSnapshots(GetViewerState(), *player);
    EXPECT_EQ(state(), StateRunning);
    EXPECT_TRUE(jpegs().empty());

    // A front-only recording with a typed name: one file, five characters cut.
    ASSERT_TRUE(openRow(1));
    ViewerConfig::instance().flags = kFlagAddPos;
    pauseAt(3000);
    answer = QString::fromStdString(out.file("abc.jpg"));
    captureSnapshots(GetViewerState(), *player);
    EXPECT_EQ(proposed, QStringLiteral("20120305_143003_CHx.jpg"));
    EXPECT_EQ(jpegs(), (std::vector<std::string>{"ab(Front).jpg"}));
}

// Reads that wait until the test opens the gate: the digests stay pending.
class GatedSource final : public ByteSource {
public:
    GatedSource(std::unique_ptr<ByteSource> inner, std::atomic<bool> &open) : m_inner(std::move(inner)), m_open(open) {}
    std::int64_t size() const override { return m_inner->size(); }
    std::int64_t readAt(std::int64_t offset, void *buffer, std::int64_t length) override
    {
        while (!m_open.load())
            QThread::msleep(5);
        return m_inner->readAt(offset, buffer, length);
    }

private:
    std::unique_ptr<ByteSource> m_inner;
    std::atomic<bool> &m_open;
};

TEST_F(ReportTest, ReportPrintedToPdfCarriesTextsDigestsAndPictures)
{
    ASSERT_TRUE(openRow(0));
    pauseAt(2000);
    const std::string pdf = out.file("report.pdf");
    platform::DialogHooks hooks;
    hooks.print = [&](QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(pdf));
        return true;
    };
    platform::Dialogs::setHooks(hooks);

    // A map stand-in of one colour; a hidden one gives the drawn track.
    QWidget map;
    map.setFixedSize(315, 310);
    map.setStyleSheet(QStringLiteral("background: rgb(0, 200, 0)"));
    map.setAutoFillBackground(true);
    EXPECT_TRUE(grabMapPicture(&map).isNull());
    map.show();
    pump();
    const QImage mapPicture = grabMapPicture(&map);
    ASSERT_EQ(mapPicture.size(), QSize(299, 280));
    EXPECT_EQ(QColor(mapPicture.pixel(150, 140)), QColor(0, 200, 0));

    QImage frame;
    ASSERT_EQ(GetViewerState().engine.GrabFrame(0, frame), 1);
    // The recording's fixes as the metadata poller appends them (this
    // fixture has no poller), here from a camera 47 s slow: the sentence's
    // UTC is 9 h 0 min 47 s behind the name's time.
    for (int i = 0; i < 3; ++i) {
        CQDRVGPSData fix;
        const std::string sentence = "GPRMC,0523" + std::to_string(20 + i) + ".00,A,3730.0,N,12700.0,E,10.0,90.0,050312";
        ASSERT_TRUE(ParseGpsSentence(fix, i * 1000, sentence.c_str()));
        GetViewerState().sensorData.appendFix(fix);
    }
    ReportEvidence evidence = collectEvidence(GetViewerState(), *player);
    GetViewerState().sensorData.clearFixes();
    EXPECT_EQ(evidence.cameraClock, "camera clock 47 s slow");
    EXPECT_EQ(collectEvidence(GetViewerState(), *player).cameraClock, "") << "without fixes nothing is known";
    std::atomic<bool> gate{false};
    setByteSourceWrapper([&gate](std::unique_ptr<ByteSource> inner) -> std::unique_ptr<ByteSource> {
        return std::make_unique<GatedSource>(std::move(inner), gate);
    });
    CPrintDlg dialog(mainWindow.get(), frame, std::move(evidence));
    // The worker opens its sources after the dialog is made: unwrap at the
    // end, with the gate open before the dialog waits for its worker.
    const std::shared_ptr<void> unwrap(nullptr, [&gate](void *) {
        gate = true;
        setByteSourceWrapper({});
    });
    dialog.setMapPicture(mapPicture);
    ASSERT_EQ(dialog.evidence().files.size(), 2u);
    EXPECT_EQ(dialog.evidence().positionMs, 2000u);
    EXPECT_EQ(dialog.detailsEdit()->toPlainText(), CPrintDlg::kTemplateText.split(QStringLiteral("\r\n")).join(QLatin1Char('\n')));

    // Enter starts a new line, wherever it is pressed, and prints nothing.
    dialog.detailsEdit()->setPlainText(QStringLiteral("Vehicle 12-AB-345 hit at the junction"));
    dialog.detailsEdit()->moveCursor(QTextCursor::End);
    QTest::keyClick(dialog.detailsEdit(), Qt::Key_Return);
    QTest::keyClick(dialog.printButton(), Qt::Key_Return);
    dialog.detailsEdit()->insertPlainText(QStringLiteral("Driver unhurt"));
    EXPECT_EQ(dialog.detailsEdit()->toPlainText(),
              QStringLiteral("Vehicle 12-AB-345 hit at the junction\n\nDriver unhurt"));
    EXPECT_EQ(dialog.printedCount(), 0);

    // Print Start before the digests are known: the page waits for them.
    sendMessage(&dialog, msg::ButtonClick, CPrintDlg::kPrintId);
    pump();
    EXPECT_TRUE(dialog.isHashing());
    EXPECT_EQ(dialog.printedCount(), 0);
    EXPECT_TRUE(dialog.statusText().contains(QStringLiteral("prints once")));
    gate = true;
    ASSERT_TRUE(waitFor([&] { return dialog.printedCount() == 1; }, 30000));
    EXPECT_FALSE(dialog.isHashing());
    EXPECT_TRUE(dialog.statusText().isEmpty());

    const QString info = QString::fromUtf8(run(QStringLiteral("pdfinfo"), {QString::fromStdString(pdf)}));
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n")))) << info.toStdString();
    const QString text = QString::fromUtf8(run(QStringLiteral("pdftotext"), {QString::fromStdString(pdf), QStringLiteral("-")}));
    for (const char *expected : {"Accident Report", "1.Blockbox video captuer", "2.Blockbox map image",
                                 "3.Accident details", "Vehicle 12-AB-345 hit at the junction", "Driver unhurt",
                                 "N_20120305_142233_2CH_F.avi", "N_20120305_142234_2CH_R.avi", "Picture at 00:02.000"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected << "\n" << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Vehicle Number:xxxx")));
    QString packed = text;
    packed.remove(QRegularExpression(QStringLiteral("\\s")));
    for (const auto &file : dialog.evidence().files) {
        const QString digest = QString::fromLatin1(run(QStringLiteral("sha256sum"), {QString::fromStdString(file.path)}).left(64));
        EXPECT_TRUE(packed.contains(QStringLiteral("SHA-256:") + digest)) << file.path;
    }
    EXPECT_TRUE(packed.contains(QStringLiteral("recorded2012-03-0514:22:33,cameraclock47sslow"))) << text.toStdString();

    // The rendered page: the map's green and the video picture's colours.
    run(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("50"), QStringLiteral("-png"),
                                     QStringLiteral("-singlefile"), QString::fromStdString(pdf),
                                     QString::fromStdString(out.file("page"))});
    const QImage page(QString::fromStdString(out.file("page.png")));
    ASSERT_FALSE(page.isNull());
    int green = 0, coloured = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c(page.pixel(x, y));
            if (std::abs(c.red()) < 30 && std::abs(c.green() - 200) < 30 && c.blue() < 30)
                ++green;
            else if (c.saturation() > 60 && c.value() > 40)
                ++coloured;
        }
    // At 50 dpi a screen unit is about half a page pixel: the map covers
    // some 299 x 280 / 4 pixels, the video picture 708 x 484 / 4.
    EXPECT_GT(green, 299 * 280 / 4 / 2);
    EXPECT_GT(coloured, 708 * 484 / 4 / 4);

    sendMessage(&dialog, msg::ButtonClick, CPrintDlg::kCloseId);
    EXPECT_EQ(dialog.result(), platform::IDOK);
}

} // namespace
} // namespace korvante::testing
