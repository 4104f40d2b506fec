#include "setting_dlg.h"

#include "core/clock/card_clock_task.h"
#include "gui/platform/message_box.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/skin_library.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_combo_box.h"

#include <QCheckBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace korvante {

namespace {

constexpr SkinImageIds kSelected{165, 165, 165, 165};
constexpr SkinImageIds kUnselected{166, 167, 167, 167};
constexpr int kClockX[6] = {66, 185, 326, 445, 570, 687};

QFont verdana(int pixels)
{
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(pixels);
    return font;
}

QCheckBox *makeCheck(int id, const QRect &rect, QWidget *parent)
{
    // The caption is drawn by the background; the box is the skinned one.
    auto *box = new CSkinCheckBox(QString(), rect, parent);
    box->setObjectName(QStringLiteral("check%1").arg(id));
    box->setChecked(false);
    return box;
}

} // namespace

CSettingDlg::CSettingDlg(QWidget *owner, const std::string &cardRoot)
    : PanelDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_owner(owner),
      m_settings(settingsPathOfRoot(cardRoot))
{
    setObjectName(QStringLiteral("CSettingDlg"));
    setWindowTitle(QStringLiteral("Device Settings"));
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(kSize);
    const QPixmap background = SkinLibrary::bitmap(kBackgroundImage);
    // Outside the skin's rounded corners the dialog is see-through (where
    // the platform has window shapes).
    if (!background.isNull() && QGuiApplication::platformName() != QLatin1String("offscreen"))
        setMask(background.createMaskFromColor(QColor(255, 0, 255), Qt::MaskInColor));

    for (const SettingOption &option : settingOptions())
        m_options[static_cast<size_t>(option.number)] =
            new CSkinButton(QString::fromLatin1(option.caption), option.number, QRect(option.x, option.y, 20, 20),
                            this, kUnselected);
    new CSkinButton(QStringLiteral("Save"), kSettingSave, QRect(374, 739, 158, 36), this, SkinImageIds{161, 162, 162, 162});
    new CSkinButton(QStringLiteral("Close"), kSettingClose, QRect(833, 10, 65, 28), this,
                    SkinImageIds{163, 164, 164, 164});

    // The clock edits start at the computer's local time.
    const QDateTime now = QDateTime::currentDateTime();
    const int values[6] = {now.date().year(), now.date().month(), now.date().day(),
                           now.time().hour(), now.time().minute(), now.time().second()};
    for (size_t i = 0; i < m_clock.size(); ++i) {
        auto *edit = new QLineEdit(QString::number(values[i]), this);
        edit->setObjectName(QStringLiteral("clock%1").arg(kFirstClockEdit + static_cast<int>(i)));
        edit->setGeometry(kClockX[i], 682, 60, 30);
        edit->setFont(verdana(22));
        edit->setStyleSheet(QStringLiteral("QLineEdit { background: white; color: black; border: none; }"));
        m_clock[i] = edit;
    }
    m_setClock = makeCheck(kClockCheck, QRect(805, 684, 17, 30), this);
    m_resetWifi = makeCheck(kWifiCheck, QRect(710, 519, 17, 30), this);

    m_timeZones = new CSkinComboBox(kTimeZoneList, QRect(230, 641, 600, 0), this);
    m_timeZones->setFont(verdana(18));
    m_timeZones->setFixedHeight(30);
    for (const char *zone : timeZoneNames())
        m_timeZones->addItem(QString::fromLatin1(zone));

    m_settings.setUp();
    showSelection();
    // Requests an earlier save left for the camera stay ticked (with the
    // clock value asked for) until the user clears them.
    m_resetWifi->setChecked(m_settings.pendingWifiReset());
    if (const auto &pending = m_settings.pendingClock()) {
        const int asked[6] = {pending->year, pending->month, pending->day, pending->hour, pending->minute,
                              pending->second};
        for (size_t i = 0; i < m_clock.size(); ++i)
            m_clock[i]->setText(QString::number(asked[i]));
        m_setClock->setChecked(true);
    }
    m_timeZones->setCurrentIndex(m_settings.timeZoneIndex());

    QWidget *main = FindPanel(panel::MainWindow);
    if (!main && m_owner)
        main = m_owner->window();
    if (main)
        move(main->frameGeometry().center() - QPoint(kSize.width() / 2, kSize.height() / 2));
}

CSettingDlg::CSettingDlg(QWidget *owner, const StorageSource &source) : CSettingDlg(owner, source.label)
{
    if (source.label.empty())
        return;
    makeClockControls();
    m_clockTask = new clock::CardClockTask(this);
    connect(m_clockTask, &clock::CardClockTask::finished, this, &CSettingDlg::showClockCheck);
    m_clockTask->start(source);
}

CSettingDlg::~CSettingDlg() = default;

void CSettingDlg::makeClockControls()
{
    // On the "Date and Time" heading's line, right of it, above the time-zone list.
    m_clockLine = new QLabel(QStringLiteral("Camera clock: reading the GPS time of the card's recordings…"), this);
    m_clockLine->setObjectName(QStringLiteral("clockLine"));
    m_clockLine->setGeometry(172, 603, 512, 28);
    m_clockLine->setFont(verdana(14));
    m_clockLine->setStyleSheet(QStringLiteral("QLabel { color: white; background: transparent; }"));
    m_setFromGps = new QPushButton(QStringLiteral("Set from GPS"), this);
    m_setFromGps->setObjectName(QStringLiteral("setFromGps"));
    m_setFromGps->setGeometry(690, 603, 140, 30);
    m_setFromGps->setFont(verdana(15));
    m_setFromGps->setEnabled(false);
    m_setFromGps->setToolTip(QStringLiteral("Choose the camera's time zone from its GPS time and fill the clock "
                                            "with the present time there; Save writes it to the card."));
    connect(m_setFromGps, &QPushButton::clicked, this, &CSettingDlg::setFromGps);
}

namespace {

// The first time-zone entry at `zone`, preferring `current` when it is one; -1 for none.
int timeZoneEntryOf(std::chrono::minutes zone, int current)
{
    const auto &names = timeZoneNames();
    const auto matches = [&](int i) {
        return i >= 0 && i < kTimeZoneCount
               && std::lround(timeZoneOffsetHours(names[static_cast<size_t>(i)]) * 60) == zone.count();
    };
    if (matches(current))
        return current;
    for (int i = 0; i < kTimeZoneCount; ++i)
        if (matches(i))
            return i;
    return -1;
}

} // namespace

void CSettingDlg::showClockCheck(const clock::ClockCheck &check)
{
    m_clockCheck = check;
    if (!check.known()) {
        // Only a card with GPS recordings has a clock line.
        m_clockLine->hide();
        m_setFromGps->hide();
    } else {
        m_clockLine->setText(QStringLiteral("Camera clock: ") + QString::fromStdString(clock::clockSummary(check)));
        const bool listed = timeZoneEntryOf(check.zone, m_timeZones->currentIndex()) >= 0;
        m_setFromGps->setEnabled(listed);
        if (!listed)
            m_setFromGps->setToolTip(QStringLiteral("The time-zone list has no entry for ")
                                     + QString::fromStdString(clock::zoneText(check.zone)) + QStringLiteral("."));
    }
    emit clockChecked(check);
}

void CSettingDlg::setFromGps()
{
    if (!m_clockCheck || !m_clockCheck->known())
        return;
    const int entry = timeZoneEntryOf(m_clockCheck->zone, m_timeZones->currentIndex());
    if (entry < 0)
        return;
    m_timeZones->setCurrentIndex(entry);
    // The true time in the camera's zone, not the camera's own.
    const QDateTime zoned = QDateTime::currentDateTimeUtc().addSecs(
        std::chrono::duration_cast<std::chrono::seconds>(m_clockCheck->zone).count());
    const int values[6] = {zoned.date().year(), zoned.date().month(), zoned.date().day(),
                           zoned.time().hour(), zoned.time().minute(), zoned.time().second()};
    for (size_t i = 0; i < m_clock.size(); ++i)
        m_clock[i]->setText(QString::number(values[i]));
    m_setClock->setChecked(true);
}

CSkinButton *CSettingDlg::optionButton(int number) const
{
    return number >= 0 && number < kSettingOptionCount ? m_options[static_cast<size_t>(number)] : nullptr;
}

void CSettingDlg::showSelection()
{
    for (int number = 0; number < kSettingOptionCount; ++number)
        m_options[static_cast<size_t>(number)]->setSkin(m_settings.isSelected(number) ? kSelected : kUnselected);
}

qintptr CSettingDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message != msg::ButtonClick || w > static_cast<quintptr>(kSettingClose))
        return 0;
    const int number = static_cast<int>(w);
    if (number < kSettingOptionCount) {
        m_settings.selectOption(number);
        showSelection();
    } else if (number == kSettingSave) {
        save();
    } else {
        reject();
    }
    return 0;
}

void CSettingDlg::save()
{
    std::optional<ClockValue> clock;
    if (m_setClock->isChecked()) {
        int v[6];
        for (size_t i = 0; i < m_clock.size(); ++i)
            v[i] = m_clock[i]->text().trimmed().toInt(); // not a number: 0, refused below
        clock = ClockValue{v[0], v[1], v[2], v[3], v[4], v[5]};
    }
    switch (m_settings.save(m_timeZones->currentIndex(), m_resetWifi->isChecked(), clock)) {
    case CameraSettings::SaveResult::BadClock:
        platform::messageBox(this, QStringLiteral("Check the input value of time again."));
        return;
    case CameraSettings::SaveResult::Saved:
        platform::messageBox(this, QStringLiteral("Save done"));
        accept();
        return;
    case CameraSettings::SaveResult::WriteFailed:
        platform::messageBox(this,
                             QStringLiteral("The settings were not saved: %1.\nThe card's settings file is unchanged.")
                                 .arg(QString::fromStdString(m_settings.problem())),
                             QStringLiteral("Device Settings"), platform::MB_OK | platform::MB_ICONERROR);
        reject();
        return;
    }
}

void CSettingDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPixmap background = SkinLibrary::bitmap(kBackgroundImage);
    if (background.isNull())
        painter.fillRect(rect(), QColor(28, 31, 40));
    else
        painter.drawPixmap(0, 0, background);
}

void CSettingDlg::showEvent(QShowEvent *event)
{
    if (m_owner && windowHandle() && m_owner->window()->windowHandle())
        windowHandle()->setTransientParent(m_owner->window()->windowHandle());
    PanelDialog::showEvent(event);
    // A card whose settings could not be read says so once, over the dialog.
    if (!m_problemShown && !m_settings.problem().empty()) {
        m_problemShown = true;
        QTimer::singleShot(0, this, [this] {
            platform::messageBox(this,
                                 QStringLiteral("The card's settings could not be read (%1); the camera's defaults "
                                                "are shown.")
                                     .arg(QString::fromStdString(m_settings.problem())),
                                 QStringLiteral("Device Settings"), platform::MB_OK | platform::MB_ICONWARNING);
        });
    }
}

void CSettingDlg::mousePressEvent(QMouseEvent *event)
{
    if (!m_drag.press(*this, event))
        PanelDialog::mousePressEvent(event);
}

void CSettingDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_drag.move(*this, event))
        PanelDialog::mouseMoveEvent(event);
}

void CSettingDlg::mouseReleaseEvent(QMouseEvent *event)
{
    m_drag.release();
    PanelDialog::mouseReleaseEvent(event);
}

} // namespace korvante
