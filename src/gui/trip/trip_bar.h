#pragma once
// The trip bar: the whole drive of the playing recording on one line. Each
// recording of the trip is a segment coloured by its kind (the stretches
// between recordings stay empty), the trip's incidents are red marks, the
// clip's span (when set) is underlined and the playing position is a white
// line; beside it the camera date and time at the position, the elapsed
// and total trip time, and the "Play trips continuously" check box. A press or drag anywhere on the strip asks for that
// moment of the trip (seekRequested); where it plays is the wiring's
// business (TripTimeline::locate).
//
// Plain widget: it knows no player and no engine. Ownership: its parent's.
// UI thread only. Times are camera times (the camera's wall clock).
#include "core/trip/trip_timeline.h"

#include <QColor>
#include <QWidget>

#include <memory>
#include <optional>

class QCheckBox;

namespace korvante {

class TripBar final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kHeight = 24;
    // The strip's colours: a recording of each kind (0 normal, 1 event,
    // 2 parking, 3 manual), the trip's empty stretches, an incident, the
    // position and the clip's span.
    static QColor kindColour(int kind);
    static constexpr QRgb kGapColour = qRgb(44, 46, 54);
    static constexpr QRgb kIncidentColour = qRgb(255, 59, 48);
    static constexpr QRgb kPositionColour = qRgb(255, 255, 255);
    static constexpr QRgb kSpanColour = qRgb(120, 220, 255);

    explicit TripBar(QWidget *parent = nullptr);

    // The trip shown; null shows an empty strip (nothing known yet). A new
    // trip forgets the position until the next setPosition.
    void setTrip(std::shared_ptr<const trip::TripTimeline> trip);
    const std::shared_ptr<const trip::TripTimeline> &trip() const { return m_trip; }
    // The playing moment; none hides the position line and the times.
    void setPosition(std::optional<overview::CameraTime> at);
    std::optional<overview::CameraTime> position() const { return m_position; }
    // The clip's In and Out; either may be unset.
    void setSpan(std::optional<overview::CameraTime> in, std::optional<overview::CameraTime> out);
    std::optional<overview::CameraTime> spanIn() const { return m_spanIn; }
    std::optional<overview::CameraTime> spanOut() const { return m_spanOut; }
    // A line shown instead of the times ("" none): why there is no trip, or
    // why the moment asked for cannot be played.
    void setMessage(const QString &text);

    // The text beside the strip: "YYYY-MM-DD HH:MM:SS · elapsed / total".
    QString text() const;
    // Where the trip is drawn, in the bar's coordinates.
    QRect stripRect() const;
    // The moment under x (clamped into the trip); none without a trip.
    std::optional<overview::CameraTime> timeAtX(int x) const;

    // "Play trips continuously", at the end of the text: the wiring keeps
    // it and the player's setting together.
    QCheckBox *continuousBox() const { return m_continuous; }

    // "mm:ss", or "h:mm:ss" from an hour.
    static QString durationText(std::chrono::milliseconds d);

signals:
    // The user pressed or dragged on the strip at `at`; `final` on the
    // press and the release, not on the moves between (a drag may seek
    // within the recording open as it goes, and open another at its end).
    void seekRequested(korvante::overview::CameraTime at, bool final);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int xOf(overview::CameraTime t) const;
    void dragTo(int x, bool final);

    std::shared_ptr<const trip::TripTimeline> m_trip;
    std::optional<overview::CameraTime> m_position;
    std::optional<overview::CameraTime> m_spanIn, m_spanOut;
    QString m_message;
    QCheckBox *m_continuous = nullptr;
    bool m_dragging = false;
    bool m_dragMoved = false; // a drag has moved since its press
};

} // namespace korvante
