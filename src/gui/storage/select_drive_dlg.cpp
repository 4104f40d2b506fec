#include "select_drive_dlg.h"

#include "core/storage/recording_catalogue.h"
#include "gui/platform/panel_registry.h"
#include "gui/ui/skin_combo_box.h"

#include <QPainter>
#include <QPushButton>
#include <QWindow>

namespace korvante {

namespace {
QPushButton *makeButton(const QString &text, const QRect &rect, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setGeometry(rect);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: rgb(28,31,40); border: 1px solid rgb(76,85,118); }"
        "QPushButton:hover { background: rgb(76,85,118); }"
        "QPushButton:pressed { background: rgb(115,123,165); }"
        "QPushButton:default { border: 2px solid rgb(115,123,165); }"));
    return button;
}
} // namespace

CNSelectDriveDlg::CNSelectDriveDlg(QWidget *owner, RecordingCatalogue &catalogue)
    : PanelDialog(nullptr, Qt::Dialog | Qt::FramelessWindowHint), m_owner(owner), m_catalogue(catalogue),
      m_combo(new CSkinComboBox(kComboId, QRect(40, 56, 376, 0), this)),
      m_check(makeButton(QStringLiteral("Check"), QRect(108, 118, 110, 28), this)),
      m_close(makeButton(QStringLiteral("Close"), QRect(238, 118, 110, 28), this))
{
    setObjectName(QStringLiteral("CNSelectDriveDlg"));
    setWindowModality(Qt::ApplicationModal);
    setFixedSize(kSize);

    // Drives come and go between openings: the list is built afresh each time.
    const int count = m_catalogue.enumerateSources();
    for (int i = 0; i < count; ++i)
        if (const StorageSource *source = m_catalogue.sourceAt(i))
            m_combo->addItem(lineOfLabel(source->label));
    m_combo->setCurrentIndex(m_combo->count() > 0 ? 0 : -1);

    m_check->setDefault(true);
    connect(m_check, &QPushButton::clicked, this, [this] { onCheck(); });
    connect(m_close, &QPushButton::clicked, this, [this] { reject(); });
    centreOnMainWindow();
}

CNSelectDriveDlg::~CNSelectDriveDlg() = default;

QString CNSelectDriveDlg::lineOfLabel(const std::string &label)
{
    return QString::fromStdString(label).remove(QStringLiteral("(TAVO)"));
}

void CNSelectDriveDlg::centreOnMainWindow()
{
    QWidget *main = FindPanel(panel::MainWindow);
    if (!main && m_owner)
        main = m_owner->window();
    if (!main)
        return;
    const QRect area = main->frameGeometry();
    move(area.center() - QPoint(kSize.width() / 2, kSize.height() / 2) + QPoint(1, 1));
}

void CNSelectDriveDlg::showEvent(QShowEvent *event)
{
    // Set before the window is mapped, so the window manager keeps the
    // dialog above the viewer.
    if (m_owner && windowHandle() && m_owner->window()->windowHandle())
        windowHandle()->setTransientParent(m_owner->window()->windowHandle());
    PanelDialog::showEvent(event);
}

void CNSelectDriveDlg::onCheck()
{
    m_selection = m_combo->currentIndex();
    accept();
}

void CNSelectDriveDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    // A thin edge in the panels' frame colour keeps the box apart from a
    // black screen behind it.
    painter.setPen(QPen(QColor(32, 33, 38), 3));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
}

} // namespace korvante
