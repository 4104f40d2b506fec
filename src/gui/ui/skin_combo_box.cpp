#include "skin_combo_box.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QFontMetrics>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStylePainter>

#include <algorithm>

namespace korvante {

namespace {
constexpr int kSmallestPixels = 9;
constexpr int kVisibleEntries = 14;

QString rgb(const QColor &c)
{
    return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}
} // namespace

CSkinComboBox::CSkinComboBox(int id, const QRect &rect, QWidget *parent) : QComboBox(parent), m_id(id)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, listColour());
    palette.setColor(QPalette::Base, fieldColour());
    palette.setColor(QPalette::Button, fieldColour());
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    palette.setColor(QPalette::Highlight, chosenColour());
    palette.setColor(QPalette::HighlightedText, chosenTextColour());
    setPalette(palette);
    // The list drops below the field (not over it, centred on the current
    // entry, as some styles open it), a screenful at most, in the list
    // colours with a scroll bar like the file list's.
    setStyleSheet(QStringLiteral(
        "QComboBox { combobox-popup: 0; }"
        "QComboBox QAbstractItemView { background: %1; color: %2; border: 1px solid %3;"
        " selection-background-color: %4; selection-color: %5; outline: 0; }"
        "QComboBox QScrollBar:vertical { background: %3; width: 12px; margin: 0; }"
        "QComboBox QScrollBar::handle:vertical { background: %4; min-height: 24px; border-radius: 2px; }"
        "QComboBox QScrollBar::add-line:vertical, QComboBox QScrollBar::sub-line:vertical { height: 0; }"
        "QComboBox QScrollBar::add-page:vertical, QComboBox QScrollBar::sub-page:vertical { background: none; }")
                      .arg(rgb(listColour()), rgb(listTextColour()), rgb(frameColour()), rgb(chosenColour()),
                           rgb(chosenTextColour())));
    setMaxVisibleItems(kVisibleEntries);

    QAbstractItemView *list = view();
    QPalette listPalette = list->palette();
    listPalette.setColor(QPalette::Base, listColour());
    listPalette.setColor(QPalette::Window, listColour());
    listPalette.setColor(QPalette::Text, listTextColour());
    listPalette.setColor(QPalette::WindowText, listTextColour());
    listPalette.setColor(QPalette::Button, frameColour());
    listPalette.setColor(QPalette::Highlight, chosenColour());
    listPalette.setColor(QPalette::HighlightedText, chosenTextColour());
    list->setPalette(listPalette);
    list->setTextElideMode(Qt::ElideNone);
    // The frame around the open list is a window of its own: the list's colours, not the field's.
    if (QWidget *frame = list->parentWidget())
        frame->setPalette(listPalette);

    m_ownerFont = font();
    connect(model(), &QAbstractItemModel::rowsInserted, this, [this] { fitEntries(); });
    connect(model(), &QAbstractItemModel::rowsRemoved, this, [this] { fitEntries(); });
    connect(model(), &QAbstractItemModel::dataChanged, this, [this] { fitEntries(); });
    connect(model(), &QAbstractItemModel::modelReset, this, [this] { fitEntries(); });
    setGeometry(rect.x(), rect.y(), rect.width(), rect.height() > 0 ? rect.height() : sizeHint().height());
}

CSkinComboBox::~CSkinComboBox() = default;

int CSkinComboBox::textRoom() const
{
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    // The style draws the text a few pixels in from the field's edge.
    return std::max(0, field.width() - 4);
}

bool CSkinComboBox::fits(const QString &text) const
{
    return QFontMetrics(font()).horizontalAdvance(text) <= textRoom();
}

void CSkinComboBox::fitEntries()
{
    if (m_fitting)
        return;
    m_fitting = true;
    QFont f = m_ownerFont;
    int widest = 0;
    const auto widestAt = [this](const QFont &font) {
        const QFontMetrics metrics(font);
        int w = 0;
        for (int i = 0; i < count(); ++i)
            w = std::max(w, metrics.horizontalAdvance(itemText(i)));
        return w;
    };
    setFont(f);
    const int room = textRoom();
    widest = widestAt(f);
    if (widest > room) {
        // Pixel sizes step down; a point-sized font is first turned into pixels.
        int pixels = f.pixelSize() > 0 ? f.pixelSize() : QFontMetrics(f).height();
        // Never below two thirds of the owner's size: past that an entry is
        // shortened in its middle when shown instead (paintEvent).
        const int smallest = std::max(kSmallestPixels, pixels * 2 / 3);
        while (widest > room && pixels > smallest) {
            f.setPixelSize(--pixels);
            widest = widestAt(f);
        }
        setFont(f);
    }
    m_fitting = false;
}

void CSkinComboBox::showPopup()
{
    // As wide as the longest entry (and never narrower than the field).
    QAbstractItemView *list = view();
    const int scrollBar = count() > maxVisibleItems() ? list->verticalScrollBar()->sizeHint().width() : 0;
    list->setMinimumWidth(std::max(width(), list->sizeHintForColumn(0) + scrollBar + 2 * list->frameWidth() + 8));
    QComboBox::showPopup();
}

void CSkinComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    // A text too long even at the smallest font keeps both ends (a drive's
    // path shows where it starts and the card's name).
    if (!isEditable())
        option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideMiddle, textRoom());
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void CSkinComboBox::changeEvent(QEvent *event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange && !m_fitting) {
        m_ownerFont = font();
        fitEntries();
    }
}

void CSkinComboBox::resizeEvent(QResizeEvent *event)
{
    QComboBox::resizeEvent(event);
    fitEntries();
}

} // namespace korvante
