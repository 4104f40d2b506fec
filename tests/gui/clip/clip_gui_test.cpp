// Making a clip in the viewer, offscreen, on one card that korvante-mkcard
// writes (one recording of each kind, 4 s, 14 s apart, front and rear, sound):
// the span set in the first recording and ended in the second, its marks on
// the seek slider, the save dialog's proposal and its refusals, a clip written
// through the worker and named in the evidence, a cancel that leaves nothing,
// and the keys I and O in the main window.

#include "core/clip/evidence.h"
#include "core/config/viewer_config.h"
#include "core/playback/viewer_state.h"
#include "core/storage/list_view.h"
#include "core/storage/recording_catalogue.h"
#include "gui/app/trail_player_dlg.h"
#include "gui/clip/clip_controller.h"
#include "gui/clip/clip_dialog.h"
#include "gui/platform/message_box.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/playback/player_menu_dlg.h"
#include "gui/storage/file_manager_dlg.h"
#include "gui/trip/trip_bar.h"
#include "gui/ui/bitmap_slider.h"
#include "support/viewer_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvante::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

QApplication &app() { return viewerTestApp("gui_clip_tests"); }

// N_20240501_100000 (0..4 s) and E_20240501_100014 (14..18 s) open the card.
constexpr const char *kFirst = "N_20240501_100000_2CH_F.avi";
constexpr const char *kSecond = "E_20240501_100014_2CH_F.avi";

const std::string &cardFolder()
{
    static TempDir dir;
    static const std::string path = makeSampleCard(
        dir, {QStringLiteral("--per-kind"), QStringLiteral("1"), QStringLiteral("--seconds"), QStringLiteral("4"),
              QStringLiteral("--size"), QStringLiteral("320x240"), QStringLiteral("--rear-size"),
              QStringLiteral("320x240"), QStringLiteral("--channels"), QStringLiteral("2"), QStringLiteral("--audio"),
              QStringLiteral("aac"), QStringLiteral("--start"), QStringLiteral("2024-05-01 10:00:00")});
    return path;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> filesIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

clip::CameraTime at(const char *text)
{
    return *clip::parseCameraTime(text);
}

// A controller over the card as the viewer would drive it: the "player" is
// the name and position the test sets, the plan reads a catalogue of the card.
class ClipControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        app();
        ASSERT_FALSE(cardFolder().empty()) << "korvante-mkcard failed";
        m_previous = platform::setMessageBoxHook([this](const QString &text, const QString &, unsigned) {
            boxes.push_back(text);
            return answer;
        });
        for (const char *folder : {"NOR", "EVT", "MOT", "MAN"})
            catalogue.addFolder(folder);
        catalogue.addExtension("AVI");
        StorageSource source;
        source.label = cardFolder() + "/";
        source.kind = SourceRemovable;
        catalogue.setSources({source});
        ASSERT_TRUE(catalogue.selectSource(0));
        NullListView rows;
        catalogue.listAllWithoutRepair(rows);

        hostWidget = std::make_unique<QWidget>();
        QWidget &host = *hostWidget;
        host.resize(730, 50);
        slider = new CBitmapSlider(CBitmapSlider::seekText(), 256, QRect(40, 0, 520, 12), &host);
        QPixmap channel(520, 12);
        channel.fill(QColor(40, 40, 60));
        slider->setChannelImages(channel, QPixmap(), false);
        slider->setRange(0, 4000);
        ClipController::Links links;
        links.currentName = [this] { return name; };
        links.positionMs = [this] { return position; };
        links.plan = [this](clip::CameraTime in, clip::CameraTime out, std::string &error) {
            return clip::planClip(catalogue, in, out, nullptr, error);
        };
        links.speedUnit = [] { return 0; };
        ClipController::Placement placement;
        placement.buttons = &host;
        placement.inOutClear = QRect(543, 24, 54, 20);
        placement.save = QRect(266, 24, 76, 20);
        placement.status = &host;
        placement.statusRect = QRect(0, 0, 300, 12);
        controller = std::make_unique<ClipController>(std::move(links), slider, placement, &host);
    }
    void TearDown() override
    {
        controller.reset();
        hostWidget.reset();
        platform::setMessageBoxHook(std::move(m_previous));
    }

    // In at 2.5 s of the first recording, Out at 1.5 s of the second.
    void markAcross()
    {
        name = QString::fromUtf8(kFirst);
        position = 2500;
        ASSERT_TRUE(controller->markIn());
        name = QString::fromUtf8(kSecond);
        position = 1500;
        ASSERT_TRUE(controller->markOut());
    }
    // Saves through the dialog, answered by `answerDialog`; waits for the end.
    std::optional<clip::ClipOutcome> save(const std::function<void(CClipDialog &)> &answerDialog, bool cancelAtOnce)
    {
        QSignalSpy finished(controller.get(), &ClipController::clipFinished);
        controller->setDialogRunner([&](CClipDialog &dialog) {
            answerDialog(dialog);
            return dialog.result();
        });
        if (!controller->saveClip())
            return std::nullopt;
        EXPECT_TRUE(controller->isWriting());
        EXPECT_FALSE(controller->saveButton()->isEnabled()); // one clip at a time
        EXPECT_NE(controller->progressWindow(), nullptr);
        if (cancelAtOnce)
            controller->cancelClip();
        EXPECT_TRUE(waitUntil([&] { return finished.count() == 1; }, 120000));
        if (finished.count() != 1)
            return std::nullopt;
        EXPECT_EQ(controller->progressWindow(), nullptr);
        return finished.front().front().value<clip::ClipOutcome>();
    }

    RecordingCatalogue catalogue;
    std::unique_ptr<QWidget> hostWidget;
    CBitmapSlider *slider = nullptr;
    std::unique_ptr<ClipController> controller;
    QString name;
    std::optional<std::int64_t> position;
    std::vector<QString> boxes;
    int answer = platform::IDOK;
    platform::MessageBoxHook m_previous;
};

TEST_F(ClipControllerTest, SpanAcrossRecordingsIsMarkedOnTheSliderAndInTheStatusLine)
{
    QSignalSpy changed(controller.get(), &ClipController::spanChanged);
    // Nothing playing: no mark, and the line says why.
    EXPECT_FALSE(controller->markIn());
    EXPECT_TRUE(controller->statusText().contains(QStringLiteral("play or pause")));
    EXPECT_FALSE(controller->saveButton()->isEnabled());

    markAcross();
    EXPECT_EQ(controller->span().in(), at("2024-05-01 10:00:02.500"));
    EXPECT_EQ(controller->span().out(), at("2024-05-01 10:00:15.500"));
    EXPECT_EQ(controller->statusLabel()->text(),
              QStringLiteral("Clip 2024-05-01 10:00:02.500 – 10:00:15.500 (13 s)"));
    EXPECT_TRUE(controller->saveButton()->isEnabled());
    ASSERT_GE(changed.count(), 2);
    EXPECT_EQ(changed.back().at(1).value<std::optional<clip::CameraTime>>(), controller->span().out());

    // The open recording is the second: In lies before it, so only Out's tick
    // shows and the shading runs from the slider's start to it.
    EXPECT_EQ(slider->markIn(), -1);
    EXPECT_EQ(slider->markOut(), 1500);
    slider->setPos(3800); // the thumb away from the marks
    const QImage marked = slider->grab().toImage();
    slider->setMarks(std::nullopt, std::nullopt);
    const QImage plain = slider->grab().toImage();
    const int mid = slider->height() / 2;
    EXPECT_EQ(marked.pixelColor(slider->pixelOfValue(1500), mid), CBitmapSlider::outMarkColour());
    EXPECT_NE(marked.pixelColor(slider->pixelOfValue(700), mid), plain.pixelColor(slider->pixelOfValue(700), mid));
    EXPECT_EQ(marked.pixelColor(slider->pixelOfValue(2500), mid), plain.pixelColor(slider->pixelOfValue(2500), mid));
    for (int x = 0; x < slider->width(); ++x)
        EXPECT_NE(marked.pixelColor(x, mid), CBitmapSlider::inMarkColour()) << "at " << x;

    // Back in the first recording: In's tick at 2.5 s, shaded on to the end.
    name = QString::fromUtf8(kFirst);
    controller->refreshMarks();
    EXPECT_EQ(slider->markIn(), 2500);
    EXPECT_EQ(slider->markOut(), 4001);
    const QImage first = slider->grab().toImage();
    EXPECT_EQ(first.pixelColor(slider->pixelOfValue(2500), mid), CBitmapSlider::inMarkColour());
    EXPECT_NE(first.pixelColor(slider->pixelOfValue(3000), mid), plain.pixelColor(slider->pixelOfValue(3000), mid));
    EXPECT_EQ(first.pixelColor(slider->pixelOfValue(1000), mid), plain.pixelColor(slider->pixelOfValue(1000), mid));

    // Out before In: the span stays, cannot be saved, and says so.
    position = 1000;
    ASSERT_TRUE(controller->markOut());
    EXPECT_FALSE(controller->saveButton()->isEnabled());
    EXPECT_TRUE(controller->statusText().contains(QStringLiteral("not after In")));

    // The same source listed again keeps it; another one clears it.
    controller->followSource("card");
    EXPECT_FALSE(controller->span().in()); // the first source seen: a span of none
    markAcross();
    controller->followSource("card");
    EXPECT_TRUE(controller->span().isComplete());
    controller->followSource("another card");
    EXPECT_FALSE(controller->span().in());
    EXPECT_FALSE(controller->span().out());
    EXPECT_FALSE(slider->markIn());
    EXPECT_TRUE(controller->statusLabel()->text().isEmpty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ClipControllerTest, SaveProposesTheNameAndWritesTheClipOnTheWorker)
{
    TempDir out;
    ::chmod(out.path().c_str(), 0755);
    markAcross();
    std::string proposed;
    const auto outcome = save(
        [&](CClipDialog &dialog) {
            proposed = dialog.nameEdit()->text().toStdString();
            dialog.folderEdit()->setText(QString::fromStdString(out.path().string()));
            dialog.layoutBox()->setCurrentIndex(2); // side by side
            dialog.overlayBox()->setChecked(true);
            dialog.qualityBox()->setCurrentIndex(1);
            EXPECT_TRUE(dialog.trySave());
        },
        false);
    EXPECT_EQ(proposed, "clip_20240501_100002.mp4");
    ASSERT_TRUE(outcome);
    ASSERT_TRUE(outcome->ok()) << outcome->message;
    const std::string clipPath = out.file("clip_20240501_100002.mp4");
    EXPECT_EQ(outcome->clipPath, clipPath);
    EXPECT_EQ(filesIn(out.path().string()),
              (std::vector<std::string>{"clip_20240501_100002.mp4", "clip_20240501_100002.mp4.evidence.json"}));
    EXPECT_GT(fs::file_size(clipPath), 1000u);
    EXPECT_EQ(outcome->width, 640); // the rear beside the front

    std::string error;
    const auto evidence = clip::parseEvidence(readAll(clipPath + ".evidence.json"), error);
    ASSERT_TRUE(evidence) << error;
    EXPECT_EQ(evidence->in, "2024-05-01 10:00:02.500");
    EXPECT_EQ(evidence->out, "2024-05-01 10:00:15.500");
    EXPECT_EQ(evidence->layout, "side");
    EXPECT_TRUE(evidence->overlay);
    EXPECT_EQ(evidence->quality, "half");
    std::vector<std::string> fronts;
    for (const clip::EvidenceSource &s : evidence->sources)
        if (s.role == "front")
            fronts.push_back(s.name);
    EXPECT_EQ(fronts, (std::vector<std::string>{kFirst, kSecond}));
    for (const clip::VerifiedFile &f : clip::verifyEvidence(clipPath + ".evidence.json", *evidence, {}))
        EXPECT_EQ(f.state, clip::FileState::Ok) << f.name;

    // The user is told where both files went.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QString::fromStdString(clipPath)));
    EXPECT_TRUE(boxes[0].contains(QString::fromStdString(clipPath + ".evidence.json")));
    // The folder and options are proposed again.
    CClipDialog again(*controller->span().in(), QString());
    EXPECT_EQ(again.folderEdit()->text().toStdString(), out.path().string());
    EXPECT_EQ(again.layoutBox()->currentIndex(), 2);
    EXPECT_TRUE(again.overlayBox()->isChecked());
}

TEST_F(ClipControllerTest, ACancelLeavesNothingBehind)
{
    TempDir out;
    ::chmod(out.path().c_str(), 0755);
    markAcross();
    const auto outcome = save(
        [&](CClipDialog &dialog) {
            dialog.folderEdit()->setText(QString::fromStdString(out.path().string()));
            EXPECT_TRUE(dialog.trySave());
        },
        true);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->status, clip::ClipStatus::Cancelled);
    EXPECT_TRUE(filesIn(out.path().string()).empty());
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(controller->statusText().contains(QStringLiteral("nothing was written")));
    EXPECT_TRUE(controller->saveButton()->isEnabled());
}

TEST_F(ClipControllerTest, RefusalsWriteNothing)
{
    TempDir out;
    ::chmod(out.path().c_str(), 0755);
    const std::string existing = out.file("clip_20240501_100002.mp4");
    { std::ofstream(existing) << "the user's own file"; }
    fs::create_directory(out.file("open"));
    ::chmod(out.file("open").c_str(), 0777); // others could swap the clip for a link
    markAcross();

    struct Case {
        const char *what;
        std::string folder, name;
        int answer;              // to a question
        const char *saysInBox;   // the refusal's or question's words
        bool overwriteAgreed;
    };
    const std::vector<Case> cases = {
        {"existing file, the user keeps it", out.path().string(), "", platform::IDNO, "already exists", false},
        {"existing file, the user replaces it", out.path().string(), "", platform::IDYES, "already exists", true},
        {"missing folder", out.file("missing"), "", platform::IDOK, "missing", false},
        {"folder others may write", out.file("open"), "", platform::IDOK, "other", false},
        {"a name with a slash", out.path().string(), "a/b.mp4", platform::IDOK, "cannot hold", false},
        {"no name", out.path().string(), " ", platform::IDOK, "file name", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boxes.clear();
        answer = c.answer;
        bool saved = false;
        bool overwrite = false;
        // The dialog's answer is taken; no clip is started (it would replace the file).
        controller->setDialogRunner([&](CClipDialog &dialog) {
            dialog.folderEdit()->setText(QString::fromStdString(c.folder));
            if (!std::string(c.name).empty())
                dialog.nameEdit()->setText(QString::fromStdString(c.name));
            saved = dialog.trySave();
            overwrite = dialog.accepted().options.overwrite;
            return int(QDialog::Rejected);
        });
        EXPECT_FALSE(controller->saveClip());
        EXPECT_EQ(saved, c.overwriteAgreed);
        EXPECT_EQ(overwrite, c.overwriteAgreed);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_TRUE(boxes[0].contains(QString::fromUtf8(c.saysInBox), Qt::CaseInsensitive)) << boxes[0].toStdString();
        EXPECT_FALSE(controller->isWriting());
        EXPECT_EQ(readAll(existing), "the user's own file");
        EXPECT_EQ(filesIn(out.path().string()), (std::vector<std::string>{"clip_20240501_100002.mp4", "open"}));
        EXPECT_TRUE(filesIn(out.file("open")).empty());
    }

    // A span no recording covers: the plan's reason, nothing written.
    boxes.clear();
    name = QString::fromUtf8(kFirst);
    position = 5000; // the gap after the first recording
    controller->markIn();
    position = 9000;
    controller->markOut();
    EXPECT_FALSE(controller->startClip(out.file("gap.mp4"), {}));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("no recording covers"))) << boxes[0].toStdString();
    EXPECT_FALSE(fs::exists(out.file("gap.mp4")));
}

// The viewer's own window: keys I and O at the player's position.
class ClipViewerTest : public ViewerWindowTest {
protected:
    void SetUp() override
    {
        app();
        openWindow(cardFolder(), 4);
    }
    // Plays list row `row`, pauses it and seeks to `ms`.
    void pauseAt(int row, std::uint64_t ms)
    {
        window->fileList()->moveToRow(row);
        PostToPanel(panel::PlayerControl, msg::PanelCommand, cmd::Restart);
        MediaEngine &engine = GetViewerState().engine;
        ASSERT_TRUE(waitUntil([&] {
            return !window->playerPanel()->isOpening() && engine.GetState() == StateRunning;
        }, 20000));
        window->playerPanel()->runAction(CPlayerMenuDlg::Play); // pauses
        ASSERT_TRUE(waitUntil([&] { return engine.GetState() == StatePaused; }));
        PostToPanel(panel::PlayerControl, msg::Seek, static_cast<quintptr>(ms));
        ASSERT_TRUE(waitUntil([&] {
            return engine.GetPositionMs() + 100 > ms && engine.GetPositionMs() < ms + 100;
        }, 10000)) << engine.GetPositionMs();
    }
};

TEST_F(ClipViewerTest, KeysIAndOMarkThePlayersPositionAcrossRecordings)
{
    ClipController *clip = window->clipController();
    ASSERT_NE(clip, nullptr);
    ASSERT_EQ(clip->saveButton()->parentWidget(), window->playerPanel());
    EXPECT_FALSE(clip->saveButton()->isEnabled());

    pauseAt(0, 1000);
    ASSERT_EQ(window->playerPanel()->currentName().toStdString(), kFirst);
    const std::uint64_t inMs = GetViewerState().engine.GetPositionMs();
    QTest::keyClick(window.get(), Qt::Key_I);
    EXPECT_EQ(clip->span().in(), at("2024-05-01 10:00:00") + std::chrono::milliseconds(inMs));
    EXPECT_EQ(window->playerPanel()->seekSlider()->markIn(), static_cast<int>(inMs));

    pauseAt(1, 2000);
    ASSERT_EQ(window->playerPanel()->currentName().toStdString(), kSecond);
    const std::uint64_t outMs = GetViewerState().engine.GetPositionMs();
    QTest::keyClick(window->fileList(), Qt::Key_O); // wherever the focus is in the viewer
    EXPECT_EQ(clip->span().out(), at("2024-05-01 10:00:14") + std::chrono::milliseconds(outMs));
    EXPECT_EQ(window->playerPanel()->seekSlider()->markIn(), -1);
    EXPECT_EQ(window->playerPanel()->seekSlider()->markOut(), static_cast<int>(outMs));
    EXPECT_TRUE(clip->saveButton()->isEnabled());
    EXPECT_TRUE(clip->statusLabel()->text().startsWith(QStringLiteral("Clip 2024-05-01 10:00:0")));
    // The trip bar underlines the same span.
    EXPECT_EQ(window->tripBar()->spanIn(), clip->span().in());
    EXPECT_EQ(window->tripBar()->spanOut(), clip->span().out());
    // With a modifier the keys are not the clip's.
    QTest::keyClick(window.get(), Qt::Key_I, Qt::ControlModifier);
    EXPECT_EQ(clip->span().in(), at("2024-05-01 10:00:00") + std::chrono::milliseconds(inMs));

    // The clear button empties the span; another source listed does too.
    clip->clearButton()->click();
    EXPECT_FALSE(clip->span().in());
    QTest::keyClick(window.get(), Qt::Key_O);
    EXPECT_TRUE(clip->span().out());
    TempDir other;
    window->openPath(QString::fromStdString(other.path().string()));
    EXPECT_FALSE(clip->span().out());
}

} // namespace
} // namespace korvante::testing
