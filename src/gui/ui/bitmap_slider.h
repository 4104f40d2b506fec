#pragma once
// A slider drawn from skin images: a channel (optionally with an "active"
// image for the filled part), a thumb (optionally with an "active" image while
// dragged). Moves by drag or keys are posted to the notification window:
// a slider whose text is "SEEK" (the playback seek slider) posts msg::Seek
// (w 0, l 1), any other posts msg::SliderMoved (w = the slider's id, l 1). The
// receiver reads the new position from the slider.
//
// Positions are integers in [minimum, maximum]; pixels are the control's own
// along its orientation. The enabled flag is the slider's own (a disabled
// parent does not change it): a disabled slider ignores mouse and keys and
// draws no thumb.
//
// Marks: an In and an Out position (slider units) may be drawn over the
// channel as two small ticks with the stretch between them shaded; a mark
// outside the range draws no tick, and the shading is cut to the range.
//
// Ownership: a child widget of its parent; the notification window is not
// owned (weak pointer). UI thread only.

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

namespace korvante {

class CBitmapSlider final : public QWidget {
    Q_OBJECT
public:
    // Text "SEEK" makes the seek slider. `rect` is in parent coordinates.
    CBitmapSlider(const QString &text, int id, const QRect &rect, QWidget *parent);
    ~CBitmapSlider() override;

    static QString seekText() { return QStringLiteral("SEEK"); }

    int id() const { return m_id; }
    QString text() const { return m_text; }
    void setText(const QString &text) { m_text = text; }
    bool isSeekSlider() const { return m_text == seekText(); }

    // Range; the position is clamped into it. Repaints when `redraw`.
    void setRange(int minimum, int maximum, bool redraw = false);
    void setRangeMin(int minimum, bool redraw = false) { setRange(minimum, m_max, redraw); }
    void setRangeMax(int maximum, bool redraw = false) { setRange(m_min, maximum, redraw); }
    int rangeMin() const { return m_min; }
    int rangeMax() const { return m_max; }
    // Sets the position, clamped to the range; does not notify.
    void setPos(int position);
    int pos() const { return m_pos; }
    void setPageSize(int size) { m_page = size; }
    int pageSize() const { return m_page; }
    // Pixels of the channel that the thumb centre never enters.
    void setMargin(int left, int top, int right, int bottom);
    void setMarginLeft(int v) { m_marginLeft = v; }
    void setMarginTop(int v) { m_marginTop = v; }
    void setMarginRight(int v) { m_marginRight = v; }
    void setMarginBottom(int v) { m_marginBottom = v; }
    void setVertical(bool vertical);
    bool isVertical() const { return m_vertical; }
    void setSliderEnabled(bool enabled);
    bool isSliderEnabled() const { return m_enabled; }
    void drawFocusRect(bool draw, bool redraw = false);
    bool drawsFocusRect() const { return m_drawFocusRect; }

    // Skin images by library id (0 or less: none). Setting the channel resizes
    // the control to the channel image; a missing image leaves the size alone.
    // `transparent` keeps the images' transparent pixels (the skin's slider
    // pieces are drawn on transparent pixels, hence the default); otherwise
    // they are drawn opaque, transparent pixels black. Return false when the
    // (main) image is missing.
    bool setBitmapChannel(int channelId, int activeId = 0, bool transparent = true);
    bool setBitmapThumb(int thumbId, int activeId = 0, bool transparent = true);
    // The same with images the caller has.
    void setChannelImages(const QPixmap &channel, const QPixmap &active, bool transparent);
    void setThumbImages(const QPixmap &thumb, const QPixmap &active, bool transparent);

    // The In and Out marks in slider units (none: not drawn). Values outside
    // the range shade the part of the span inside it and draw no tick there.
    void setMarks(std::optional<int> in, std::optional<int> out);
    std::optional<int> markIn() const { return m_markIn; }
    std::optional<int> markOut() const { return m_markOut; }
    static QColor inMarkColour() { return QColor(64, 224, 112); }
    static QColor outMarkColour() { return QColor(240, 112, 48); }
    static QColor spanColour() { return QColor(255, 208, 64, 80); }

    // The window that receives move notifications; until one is set, the parent.
    void setNotifyWindow(QObject *window) { m_notify = window; }
    QObject *notifyWindow() const;

    // The pixel formulas along the orientation (control coordinates).
    int pixelOfValue(int value) const;
    int valueOfPixel(int pixel) const;
    // Pixel of the thumb centre for the current position.
    int thumbPixel() const { return pixelOfValue(m_pos); }
    bool isDragging() const { return m_dragging; }
    int dragOffset() const { return m_dragOffset; }
    bool isFocusRectDrawn() const { return m_focusRectDrawn; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    int length() const;      // channel length along the orientation
    int thumbLength() const; // thumb size along the orientation
    int marginStart() const { return m_vertical ? m_marginTop : m_marginLeft; }
    int marginEnd() const { return m_vertical ? m_marginBottom : m_marginRight; }
    int along(const QPoint &point) const { return m_vertical ? point.y() : point.x(); }
    int clamp(int value) const;
    void moveTo(int pixel);
    void notify();
    void paintChannel(QPainter &p);
    void paintThumb(QPainter &p);
    void paintMarks(QPainter &p);

    int m_id;
    QString m_text;
    int m_min = 0;
    int m_max = 100;
    int m_pos = 0;
    int m_page = 20;
    int m_marginLeft = 0;
    int m_marginTop = 0;
    int m_marginRight = 0;
    int m_marginBottom = 0;
    bool m_vertical = false;
    QPixmap m_channel;
    QPixmap m_activeChannel;
    bool m_channelTransparent = false;
    QPixmap m_thumb;
    QPixmap m_activeThumb;
    bool m_thumbTransparent = false;
    bool m_enabled = true;
    bool m_drawFocusRect = true;
    bool m_dragging = false;
    bool m_focused = false;
    bool m_focusRectDrawn = false;
    int m_dragOffset = 0;
    QPointer<QObject> m_notify;
    std::optional<int> m_markIn;
    std::optional<int> m_markOut;
};

} // namespace korvante
