#pragma once
// The strip of playback controls under the screens (template 135): 730 x 50 at
// the main window's origin plus (24, 453); in the wide layouts at the bottom
// right of the screen. It turns the user's buttons and sliders into media
// engine operations, opens the recording that has the focus in the file list,
// steps through the list, and tells the other panels when playback starts,
// pauses and stops (panel commands posted through the registry).
//
// Ownership: owned by the main window; owns its sliders, text boxes and
// buttons (child widgets). The screens, the map view and the G-sensor graph
// are peers it does not own. UI thread only.

#include "core/playback/media_engine.h"
#include "gui/platform/panel_frame.h"

#include <QImage>
#include <QPointer>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>


namespace korvante {

class CBitmapSlider;
class CScreenDlg;
class TripSource;
struct RecordingEntry;
class CSkinButton;
class CTextBox;
class VideoWindow;
struct StorageSource;
struct ViewerState;

class CPlayerMenuDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 135;
    static constexpr QPoint kOffset{24, 453};
    static constexpr QSize kSize{730, 50};

    static constexpr int kSeekSliderId = 256;
    static constexpr int kVolumeSliderId = 257;
    static constexpr int kCurrentTimeId = 1003;
    static constexpr int kLengthId = 1006;
    // The playback speed, shown under the current time while it is not 1.0.
    static constexpr int kSpeedId = 1007;
    // The speeds [ and ] step through: the engine's range, 0.5 to 2.0.
    static constexpr std::array<float, 6> kSpeeds{0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 2.0f};
    // Timer 512 moves the slider, the time display and the graph cursor while
    // a recording plays (and, while its file is still walked, grows the
    // slider's length and follows a seek that waits for the walk, paused
    // too); timer 513 is the one-second pause before the row the list
    // stepped to is played.
    static constexpr int kProgressTimer = 512;
    static constexpr int kProgressIntervalMs = 100;
    static constexpr int kNextFileTimer = 513;
    static constexpr int kNextFileDelayMs = 1000;
    // The loudest volume the slider applies; positions above it act as it.
    static constexpr int kMaxVolume = 90;

    // Button ids; each is the action its click runs.
    enum Action : int {
        PreviousFile = 0,
        Rewind = 1,
        Play = 2,
        Stop = 3,
        Forward = 4,
        NextFile = 5,
        Print = 7,
        Capture = 8,
        ScreenSwitching = 9,
        FlipShownScreen = 10, // no button: reached by message only
        RearVideoFlip = 11,
        SensorInformation = 12,
        MapInformation = 13,
        FileList = 14,
        ScreenSettings = 15,
        SaveDevices = 16,
        DeviceSettings = 17,
    };

    // The dialogs that some actions open. Each is modal and runs on the UI
    // thread; an empty function opens nothing (the action still does its part
    // around the dialog).
    struct DialogHooks {
        // The accident report, with the grabbed frame and the map view whose
        // display it prints (may be null).
        std::function<void(const QImage &frame, QWidget *mapView)> printReport;
        // Snapshot capture of the open recording (it pauses and resumes itself).
        std::function<void()> capture;
        // The card formatter.
        std::function<void()> formatCard;
        // The device settings editor for the catalogue's selected source.
        std::function<void(const StorageSource &source)> deviceSettings;
    };

    // The screens are the front and rear screen panels (CScreen1Dlg,
    // CScreen2Dlg; not owned).
    CPlayerMenuDlg(QWidget *mainWindow, QWidget *frontScreen, QWidget *rearScreen);
    ~CPlayerMenuDlg() override;

    // The list the player opens from and steps through: the file list
    // panel's, connected by the main window. Until it is set the list is empty.
    struct FileListLink {
        std::function<int()> currentRow; // -1 when no row is current
        std::function<int()> rowCount;
        // Makes the row current and the only one selected, gives the list the
        // focus and scrolls the row into view.
        std::function<void(int row)> moveToRow;
        std::function<void()> revealCurrentRow;
    };

    // Where the player learns what follows the playing recording in its
    // drive, connected by the main window: the trips of the listed source
    // (not owned), and the file list's "list every kind", for a next
    // recording that a kind filter or a search leaves out of the list.
    struct TripLink {
        TripSource *trips = nullptr;
        std::function<void()> listAllKinds;
    };
    void setTripLink(TripLink link);
    // "Play trips continuously": when on, the recording that follows the
    // playing one in its trip is opened beside it a few seconds in and takes
    // over at its end without the pause of Next File, its row selected in
    // the file list. Off, or at the trip's end, the end of a recording does
    // what it always did. Kept across runs (the registry's player group).
    void setContinuous(bool on);
    bool continuous() const { return m_continuous; }
    // The recording prepared to follow the playing one ("" when none).
    QString preparedName() const { return m_preparedName; }
    static constexpr int kPrerollAfterMs = 3000;

    // Set by the main window after creation (not owned): the map view, whose
    // display the accident report prints.
    void setPeerPanels(QWidget *mapView);
    void setFileListLink(FileListLink link);
    void setDialogHooks(DialogHooks hooks);

    void followMainWindow() override;
    void setLayout(int wide) override;
    static QRect widePlacement(QSize screen);

    // Runs action `id` as its button would; the result is 1 or 0 for the
    // stepping actions (whether the list moved) and 0 otherwise.
    int runAction(int id);
    // Opens the recording that has the focus in the file list and plays it
    // once its files are read (on the engine's worker: this returns at once,
    // showing "Opening NAME" in the front screen with a busy cursor). A file
    // that cannot be played leaves "Cannot play NAME: REASON" there instead.
    // 1 the open began, 0 nothing to open (no focused row or no source).
    int openFocusedRecording();
    // Whether an open begun here is still reading its files.
    bool isOpening() const;
    // The line shown in the front screen instead of the picture, or "".
    QString screenMessage() const;

    // "%02d:%02d": whole minutes (not limited to two digits) and seconds.
    static QString formatTime(std::uint64_t milliseconds);

    // Keyboard steps (the main window maps the keys to them).
    // One picture of the front channel forward (+1) or back (-1), exactly,
    // through the engine's seek; a playing recording pauses first. 1 when
    // the picture moved, 0 at either end or without a recording.
    int stepFrame(int direction);
    // Opens a trip's recording (as a double click on its row does) and,
    // once it shows, pauses on the picture at `atTicks` (100 ns), or on the
    // one before it with `before`. 1 when the open began.
    int openTripRecordingAt(const std::string &name, const std::string &path, std::int64_t atTicks, bool before);
    // stepFrame, and at either end of a recording across into its trip: a
    // step forward on the last picture opens the next recording of the trip
    // on its first picture, a step back on the first picture the previous
    // one on its last (both paused, their rows selected). 1 when the picture
    // moved or a neighbour is being opened, 0 otherwise.
    int stepFrameInTrip(int direction);
    // The next slower (-1) or faster (+1) of kSpeeds. The speed stays for
    // the recordings opened after it until changed again. Returns the speed.
    float stepSpeed(int direction);
    float speed() const { return m_speed; }
    // The front channel's picture number shown now, -1 when none.
    std::int64_t shownFrame() const;

    CBitmapSlider *seekSlider() const { return m_seek; }
    CBitmapSlider *volumeSlider() const { return m_volume; }
    CTextBox *currentTimeBox() const { return m_currentTime; }
    CTextBox *lengthBox() const { return m_length; }
    // Shows "1.5x" and the like; hidden at normal speed.
    CTextBox *speedBox() const { return m_speedBox; }
    // The button with this id, or null.
    CSkinButton *button(int id) const;
    const std::array<CSkinButton *, 16> &buttons() const { return m_buttons; }

    // The file name and list row of the open recording ("" and -1 until one opens).
    QString currentName() const { return m_currentName; }
    int currentIndex() const { return m_currentIndex; }
    bool flipA() const { return m_flipA; }
    bool flipB() const { return m_flipB; }
    bool rearFlip() const { return m_rearFlip; }
    bool restoreSwap() const { return m_restoreSwap; }
    // Whether each screen shows the rear video (the screens are swapped when
    // the front screen does).
    bool frontShowsRear() const { return m_frontShowsRear; }
    bool rearShowsRear() const { return m_rearShowsRear; }

signals:
    // The playback position shown moved to `milliseconds` from the start: the
    // G-sensor graph's cursor follows (connected by the main window).
    void graphCursorMoved(quint32 milliseconds);

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void onTimer(int id) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void createControls();
    void onPanelCommand(int command);

    // Shared steps of the actions.
    void startPlaying();
    void pausePlaying();
    void setPlayImages(bool playing);
    int stepFile(int direction);
    void seekBySteps(bool forward);
    void stopPlaying();
    void switchScreens();
    void flipShownScreen();
    void print();
    void openModal(const std::function<void()> &dialog);
    void openDeviceSettings();

    // The open arguments of a catalogue entry: the front file (or card
    // path), the rear file and the card device and recording.
    struct OpenArguments {
        std::string name;
        std::string front;
        std::string rear;
        std::intptr_t device = 0;
        std::int32_t recording = -1;
    };
    OpenArguments openArgumentsOf(const RecordingEntry &entry) const;

    // The trip's next recording: prepared in the engine, then switched to.
    void maybePreroll();
    void onSwitchedToNext();
    void dropPrepared();
    // The file list row of a trip's recording, every kind listed first when
    // `listAll` and the list leaves it out (-1 when it cannot be listed).
    int listedRowOf(const std::string &name, const std::string &path, bool listAll);
    void pauseWhereStepped();
    // The stored "Play trips continuously" (on when never set).
    static bool storedContinuous();

    // Opening and the screens.
    void onOpened(const MediaEngine::OpenOutcome &outcome, int row, const QString &name);
    void cancelOpening();
    void showScreenMessage(const QString &text);
    void setBusy(bool busy);
    void assignScreens();
    void swapToFront(bool frontVideoInFrontScreen);
    VideoWindow *frontArea() const;
    VideoWindow *rearArea() const;

    // Position and time.
    void onSeek(quintptr position);
    void applyVolume();
    void onProgressTick();
    // The screen says so while a seek waits for the walk of the file, and
    // the slider's length follows the walk. True while either still moves.
    bool followWalk();
    void refreshTimeDisplay();
    void setGraphCursor(std::uint64_t milliseconds);
    void showPausedPosition(std::uint64_t milliseconds);
    void applySpeed();
    void nameKeysInTooltips();

    // The file list link's answers; an unset link is an empty list.
    int fileListRow() const;
    int fileListRows() const;

    ViewerState &m_state;
    QPointer<CScreenDlg> m_frontScreen;
    QPointer<CScreenDlg> m_rearScreen;
    QPointer<QWidget> m_mapView;
    FileListLink m_fileList;
    DialogHooks m_hooks;
    bool m_wide = false;

    CBitmapSlider *m_seek = nullptr;
    CBitmapSlider *m_volume = nullptr;
    CTextBox *m_currentTime = nullptr;
    CTextBox *m_length = nullptr;
    CTextBox *m_speedBox = nullptr;
    std::array<CSkinButton *, 16> m_buttons{}; // in creation order

    QString m_currentName;
    int m_currentIndex = -1;
    std::uint64_t m_openRequest = 0; // the open whose outcome is awaited
    bool m_busy = false;             // the busy cursor is shown
    bool m_walkMessage = false;      // the screen says that a seek waits for the walk
    bool m_flipA = false;
    bool m_flipB = false;
    bool m_rearFlip = false;
    bool m_restoreSwap = false;
    bool m_frontShowsRear = false;
    bool m_rearShowsRear = true;
    float m_speed = 1.0f;

    TripLink m_trip;
    bool m_continuous = true;
    QString m_prerollDone;     // the recording whose next one was looked for
    QString m_tripAsked;       // the recording whose trip is being read
    QString m_preparedName;
    std::string m_preparedPath;
    std::uint64_t m_prepareRequest = 0;
    // A step across a boundary: where the opened recording pauses.
    struct PauseAt {
        std::int64_t ticks = 0;
        bool before = false;
    };
    std::optional<PauseAt> m_pauseAt;
};

} // namespace korvante
