#include "gui/platform/message_box.h"
#include "gui/platform/message_window.h"
#include "gui/platform/messages.h"
#include "gui/platform/skin_library.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <QPrinter>

#include <gtest/gtest.h>

#include <vector>

using namespace korvante;

namespace {

QApplication &app()
{
    static int argc = 1;
    static char name[] = "gui_platform_tests";
    static char *argv[] = {name, nullptr};
    static QApplication *instance = new QApplication(argc, argv);
    return *instance;
}

struct Received {
    int message;
    quintptr w;
    qintptr l;
};

class RecordingPanel final : public PanelWindow {
public:
    std::vector<Received> messages;
    std::vector<int> ticks;

    using PanelWindow::killTimer;
    using PanelWindow::setTimer;

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override
    {
        messages.push_back({message, w, l});
        return message == msg::ButtonClick ? static_cast<qintptr>(w) * 10 : -1;
    }
    void onTimer(int id) override
    {
        ticks.push_back(id);
        if (id == 0)
            killTimer(0); // one-shot, as the main window's show timer
    }
};

void pump(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

} // namespace

TEST(PanelMessageTest, PostIsQueuedSendIsImmediateWithResult)
{
    app();
    RecordingPanel panel;
    EXPECT_TRUE(postMessage(&panel, msg::PanelCommand, cmd::Start, 7));
    EXPECT_TRUE(panel.messages.empty()); // not before the event loop runs
    EXPECT_EQ(sendMessage(&panel, msg::ButtonClick, 16), 160);
    ASSERT_EQ(panel.messages.size(), 1u);
    QCoreApplication::processEvents();
    ASSERT_EQ(panel.messages.size(), 2u);
    EXPECT_EQ(panel.messages[1].message, 1127);
    EXPECT_EQ(panel.messages[1].w, 3u);
    EXPECT_EQ(panel.messages[1].l, 7);

    EXPECT_FALSE(postMessage(nullptr, msg::PanelCommand));
    EXPECT_EQ(sendMessage(nullptr, msg::PanelCommand), 0);
    // The numbers are a protocol between panels and must not drift.
    EXPECT_EQ(msg::ButtonClick, 2024);
    EXPECT_EQ(msg::ScreenSelect, 1124);
    EXPECT_EQ(msg::SliderMoved, 1125);
    EXPECT_EQ(msg::Seek, 1126);
    EXPECT_EQ(msg::EnableWindows, 1128);
}

TEST(PanelMessageTest, MessagesPostedToADestroyedPanelAreDropped)
{
    app();
    auto *panel = new RecordingPanel;
    postMessage(panel, msg::PanelCommand, cmd::Reset);
    delete panel; // Qt removes its pending events
    QCoreApplication::processEvents();
    SUCCEED();
}

TEST(TimerSetTest, TimersAreKeyedByIdRepeatAndCanBeReplacedOrKilled)
{
    app();
    RecordingPanel panel;
    panel.setTimer(0, 10);
    panel.setTimer(512, 20);
    panel.setTimer(512, 20); // restarting the same id keeps one timer
    pump(150);
    EXPECT_EQ(std::count(panel.ticks.begin(), panel.ticks.end(), 0), 1);
    const auto repeats = std::count(panel.ticks.begin(), panel.ticks.end(), 512);
    EXPECT_GE(repeats, 3);
    EXPECT_LE(repeats, 8);
    EXPECT_TRUE(panel.isTimerActive(512));
    EXPECT_TRUE(panel.killTimer(512));
    EXPECT_FALSE(panel.killTimer(512));
    EXPECT_FALSE(panel.killTimer(999));
    const size_t before = panel.ticks.size();
    pump(60);
    EXPECT_EQ(panel.ticks.size(), before);
}

TEST(MessageBoxHookTest, HookAnswersInsteadOfTheRealBox)
{
    app();
    std::vector<QString> texts;
    auto previous = platform::setMessageBoxHook([&texts](const QString &text, const QString &, unsigned type) {
        texts.push_back(text);
        return (type & 0xF) == platform::MB_YESNO ? platform::IDNO : platform::IDOK;
    });
    EXPECT_EQ(platform::messageBox(nullptr, QStringLiteral("Not Find VX filter")), platform::IDOK);
    EXPECT_EQ(platform::messageBox(nullptr, QStringLiteral("Format?"), {}, platform::MB_YESNO), platform::IDNO);
    platform::setMessageBoxHook(std::move(previous));
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], QStringLiteral("Not Find VX filter"));

    platform::DialogHooks hooks;
    hooks.saveFile = [](const QString &, const QString &start, const QString &) -> QString {
        return start + QStringLiteral(".jpg");
    };
    hooks.folder = [](const QString &, const QString &) { return QString(); };
    hooks.print = [](QPrinter &printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        return true;
    };
    auto old = platform::Dialogs::setHooks(hooks);
    EXPECT_EQ(platform::Dialogs::getSaveFileName(nullptr, {}, QStringLiteral("/tmp/a"), {}), QStringLiteral("/tmp/a.jpg"));
    EXPECT_TRUE(platform::Dialogs::getExistingDirectory(nullptr, {}, {}).isEmpty());
    QPrinter printer;
    EXPECT_TRUE(platform::Dialogs::print(nullptr, printer));
    EXPECT_EQ(printer.outputFormat(), QPrinter::PdfFormat);
    platform::Dialogs::setHooks(std::move(old));
}

TEST(MessageBoxTest, NamesWithMarkupAreShownAsPlainText)
{
    app();
    // The real box is shown here even where the test run asks for no boxes.
    const QByteArray headless = qgetenv("KORVANTE_HEADLESS");
    qunsetenv("KORVANTE_HEADLESS");
    const auto restore = qScopeGuard([&] {
        if (!headless.isNull())
            qputenv("KORVANTE_HEADLESS", headless);
    });
    ASSERT_FALSE(platform::headless());
    const QString text = QStringLiteral("Cannot open /tmp/<h1 style=\"color:red\">YOUR CARD IS DAMAGED<br>call "
                                        "555-0100<hr><img src=\"logo.png\">.txt: it is not a recording.");
    QString shown;
    Qt::TextFormat format = Qt::RichText;
    bool seen = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        seen = true;
        if (const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"))) {
            shown = label->text();
            format = label->textFormat();
        }
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(10);
    EXPECT_EQ(platform::messageBox(nullptr, text), platform::IDOK);
    ASSERT_TRUE(seen);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(shown, text);
}

TEST(SkinLibraryTest, MissingFileAndMissingImagesGiveNothing)
{
    app();
    EXPECT_FALSE(SkinLibrary::load(QStringLiteral("/nonexistent/ResourceDll.rcc")));
    EXPECT_TRUE(SkinLibrary::bitmap(99999).isNull());
    EXPECT_TRUE(SkinLibrary::appBitmap(99999).isNull());
}
