#include "skin_button.h"

#include "gui/platform/messages.h"
#include "gui/platform/skin_library.h"

#include <QApplication>
#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

namespace korvante {

namespace {
QPixmap skinImage(int id)
{
    return id > 0 ? SkinLibrary::bitmap(id) : QPixmap();
}

// Tooltips of skinned buttons: white text on black.
const QString &tooltipStyle()
{
    static const QString style = QStringLiteral(
        "QToolTip { color: #ffffff; background-color: #000000; border: 1px solid #000000; }");
    return style;
}
} // namespace

CSkinButton::CSkinButton(const QString &caption, int id, const QRect &rect, QWidget *parent)
    : MessageWindow<QAbstractButton>(parent), m_id(id), m_parent(parent)
{
    setGeometry(rect);
    setCaption(caption);
    setStyleSheet(tooltipStyle());
    // Drawn from images only: the parent's background shows where nothing is drawn.
    setAttribute(Qt::WA_NoSystemBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    connect(this, &QAbstractButton::clicked, this, [this] { notifyParent(); });
}

CSkinButton::CSkinButton(const QString &caption, int id, const QRect &rect, QWidget *parent,
                         const SkinImageIds &images)
    : CSkinButton(caption, id, rect, parent)
{
    setSkin(images);
}

CSkinButton::~CSkinButton() = default;

void CSkinButton::setCaption(const QString &caption)
{
    setText(caption);
    setToolTip(caption);
}

void CSkinButton::setSkin(const SkinImageIds &images, QPoint source, QSize size)
{
    const int disabled = images.disabled > 0 ? images.disabled : images.pressed;
    setSkin(skinImage(images.normal), skinImage(images.hover), skinImage(images.pressed),
            skinImage(disabled), source, size);
}

void CSkinButton::setSkin(const QPixmap &normal, const QPixmap &hover, const QPixmap &pressed,
                          const QPixmap &disabled, QPoint source, QSize size)
{
    m_normal = normal;
    m_hoverImage = hover;
    m_pressed = pressed;
    m_disabled = disabled;
    m_source = source;
    m_size = size;
    m_skinSet = true;
    update();
}

CSkinButton::Face CSkinButton::currentFace() const
{
    if (!m_skinSet)
        return Face::None;
    if (isDown())
        return Face::Pressed;
    if (!isEnabled())
        return Face::Disabled;
    if (m_hover && !m_hoverImage.isNull())
        return Face::Hover;
    return Face::Normal;
}

QPixmap CSkinButton::currentImage() const
{
    switch (currentFace()) {
    case Face::Pressed: return m_pressed;
    case Face::Disabled: return m_disabled;
    case Face::Hover: return m_hoverImage;
    case Face::Normal: return m_normal;
    case Face::None: break;
    }
    return {};
}

void CSkinButton::paintEvent(QPaintEvent *)
{
    killTimer(kForegroundTimer);
    const Face face = currentFace();
    if (face == Face::None)
        return;
    if (face == Face::Hover)
        setTimer(kForegroundTimer, kForegroundDelayMs);
    const QPixmap image = currentImage();
    if (image.isNull())
        return;
    const QSize size = m_size.isValid() && !m_size.isEmpty() ? m_size : this->size();
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawPixmap(QRect(QPoint(0, 0), size), image, QRect(m_source, size));
    if (showsFocusMark())
        drawFocusMark(painter, QRect(QPoint(0, 0), size));
}

void CSkinButton::drawFocusMark(QPainter &painter, const QRect &area)
{
    // Black under white dots: seen on the light and the dark faces alike.
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setBrush(Qt::NoBrush);
    const QRect frame = area.adjusted(0, 0, -1, -1);
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    painter.drawRect(frame);
    painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    painter.drawRect(frame);
}

bool CSkinButton::showsFocusMark() const
{
    return m_keyboardFocus && hasFocus();
}

void CSkinButton::focusInEvent(QFocusEvent *event)
{
    // A window coming back to the front keeps the mark as it was.
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        m_keyboardFocus = reason != Qt::MouseFocusReason;
    update();
    MessageWindow<QAbstractButton>::focusInEvent(event);
}

void CSkinButton::focusOutEvent(QFocusEvent *event)
{
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        m_keyboardFocus = false;
    update();
    MessageWindow<QAbstractButton>::focusOutEvent(event);
}

void CSkinButton::keyPressEvent(QKeyEvent *event)
{
    if (!m_keyboardFocus) {
        m_keyboardFocus = true;
        update();
    }
    MessageWindow<QAbstractButton>::keyPressEvent(event);
}

void CSkinButton::enterEvent(QEnterEvent *event)
{
    m_tracking = true;
    m_hover = true;
    update();
    MessageWindow<QAbstractButton>::enterEvent(event);
}

void CSkinButton::mouseMoveEvent(QMouseEvent *event)
{
    // A button that was under the pointer when it appeared gets no enter event.
    if (!m_tracking) {
        m_tracking = true;
        m_hover = true;
        update();
    }
    MessageWindow<QAbstractButton>::mouseMoveEvent(event);
}

void CSkinButton::leaveEvent(QEvent *event)
{
    m_hover = false;
    m_tracking = false;
    update();
    MessageWindow<QAbstractButton>::leaveEvent(event);
}

void CSkinButton::onTimer(int id)
{
    if (id != kForegroundTimer)
        return;
    killTimer(kForegroundTimer);
    bringMainWindowToFront();
}

void CSkinButton::bringMainWindowToFront()
{
    // Panels are top-level windows parented to the main window: the root of
    // the parent chain is the main window. Never pull it over a modal dialog
    // or steal the focus from another application.
    QWidget *root = window();
    while (root->parentWidget())
        root = root->parentWidget()->window();
    if (!root->isVisible() || root->isMinimized() || QApplication::activeModalWidget()
        || !QApplication::activeWindow() || root->isActiveWindow())
        return;
    root->raise();
    root->activateWindow();
}

void CSkinButton::notifyParent()
{
    // Posted, not delivered at once: the parent may delete this button while
    // handling the click (a Close button ending its panel).
    postMessage(m_parent.data(), msg::ButtonClick, static_cast<quintptr>(m_id), 0);
}

CSkinCheckBox::CSkinCheckBox(const QString &text, const QRect &rect, QWidget *parent) : QCheckBox(text, parent)
{
    setAttribute(Qt::WA_Hover);
    setGeometry(rect);
}

QSize CSkinCheckBox::sizeHint() const
{
    const int textWidth = text().isEmpty() ? 0 : fontMetrics().horizontalAdvance(text()) + 6;
    return {kBox + 2 + textWidth, std::max(kBox + 2, fontMetrics().height())};
}

bool CSkinCheckBox::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void CSkinCheckBox::enterEvent(QEnterEvent *event)
{
    m_hover = true;
    update();
    QCheckBox::enterEvent(event);
}

void CSkinCheckBox::leaveEvent(QEvent *event)
{
    m_hover = false;
    update();
    QCheckBox::leaveEvent(event);
}

void CSkinCheckBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The box sits at the left, centred in the height; a box wider than the
    // widget is centred in it instead.
    const int x = width() < kBox + 2 ? (width() - kBox) / 2 : 1;
    const QRectF box(x + 0.5, (height() - kBox) / 2 + 0.5, kBox - 1, kBox - 1);
    const bool enabled = isEnabled();
    const QColor frame = !enabled ? QColor(90, 90, 90)
                         : (m_hover || isDown()) ? QColor(229, 229, 229)
                                                 : QColor(158, 177, 187);
    painter.setPen(QPen(frame, 1));
    painter.setBrush(isDown() ? QColor(76, 85, 118) : QColor(28, 31, 40));
    painter.drawRoundedRect(box, 2, 2);
    if (isChecked()) {
        QPen tick(enabled ? QColor(255, 255, 255) : QColor(140, 140, 140), 2, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin);
        painter.setPen(tick);
        const QPointF points[] = {{box.left() + 3.5, box.center().y()},
                                  {box.left() + 6, box.bottom() - 3.5},
                                  {box.right() - 3, box.top() + 3.5}};
        painter.drawPolyline(points, 3);
    }
    if (hasFocus() && focusPolicy() != Qt::NoFocus) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(QColor(158, 177, 187), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(box.toRect().adjusted(-2, -2, 1, 1));
    }
    if (!text().isEmpty()) {
        painter.setPen(enabled ? QColor(255, 255, 255) : QColor(140, 140, 140));
        painter.drawText(QRect(x + kBox + 6, 0, width() - (x + kBox + 6), height()),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }
}

} // namespace korvante
