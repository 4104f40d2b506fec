#include "tavo_formatter_dlg.h"

#include "core/device/card_format.h"
#include "core/storage/storage_discovery.h"
#include "gui/platform/message_box.h"
#include "gui/platform/panel_registry.h"
#include "gui/ui/skin_combo_box.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QScopeGuard>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QWindow>

namespace korvante {

namespace {

constexpr int kRowTop = 120;
constexpr int kRowHeight = 76;

QLabel *makeText(const QString &text, const QRect &rect, QWidget *parent, int pixels = 13, bool bold = false)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText); // drive labels, paths and error reasons come from the card
    label->setText(text);
    label->setGeometry(rect);
    QFont font = label->font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    label->setFont(font);
    label->setStyleSheet(QStringLiteral("QLabel { color: white; background: transparent; }"));
    return label;
}

QPushButton *makeButton(const QString &text, const QRect &rect, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setGeometry(rect);
    button->setAutoDefault(false);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: rgb(28,31,40); border: 1px solid rgb(76,85,118); }"
        "QPushButton:hover { background: rgb(76,85,118); }"
        "QPushButton:pressed { background: rgb(115,123,165); }"
        "QPushButton:disabled { color: rgb(110,110,110); }"));
    return button;
}

QString stageText(int stage, int detail)
{
    switch (stage) {
    case 0: return QStringLiteral("Format Started.");
    case 1: return QStringLiteral("Delete Partition OK.");
    case 2: return QStringLiteral("Create FAT Partition OK.");
    case 3: return QStringLiteral("Create File System Partition OK.");
    case 4: return QStringLiteral("Format File System Partition OK.");
    case 5: return QStringLiteral("Format Completed. Please reload drive list.");
    default: break;
    }
    switch (detail) {
    case 0: return QStringLiteral("[ERROR] Format canceled while finding disk information.");
    case 1: return QStringLiteral("[ERROR] Format canceled while deleting partition.");
    case 2: return QStringLiteral("[ERROR] Format canceled while creating FAT partition.");
    case 3: return QStringLiteral("[ERROR] Format canceled while creating TAVO partition.");
    case 4: return QStringLiteral("[ERROR] Format canceled while formatting TAVO partition.");
    default: return QStringLiteral("[ERROR] Unknown reason.");
    }
}

} // namespace

QString CTAVOFormatterDlg::confirmationText(const FormatterDrive &drive, uint32_t capacityMB)
{
    // The volume's own name is the last part of its mount point ("CARD" for
    // /media/user/CARD/); the file system of the whole root has none.
    QString root = QString::fromStdString(drive.root);
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    QString name = root.section(QLatin1Char('/'), -1);
    if (name.isEmpty())
        name = root;
    const QString disk = QString::fromStdString(drive.devicePath);
    const QString partition = disk.isEmpty() || drive.partition.empty() || drive.partition == drive.disk
                                  ? disk
                                  : disk.left(disk.size() - static_cast<int>(drive.disk.size()))
                                        + QString::fromStdString(drive.partition);
    QString device = partition;
    if (partition != disk)
        device += QStringLiteral(" on the disk ") + disk;
    return QStringLiteral("All data will be erased. Do you want to continue?\n\n"
                          "Drive: %1%2\nMounted at: %3\nDevice: %4\nSize: %5 GB")
        .arg(name, drive.kind == 1 ? QStringLiteral(" (TAVO card)") : QString(),
             QString::fromStdString(drive.root), device, QString::number(capacityMB / 1024.0, 'f', 2));
}

CTAVOFormatterDlg::CTAVOFormatterDlg(QWidget *owner)
    : PanelDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_owner(owner),
      m_sysRoot(systemRoot()), m_watcher(m_sysRoot)
{
    setObjectName(QStringLiteral("CTAVOFormatterDlg"));
    setWindowTitle(QStringLiteral("STORAGE INFORMATION"));
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(kSize);

    makeText(QStringLiteral("STORAGE INFORMATION"), QRect(20, 12, 400, 26), this, 18, true);
    // As wide as the dialog allows: the lines are mount points.
    m_driveList = new CSkinComboBox(1300, QRect(20, 50, 520, 0), this);
    m_driveList->setFixedHeight(26);
    // Two lines of room above the first folder row (showCapacity).
    m_capacity = makeText(QStringLiteral("NO Selected Storage"), QRect(20, 79, 520, 38), this, 14);
    m_capacity->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const int y = kRowTop + static_cast<int>(i) * kRowHeight;
        FolderRow &row = m_rows[i];
        row.label = new QLineEdit(this);
        row.label->setReadOnly(true);
        row.label->setFocusPolicy(Qt::NoFocus);
        row.label->setGeometry(20, y, 90, 22);
        row.label->setStyleSheet(QStringLiteral(
            "QLineEdit { color: white; background: rgb(28,31,40); border: 1px solid rgb(76,85,118); }"));
        row.bar = new QProgressBar(this);
        row.bar->setGeometry(120, y, 300, 22);
        row.bar->setTextVisible(false);
        row.bar->setRange(0, 1);
        row.bar->setValue(0);
        row.bar->setStyleSheet(QStringLiteral("QProgressBar { background: %1; border: 1px solid rgb(76,85,118); }"
                                              "QProgressBar::chunk { background: rgb(80,200,220); }")
                                   .arg(i == 0 ? QStringLiteral("rgb(255,0,0)") : QStringLiteral("rgb(40,44,56)")));
        row.percent = makeText(QStringLiteral("0% used"), QRect(430, y, 110, 22), this);
        row.usage = makeText(QStringLiteral("0 MB"), QRect(120, y + 25, 420, 18), this, 12);
        row.retention = makeText(QString(), QRect(120, y + 45, 420, 18), this, 12);
        row.retention->setStyleSheet(QStringLiteral("QLabel { color: rgb(170,200,210); background: transparent; }"));
    }
    m_note = makeText(QStringLiteral("OK, You can format this drive."), QRect(20, 430, 520, 18), this);
    m_status = makeText(QStringLiteral("Ready..."), QRect(20, 450, 520, 40), this);
    m_status->setWordWrap(true);
    m_status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_format = makeButton(QStringLiteral("Format"), QRect(330, 498, 100, 28), this);
    m_close = makeButton(QStringLiteral("Close"), QRect(440, 498, 100, 28), this);

    // Choosing a drive again (even the same one) counts its folders afresh.
    connect(m_driveList, &CSkinComboBox::activated, this, [this](int index) {
        m_selected = index;
        selectDrive();
        refreshFigures();
    });
    connect(m_format, &QPushButton::clicked, this, [this] { startFormat(); });
    connect(m_close, &QPushButton::clicked, this, [this] { requestClose(); });
    for (QWidget *child : findChildren<QWidget *>())
        child->installEventFilter(this);

    QWidget *main = FindPanel(panel::MainWindow);
    if (!main && m_owner)
        main = m_owner->window();
    if (main)
        move(main->frameGeometry().center() - QPoint(kSize.width() / 2, kSize.height() / 2));
    setTimer(kLoadTimer, 10);
    setTimer(kPollTimer, kPollMs);
}

CTAVOFormatterDlg::~CTAVOFormatterDlg() { joinWorker(); }

void CTAVOFormatterDlg::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void CTAVOFormatterDlg::onTimer(int id)
{
    if (id == kLoadTimer) {
        killTimer(kLoadTimer);
        reload();
    } else if (id == kPollTimer) {
        pollMounts();
    }
}

void CTAVOFormatterDlg::reload()
{
    m_drives = listFormatterDrives(m_sysRoot);
    m_selected = 0;
    m_driveList->clear();
    for (const FormatterDrive &drive : m_drives)
        m_driveList->addItem(QString::fromStdString(formatterLineOf(drive)));
    if (m_drives.empty()) {
        m_driveList->addItem(QStringLiteral("Insert SD-CARD then reload..."));
        m_capacity->setText(QStringLiteral("No Selected storage"));
    }
    m_driveList->setCurrentIndex(0);
    selectDrive();
    refreshFigures();
}

void CTAVOFormatterDlg::selectDrive()
{
    if (m_drives.empty() || m_selected < 0 || m_selected >= static_cast<int>(m_drives.size())) {
        m_capacityMB = 0;
        for (FolderRow &row : m_rows) {
            row.label->clear();
            row.usage->setText(QStringLiteral("  0 MB"));
        }
        return;
    }
    const FormatterDrive &drive = m_drives[static_cast<size_t>(m_selected)];
    m_capacityMB = static_cast<uint32_t>(std::min<uint64_t>(drive.capacityKiB / 1024, UINT32_MAX));
    showCapacity(drive);
    for (size_t i = 0; i < m_rows.size(); ++i) {
        m_rows[i].label->setText(QString::fromLatin1(cardFolders()[i].label));
        m_rows[i].usage->setText(QStringLiteral("  0 MB"));
    }
}

void CTAVOFormatterDlg::showCapacity(const FormatterDrive &drive)
{
    const QString line = QString::fromStdString(capacityLineOf(drive.root, m_capacityMB));
    m_capacity->setToolTip(line);
    const QFontMetrics metrics(m_capacity->font());
    const int room = m_capacity->width();
    if (metrics.horizontalAdvance(line) <= room) {
        m_capacity->setText(line);
        return;
    }
    // A long mount point: the path on the first line (shortened in its
    // middle only when it is wider than the whole line), the size and
    // "storage selected" whole on the second.
    const QString root = QString::fromStdString(drive.root);
    const QString size = line.mid(root.size()).trimmed();
    m_capacity->setText(metrics.elidedText(root, Qt::ElideMiddle, room) + QLatin1Char('\n') + size);
}

void CTAVOFormatterDlg::refreshFigures()
{
    m_note->clear();
    const bool haveDrive = !m_drives.empty() && m_selected >= 0 && m_selected < static_cast<int>(m_drives.size());
    std::array<FolderScan, 4> scans{};
    double seconds = 0;
    int measured = 0;
    if (haveDrive) {
        for (size_t i = 0; i < scans.size(); ++i) {
            scans[i] = scanCardFolder(m_drives[static_cast<size_t>(m_selected)], cardFolders()[i].name);
            seconds += scans[i].frontSeconds;
            measured += scans[i].measuredFronts;
        }
    }
    // The card's usual recording length, for folders that hold none yet.
    const double meanLength = measured > 0 ? seconds / measured : 0;
    for (size_t i = 0; i < m_rows.size(); ++i) {
        FolderRow &row = m_rows[i];
        const FolderUsage usage = folderUsage(haveDrive ? m_capacityMB : 0, cardFolders()[i], scans[i]);
        if (haveDrive)
            row.usage->setText(QString::fromStdString(usage.usageText));
        row.percent->setText(QString::fromStdString(usage.percentText));
        // An empty range would turn the bar into a busy indicator.
        row.bar->setRange(0, std::max(usage.barRange, 1));
        row.bar->setValue(usage.barPosition);
        row.retention->setText(
            haveDrive ? QString::fromStdString(retentionForecast(usage.allottedMB, cardFolders()[i], scans[i], meanLength).text)
                      : QString());
    }
}

void CTAVOFormatterDlg::pollMounts()
{
    // While a question is open the changes wait: the watcher reports them at
    // the first poll after it, so the boxes never pile up.
    if (m_asking)
        return;
    for (const MountWatcher::Change &change : m_watcher.poll()) {
        const quintptr id = m_nextChange++;
        m_changedRoots[id] = change.root;
        postMessage(this, msg::UserPlus2, id, change.inserted ? kMediaInserted : kMediaRemoved);
    }
}

qintptr CTAVOFormatterDlg::onMessage(int message, quintptr w, qintptr l)
{
    if (message == msg::UserPlus1) {
        onStage(static_cast<int>(w), static_cast<int>(l));
    } else if (message == msg::UserPlus2) {
        const auto it = m_changedRoots.find(w);
        if (it == m_changedRoots.end())
            return 0;
        const std::string root = it->second;
        m_changedRoots.erase(it);
        onMountChange(root, static_cast<int>(l));
    }
    return 0;
}

void CTAVOFormatterDlg::onMountChange(const std::string &root, int event)
{
    if (m_formatting || !isVisible())
        return;
    m_asking = true;
    const auto done = qScopeGuard([this] { m_asking = false; });
    if (event == kMediaInserted) {
        if (m_drives.empty()) {
            reload();
            return;
        }
        if (platform::messageBox(this, QStringLiteral("NEW MEDIA or DRIVE detected.\nReload ?"), windowTitle(),
                                 platform::MB_YESNO | platform::MB_ICONQUESTION)
            == platform::IDYES)
            reload();
    } else if (event == kMediaRemoved) {
        if (m_drives.empty() || m_selected < 0 || m_selected >= static_cast<int>(m_drives.size()))
            return;
        if (root != m_drives[static_cast<size_t>(m_selected)].root)
            return;
        platform::messageBox(this, QStringLiteral("Selected drive has been removed. Reload drive list"), windowTitle(),
                             platform::MB_OK | platform::MB_ICONINFORMATION);
        reload();
    }
}

void CTAVOFormatterDlg::setControlsEnabled(bool enabled)
{
    m_driveList->setEnabled(enabled);
    for (FolderRow &row : m_rows)
        row.label->setEnabled(enabled);
    m_format->setEnabled(enabled);
}

void CTAVOFormatterDlg::startFormat()
{
    // Nothing to format: the confirmation would only lead nowhere.
    if (m_formatting || m_drives.empty() || m_selected < 0 || m_selected >= static_cast<int>(m_drives.size())) {
        m_status->setText(QStringLiteral("Insert SD-CARD then reload..."));
        return;
    }
    // The question names the drive, so that the wrong card is not erased by
    // habit; Cancel is the default answer.
    if (platform::messageBox(this, confirmationText(m_drives[static_cast<size_t>(m_selected)], m_capacityMB),
                             windowTitle(),
                             platform::MB_OKCANCEL | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2)
        != platform::IDOK)
        return;
    setControlsEnabled(false);
    // Marked at once (the worker's first stage says so too), so that no
    // mount change or Close slips in before that stage arrives.
    m_formatting = true;
    joinWorker();
    const FormatterDrive &drive = m_drives[static_cast<size_t>(m_selected)];
    const FormatTarget target{m_sysRoot, drive.root, drive.disk, drive.partition, drive.devicePath};
    // The worker works on its own copy and only posts to the dialog, which
    // joins it before it is destroyed.
    m_worker = std::thread([this, target] {
        auto post = [this](int stage, int detail) {
            postMessage(this, msg::UserPlus1, static_cast<quintptr>(stage), detail);
        };
        std::string why;
        int detail = 0;
        if (formatCardFileSystem(target, post, &why, &detail)) {
            post(format_stage::Completed, 1);
            return;
        }
        {
            std::lock_guard lock(m_reasonMutex);
            m_failureReason = why;
        }
        post(format_stage::Failed, detail);
    });
}

void CTAVOFormatterDlg::onStage(int stage, int detail)
{
    QString text = stageText(stage, detail);
    if (stage == format_stage::Started) {
        m_formatting = true;
    } else if (stage == format_stage::Completed || stage == format_stage::Failed) {
        joinWorker();
        m_formatting = false;
        setControlsEnabled(true);
        if (stage == format_stage::Failed) {
            std::lock_guard lock(m_reasonMutex);
            if (!m_failureReason.empty())
                text += QLatin1Char('\n') + QString::fromStdString(m_failureReason);
        }
    }
    m_status->setText(text);
    if (m_closeRequested && !m_formatting) {
        m_closeRequested = false;
        // A failure keeps the dialog open so that its reason can be read.
        if (stage == format_stage::Completed)
            finishClose();
    }
}

void CTAVOFormatterDlg::requestClose()
{
    if (m_formatting || m_worker.joinable()) {
        m_closeRequested = true;
        return;
    }
    finishClose();
}

void CTAVOFormatterDlg::finishClose()
{
    m_closing = true;
    killTimer(kPollTimer);
    done(platform::IDOK);
}

void CTAVOFormatterDlg::reject()
{
    // Escape and the window manager's close come here: only Close ends the dialog.
    if (m_closing)
        PanelDialog::reject();
}

void CTAVOFormatterDlg::closeEvent(QCloseEvent *event)
{
    if (m_closing)
        PanelDialog::closeEvent(event);
    else
        event->ignore();
}

bool CTAVOFormatterDlg::eventFilter(QObject *watched, QEvent *event)
{
    // The drive list's open popup is a window of its own: its keys pick a line.
    const auto *widget = qobject_cast<QWidget *>(watched);
    const bool inDialog = widget && widget->window() == this;
    if (inDialog && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape || key == Qt::Key_Space
            || key == Qt::Key_Cancel) {
            event->accept();
            return true;
        }
    }
    return PanelDialog::eventFilter(watched, event);
}

void CTAVOFormatterDlg::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape || key == Qt::Key_Space
        || key == Qt::Key_Cancel) {
        event->accept();
        return;
    }
    PanelDialog::keyPressEvent(event);
}

void CTAVOFormatterDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    painter.setPen(QPen(QColor(76, 85, 118), 2));
    painter.drawRect(rect().adjusted(1, 1, -1, -1));
}

void CTAVOFormatterDlg::showEvent(QShowEvent *event)
{
    if (m_owner && windowHandle() && m_owner->window()->windowHandle())
        windowHandle()->setTransientParent(m_owner->window()->windowHandle());
    PanelDialog::showEvent(event);
}

void CTAVOFormatterDlg::mousePressEvent(QMouseEvent *event)
{
    if (!m_drag.press(*this, event))
        PanelDialog::mousePressEvent(event);
}

void CTAVOFormatterDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_drag.move(*this, event))
        PanelDialog::mouseMoveEvent(event);
}

void CTAVOFormatterDlg::mouseReleaseEvent(QMouseEvent *event)
{
    m_drag.release();
    PanelDialog::mouseReleaseEvent(event);
}

} // namespace korvante
