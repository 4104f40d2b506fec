#pragma once
// A push button drawn from skin images: normal, hover, pressed and disabled.
// A click posts msg::ButtonClick (2024) to the parent with the button's id as
// the first parameter and 0 as the second; the parent dispatches on the id.
// The caption is not drawn: it is the button's tooltip (white on black).
// While it has the keyboard focus from the keyboard, a dotted frame over
// the image marks it.
//
// Until a skin is set the button draws nothing (the parent's background shows
// through) but still reports clicks. A missing image (null pixmap) draws
// nothing in its place.
//
// Ownership: a child widget of its parent, deleted with it. UI thread only.

#include "gui/platform/message_window.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QPainter>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QSize>

namespace korvante {

// Skin image ids of one button (SkinLibrary::bitmap); 0 or less means "none".
struct SkinImageIds {
    int normal = 0;
    int hover = 0;
    int pressed = 0;
    int disabled = 0;
};

class CSkinButton final : public MessageWindow<QAbstractButton> {
    Q_OBJECT
public:
    // Timer that, 250 ms after the hover image was drawn, brings the
    // application's main window (the root of the parent chain) to the front.
    static constexpr int kForegroundTimer = 1;
    static constexpr int kForegroundDelayMs = 250;

    // Creates the button at `rect` (parent coordinates) without a skin.
    CSkinButton(const QString &caption, int id, const QRect &rect, QWidget *parent);
    // Creates the button and sets its skin from the library images `images`,
    // drawn from (0, 0) of each image at the button's size.
    CSkinButton(const QString &caption, int id, const QRect &rect, QWidget *parent,
                const SkinImageIds &images);
    ~CSkinButton() override;

    int id() const { return m_id; }
    QString caption() const { return text(); }
    // Changes the caption and with it the tooltip text.
    void setCaption(const QString &caption);

    // Replaces the images (the old ones are released) and marks the skin set.
    // `source` is the offset inside each image, `size` the drawn size; an
    // empty size means the button's own size. A disabled id of 0 or less uses
    // the pressed image. Repaints.
    void setSkin(const SkinImageIds &images, QPoint source = {}, QSize size = {});
    // The same with images the caller already has (the button keeps copies).
    void setSkin(const QPixmap &normal, const QPixmap &hover, const QPixmap &pressed,
                 const QPixmap &disabled, QPoint source = {}, QSize size = {});

    bool isSkinSet() const { return m_skinSet; }
    bool isHovering() const { return m_hover; }
    // Whether the next paint draws the focus mark: the button has the
    // keyboard focus and got it from the keyboard (Tab, a shortcut) or was
    // used by key since. A click that gives the focus shows no mark.
    bool showsFocusMark() const;
    // The image the next paint draws (null when none); exposed for the owner's
    // checks and tests.
    QPixmap currentImage() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void onTimer(int id) override;

private:
    enum class Face { None, Normal, Hover, Pressed, Disabled };
    Face currentFace() const;
    void bringMainWindowToFront();
    static void drawFocusMark(QPainter &painter, const QRect &area);
    void notifyParent();

    int m_id;
    QPointer<QWidget> m_parent;
    QPixmap m_normal;
    QPixmap m_hoverImage;
    QPixmap m_pressed;
    QPixmap m_disabled;
    QPoint m_source;
    QSize m_size;
    bool m_skinSet = false;
    bool m_hover = false;
    bool m_tracking = false;
    bool m_keyboardFocus = false; // the focus came, or was used, by key
};

// A check box of the dark dialogs: a box framed in the skin's list text
// colour RGB(158,177,187) on near-black, a white tick when checked, the
// frame in RGB(229,229,229) under the mouse and a dotted frame with the
// keyboard focus; its text (if any) is white, right of the box. The whole
// widget answers clicks, so a narrow box on a caption drawn by the
// background is easy to hit. Its own background is left to the parent.
//
// Ownership: a child widget of its parent. UI thread only.
class CSkinCheckBox final : public QCheckBox {
public:
    static constexpr int kBox = 15; // pixels, square

    CSkinCheckBox(const QString &text, const QRect &rect, QWidget *parent);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool m_hover = false;
};

} // namespace korvante
