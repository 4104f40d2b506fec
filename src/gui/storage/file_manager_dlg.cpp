#include "file_manager_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/platform/panel_registry.h"
#include "gui/ui/skin_button.h"
#include "gui/ui/skin_combo_box.h"
#include "gui/ui/skin_list_ctrl.h"
#include "skin_list_view.h"

#include <QDateEdit>
#include <QFileInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTreeWidgetItem>

#include <algorithm>

namespace korvante {

namespace {
struct ButtonSpec {
    int command;
    const char *caption;
    int x, y;
    int normal, hover;
};

// Captions are the buttons' tooltips. The title row holds Open File, the
// docking pin and Close; the search and sort buttons sit beside the inputs
// they act on.
constexpr ButtonSpec kButtons[] = {
    {CFileManagerDlg::CmdClose, "Close", 287, 6, 218, 219},
    {CFileManagerDlg::CmdFixedWindow, "Fixed window", 262, 6, CFileManagerDlg::kDockedImage,
     CFileManagerDlg::kFloatingImage},
    {CFileManagerDlg::CmdOpenFile, "Open File", 170, 6, 170, 171},
    {CFileManagerDlg::CmdSearchDate, "Search of date", 240, 421, 176, 177},
    {CFileManagerDlg::CmdSortAscending, "Sort Ascending", 264, 421, 172, 173},
    {CFileManagerDlg::CmdSortDescending, "Sort Descending", 288, 421, 174, 175},
    {CFileManagerDlg::CmdSearchSpeed, "Search of excessive speed", 112, 446, 178, 179},
    {CFileManagerDlg::CmdConversion, "Conversion", 288, 446, 180, 181},
};

struct ColumnSpec {
    const char *title;
    int width;
};
constexpr ColumnSpec kColumns[] = {{"NO.", 35}, {"DATA", 88}, {"TIME", 72}, {"TYPE", 50}, {"CH", 45}};

void blackOnWhite(QWidget *widget)
{
    QPalette palette = widget->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    widget->setPalette(palette);
}

// Widens `combo` until its longest item shows whole, at the font the panel
// gave it, in the field the style leaves beside the arrow (without this the
// field would shrink its font for the longest item). Returns the added width.
int widenForItems(CSkinComboBox *combo)
{
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    option.subControls = QStyle::SC_All;
    const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
        widest = std::max(widest, QFontMetrics(combo->ownerFont()).horizontalAdvance(combo->itemText(i)));
    // The label is drawn one pixel in from each side of the field.
    const int missing = std::max(0, widest + 2 - field.width());
    combo->resize(combo->width() + missing, combo->height());
    return missing;
}

QDateEdit *makeDatePicker(int id, const QRect &rect, QWidget *parent)
{
    auto *picker = new QDateEdit(QDate::currentDate(), parent);
    picker->setObjectName(QStringLiteral("date%1").arg(id));
    picker->setGeometry(rect);
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    picker->setCalendarPopup(true);
    picker->setMinimumDate(QDate(1900, 1, 1));
    blackOnWhite(picker);
    return picker;
}
} // namespace

CFileManagerDlg::CFileManagerDlg(QWidget *mainWindow)
    : PanelFrame(mainWindow), m_catalogue(GetViewerState().catalogue)
{
    setObjectName(QStringLiteral("CFileManagerDlg"));
    // A card's root picked on the computer lists like the card in a reader.
    m_catalogue.pickedCardRoots = true;
    placeAt(kDockOffset, kSize);
    createControls();
    createButtons();
}

CFileManagerDlg::~CFileManagerDlg()
{
    delete m_view;
}

void CFileManagerDlg::createControls()
{
    m_list = new CSkinListCtrl(kListId, QRect(4, 32, 307, 387), this);
    // A cell 14 pixels high, as the list was laid out for: Verdana's em is
    // about 12 pixels of it.
    QFont listFont(QStringLiteral("Verdana"));
    listFont.setPixelSize(12);
    m_list->setFont(listFont);
    m_list->setColumnCount(static_cast<int>(std::size(kColumns)));
    QStringList titles;
    for (const ColumnSpec &c : kColumns)
        titles << QString::fromUtf8(c.title);
    m_list->setHeaderLabels(titles);
    for (int i = 0; i < m_list->columnCount(); ++i) {
        m_list->setColumnWidth(i, kColumns[i].width);
        m_list->headerItem()->setTextAlignment(i, Qt::AlignCenter);
    }
    m_list->header()->setSectionsMovable(true);
    m_list->header()->setStretchLastSection(false);
    m_view = new SkinListView(*m_list);
    // What the last fill did to the files (unfinished recordings repaired),
    // over the foot of the list while there is something to say.
    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("repairNotice"));
    m_notice->setGeometry(4, 32 + 387 - 18, 307, 18);
    m_notice->setStyleSheet(QStringLiteral("QLabel { color: white; background: rgb(76,85,118); padding-left: 4px; }"));
    m_notice->setTextFormat(Qt::PlainText);
    m_notice->hide();
    connect(m_list, &QTreeWidget::itemClicked, this, [this] { onRowClicked(); });
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { onRowDoubleClicked(); });
    // Enter on a row plays it, as a double click does.
    m_list->installEventFilter(this);

    // Heights as the rows they sit in allow: the title row above the list, the
    // speed row above the bottom frame.
    m_kindFilter = new CSkinComboBox(kKindFilterId, QRect(195, 5, 60, 22), this);
    m_kindFilter->addItems({QStringLiteral("ALL"), QStringLiteral("NORMAL"), QStringLiteral("EVENT"),
                            QStringLiteral("PARKING"), QStringLiteral("MANUAL")});
    m_kindFilter->setCurrentIndex(0);
    // Its right edge stays beside the docking pin; a wider box grows leftwards.
    m_kindFilter->move(m_kindFilter->x() - widenForItems(m_kindFilter), m_kindFilter->y());
    connect(m_kindFilter, &QComboBox::currentIndexChanged, this, [this] { fillByKind(); });

    m_startDate = makeDatePicker(kStartDateId, QRect(QPoint(10, 421), QPoint(109, 439)), this);
    m_endDate = makeDatePicker(kEndDateId, QRect(QPoint(134, 421), QPoint(233, 439)), this);

    m_speedEdit = new QLineEdit(QStringLiteral("0"), this);
    m_speedEdit->setObjectName(QStringLiteral("speed%1").arg(kSpeedEditId));
    m_speedEdit->setGeometry(10, 446, 32, 20);
    m_speedEdit->setMaxLength(3);
    blackOnWhite(m_speedEdit);

    m_speedUnit = new CSkinComboBox(kSpeedUnitId, QRect(50, 446, 55, 20), this);
    m_speedUnit->addItems({QStringLiteral("km/h"), QStringLiteral("mile/h"), QStringLiteral("knot")});
    m_speedUnit->setCurrentIndex(0);
    widenForItems(m_speedUnit);
    connect(m_speedUnit, &QComboBox::currentIndexChanged, this,
            [](int position) { GetViewerState().speedUnit = position; });
}

void CFileManagerDlg::createButtons()
{
    for (const ButtonSpec &def : kButtons) {
        // Open File keeps its place left of the kind filter, the speed search
        // right of the unit, however wide those boxes had to be for their texts.
        int x = def.x;
        if (def.command == CmdOpenFile)
            x = std::min(x, m_kindFilter->x() - 25);
        else if (def.command == CmdSearchSpeed)
            x = std::max(x, m_speedUnit->geometry().right() + 8);
        m_buttons[static_cast<size_t>(def.command)] =
            new CSkinButton(QString::fromUtf8(def.caption), def.command, QRect(x, def.y, 20, 20), this,
                            SkinImageIds{def.normal, def.hover, def.hover, def.hover});
    }
}

CSkinButton *CFileManagerDlg::button(int command) const
{
    if (command < 0 || command >= CommandCount)
        return nullptr;
    return m_buttons[static_cast<size_t>(command)];
}

void CFileManagerDlg::followMainWindow()
{
    if (m_docked && !m_wide)
        placeAt(kDockOffset, kSize);
}

void CFileManagerDlg::setLayout(int wide)
{
    m_wide = wide != 0;
    CSkinButton *pin = button(CmdFixedWindow);
    if (m_wide) {
        m_shown = false;
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        hide();
        pin->hide();
    } else {
        m_shown = true;
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        pin->show();
        show();
        followMainWindow();
    }
    resize(kSize);
}

void CFileManagerDlg::toggleDocking()
{
    m_docked = !m_docked;
    // The resting face shows the state, the hover face the state a click gives.
    const int now = m_docked ? kDockedImage : kFloatingImage;
    const int next = m_docked ? kFloatingImage : kDockedImage;
    button(CmdFixedWindow)->setSkin(SkinImageIds{now, next, next, next});
    followMainWindow();
}

void CFileManagerDlg::toggleShown()
{
    m_shown = !m_shown;
    showOnTop(m_shown);
}

void CFileManagerDlg::selectRow(int row)
{
    QTreeWidgetItem *item = m_list->topLevelItem(row);
    if (!item)
        return;
    m_list->setCurrentItem(item);
    item->setSelected(true);
    m_list->ensureRowVisible(row);
}

int CFileManagerDlg::currentRow() const
{
    return m_list->focusedRow();
}

int CFileManagerDlg::rowCount() const
{
    return m_list->topLevelItemCount();
}

void CFileManagerDlg::moveToRow(int row)
{
    m_list->moveToRow(row);
}

void CFileManagerDlg::revealCurrentRow()
{
    m_list->ensureRowVisible(m_list->focusedRow());
}

bool CFileManagerDlg::selectRecording(const QString &path)
{
    const QFileInfo wanted(path);
    for (int row = 0; row < m_catalogue.shownCount(); ++row) {
        const RecordingEntry *entry = m_catalogue.shownEntryAt(row);
        // Names first: the same file under another spelling of its folder
        // (a link, "..") is then recognised by the file system.
        if (entry && !entry->isCardFile() && QString::fromStdString(entry->name) == wanted.fileName() &&
            QFileInfo(QString::fromStdString(entry->path)) == wanted) {
            selectRow(row);
            return true;
        }
    }
    return false;
}

void CFileManagerDlg::onRowClicked() { selectRow(m_list->focusedRow()); }

void CFileManagerDlg::onRowDoubleClicked()
{
    // Rows of a card pulled since they were listed are not offered to the
    // player: the list is filled afresh (or emptied, with a message) instead.
    if (!sourceStillThere()) {
        fillByKind();
        return;
    }
    // Queued: the player reads the row after the selection below is made.
    PostToPanel(panel::PlayerControl, msg::PanelCommand, cmd::Restart);
    selectRow(m_list->focusedRow());
}

bool CFileManagerDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_list && event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !key->isAutoRepeat()) {
            m_enterDown = false;
            m_enterReleasedAt = key->timestamp();
        }
    } else if (watched == m_list && event->type() == QEvent::FocusOut) {
        m_enterDown = false; // the release may go to another window
    } else if (watched == m_list && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && m_list->focusedRow() >= 0) {
            // A held key repeats, and not every X server marks its repeats:
            // some send a release and a press with one time stamp. Each
            // repeat would cancel the open it started and start it again, so
            // only a press that a hand made plays the row.
            const bool repeat = key->isAutoRepeat() || m_enterDown ||
                                (m_enterReleasedAt != 0 && key->timestamp() - m_enterReleasedAt < 5);
            if (!repeat)
                onRowDoubleClicked();
            m_enterDown = true;
            return true;
        }
    }
    return PanelFrame::eventFilter(watched, event);
}

qintptr CFileManagerDlg::onMessage(int message, quintptr w, qintptr)
{
    switch (message) {
    case msg::ButtonClick:
        onCommand(static_cast<int>(w));
        return 0;
    case msg::PanelCommand:
        if (w == cmd::ToggleFileList)
            toggleShown();
        return 0;
    default:
        return 0;
    }
}

void CFileManagerDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 16, 16));
    painter.setPen(QPen(QColor(32, 33, 38), 3));
    painter.drawRect(rect().adjusted(1, 1, -2, -2));
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(QPoint(10, 7), QPoint(109, 22)), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("File List"));
    painter.drawText(QRect(QPoint(115, 421), QPoint(128, 439)), Qt::AlignCenter, QStringLiteral("~"));
}

} // namespace korvante
