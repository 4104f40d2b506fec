#pragma once
// The skinned scroll bars of the list control. Each one is installed as the
// list's own scroll bar (so the list keeps its rows clear of it and every
// scroll by wheel or key moves it too), 12 pixels thick, and drawn from the
// executable's bitmaps on a RGB(76,85,118) fill: two 26-pixel arrows, a track
// stretched from a 1-pixel strip, and — only while the list can scroll — the
// thumb.
//
// Mouse: pressing an arrow starts a repeat (timer 2 after 250 ms, then
// timer 1 every 50 ms, one line per tick); releasing on an arrow scrolls one
// more line; releasing on the track (unless the thumb was dragged) scrolls
// one page towards the point; dragging the thumb puts its leading edge at the
// pointer - 13 and scrolls to the matching position.
//
// Positions along the bar are pixels from its start (left or top).
// Ownership: the list takes the bar over when it is installed. UI thread only.

#include "gui/platform/message_window.h"

#include <QScrollBar>

namespace korvante {

class SkinScrollBar : public MessageWindow<QScrollBar> {
    Q_OBJECT
public:
    static constexpr int kThickness = 12;
    static constexpr int kArrowLength = 26;
    static constexpr int kRepeatTimer = 1;      // every 50 ms while an arrow is held
    static constexpr int kRepeatDelayTimer = 2; // 250 ms after the press
    static constexpr int kRepeatDelayMs = 250;
    static constexpr int kRepeatIntervalMs = 50;
    static QColor fillColour() { return QColor(76, 85, 118); }

    ~SkinScrollBar() override;

    // Scroll limit (maximum - minimum) and position (value - minimum).
    int scrollLimit() const { return maximum() - minimum(); }
    int scrollPosition() const { return value() - minimum(); }
    // Leading edge of the thumb for the current position.
    int thumbStart() const;
    // Whether the thumb is drawn (the list can scroll).
    bool hasThumb() const { return scrollLimit() > 0; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    struct Images {
        int startArrow;
        int endArrow;
        int track;
        int thumb;
        int startArrowPressed; // 0: none
        int endArrowPressed;
    };
    SkinScrollBar(Qt::Orientation orientation, const Images &images, QWidget *parent);

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void onTimer(int id) override;

private:
    enum class Part { None, StartArrow, EndArrow, Track, Thumb };
    int barLength() const;
    int along(const QPoint &point) const;
    Part partAt(int pixel) const;
    void stopRepeat();
    void stepLine(Part arrow);

    Images m_images;
    Part m_pressed = Part::None;
    bool m_thumbDragged = false;
};

class CSkinHorizontalScrollbar final : public SkinScrollBar {
    Q_OBJECT
public:
    explicit CSkinHorizontalScrollbar(QWidget *parent = nullptr);
};

class CSkinVerticleScrollbar final : public SkinScrollBar {
    Q_OBJECT
public:
    explicit CSkinVerticleScrollbar(QWidget *parent = nullptr);
};

} // namespace korvante
