#pragma once
// The strip of sensor numbers under the video (template 136): latitude,
// longitude and speed of the current GPS fix, and the G-sensor's X, Y and Z
// in g, each in a framed cell under its caption. 750 x 55 at the main
// window's origin plus (14, 725); in the wide layouts at the bottom of the
// screen.
//
// Commands from the player control panel: 3 (start) runs the refresh timer
// (every 500 ms) and starts a metadata poller thread, 2 (reset) stops the
// timer, shows zeros and empties the sensor lists. The timer keeps running
// while playback is paused, so a seek or a picture step while paused shows
// the numbers of the new position; a refresh whose position and lists are
// unchanged does nothing. Each refresh shows the last sample before the
// playback position and the fix that belongs to it (the one the map shows).
// Positions read as decimal degrees with their hemisphere letter
// ("N52.520272", "S33.868820", "W0.127758").
//
// The sample list is walked through its guarded walk; nothing is painted
// while its lock is held. Owned by the main window. UI thread only.

#include "gui/platform/panel_frame.h"

#include <QColor>
#include <QRect>
#include <QRegion>
#include <QString>

#include <array>
#include <optional>
#include <cstdint>

namespace korvante {

struct ViewerState;

class CUtilInfoDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 136;
    static constexpr QPoint kOffset{14, 725};
    static constexpr QSize kSize{750, 55};
    static constexpr int kRefreshTimer = 256;
    static constexpr int kRefreshMs = 500;

    // Value kinds of the update operation.
    enum ValueKind { AxisX = 0, AxisY = 1, AxisZ = 2, Longitude = 3, Latitude = 4, Speed = 5 };

    // One framed cell, in screen order: latitude, longitude, speed, X, Y, Z.
    struct Cell {
        const char *caption;
        QRect captionRect; // the value rectangle lies 20 pixels below
        QColor colour;
    };
    static const std::array<Cell, 6> &cells();
    static QRect valueRect(int cellIndex) { return cells()[static_cast<size_t>(cellIndex)].captionRect.translated(0, 20); }
    // The cell that shows a value kind.
    static int cellOf(ValueKind kind);

    explicit CUtilInfoDlg(QWidget *mainWindow);

    void followMainWindow() override;
    // Non-zero: wide placement (fit or full screen). Shows the panel.
    void setLayout(int wide) override;

    // Changes one shown value and repaints only its value rectangle, and only
    // when it differs: `raw` for the axes (raw sensor units), `value` for
    // longitude and latitude (the fix's own NMEA number) and speed (km/h).
    void updateValue(ValueKind kind, std::int32_t raw, double value);
    // One refresh step (the timer's): follows the playback position.
    void refresh();

    // The text a value cell shows ("%0.03f" g for the axes, "N52.520272",
    // "W0.127758", "%03d [km/h]" ...).
    QString valueText(ValueKind kind) const;
    std::int32_t rawAxis(int axis) const { return m_raw[static_cast<size_t>(axis)]; }
    float axisG(int axis) const { return m_g[static_cast<size_t>(axis)]; }
    bool isRefreshing() const { return isTimerActive(kRefreshTimer); }

    // A raw axis value in g, for samples whose first sample has `firstKind`
    // (2: 10-bit samples); without samples (`haveSamples` false) 0.
    static float toG(std::int32_t raw, bool haveSamples, std::int32_t firstKind);
    // "%03d [km/h]", "[mi/h]" or "[kn]" for `kmh` in unit 0, 1 or 2; empty
    // for any other unit.
    static QString speedText(double kmh, std::int32_t unit);
    // An NMEA position number (degrees × 100 + minutes, negative for south
    // and west) as decimal degrees after its hemisphere letter; a value that
    // is not finite reads as 0.
    static QString positionText(double nmea, bool latitude);

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    void onTimer(int id) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void invalidate(const QRect &rect);
    void reset();

    ViewerState &m_state;
    bool m_wide = false;
    std::array<std::int32_t, 3> m_raw{};
    std::array<float, 3> m_g{};
    float m_longitude = 0;
    float m_latitude = 0;
    double m_speed = 0;
    std::int32_t m_speedUnitShown = 0;
    QString m_longitudeText;
    QString m_latitudeText;
    QString m_speedText;
    QRegion m_pending; // invalidated since the last immediate repaint
    // What the last refresh looked at: the same position, lists and speed
    // unit again leave everything as it is.
    struct Seen {
        std::uint64_t positionMs = 0;
        std::uint64_t listChanges = 0;
        std::int32_t speedUnit = 0;
        bool operator==(const Seen &) const = default;
    };
    std::optional<Seen> m_seen;
};

} // namespace korvante
