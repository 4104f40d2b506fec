#pragma once
// The span of camera time the user marked for a clip: In and Out, each set
// at the playing position of the open recording (its name's time plus the
// position), so a span may begin in one recording and end in a later one of
// the same source. The span belongs to one source: it is cleared when
// another source is listed.
//
// Ownership: a plain QObject, owned by whoever shows the span. UI thread only.

#include "core/overview/card_overview.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace korvante {

using overview::CameraTime;

// The camera time a recording's name gives ("N_20240501_100000_2CH_F.avi":
// 2024-05-01 10:00:00); none for a name without a valid date and time.
std::optional<CameraTime> cameraTimeOfName(const QString &name);

class ClipSpan final : public QObject {
    Q_OBJECT
public:
    explicit ClipSpan(QObject *parent = nullptr) : QObject(parent) {}

    std::optional<CameraTime> in() const { return m_in; }
    std::optional<CameraTime> out() const { return m_out; }
    // Both marks set and Out after In: a clip can be made of it.
    bool isComplete() const { return m_in && m_out && *m_out > *m_in; }

    void setIn(CameraTime time);
    void setOut(CameraTime time);
    void clear();

    // The source the span was marked in ("" none yet). Another source clears
    // the span; the first one only records itself.
    void followSource(const std::string &sourceKey);

    // One line for the user: "Clip 2024-05-01 10:00:05.000 – 10:00:35.000 (30 s)",
    // with the day repeated for Out only when it differs; "In …" or "Out …"
    // while one mark is set; a note when Out is not after In; "" when clear.
    QString statusText() const;

    // The marks for the seek slider of a recording that starts at `start`
    // and is `lengthMs` long, in the slider's units (ms from its start),
    // kept within one step outside [0, lengthMs] so they fit an int.
    std::pair<std::optional<int>, std::optional<int>> sliderMarks(CameraTime start, std::int64_t lengthMs) const;

signals:
    // The marks changed (either may be none).
    void spanChanged(std::optional<CameraTime> in, std::optional<CameraTime> out);

private:
    void changed();

    std::optional<CameraTime> m_in, m_out;
    std::string m_source;
};

// "30 s", "2 min 05 s", "1 h 02 min 05 s"; tenths below a minute when not whole ("2.5 s").
QString spanLengthText(std::chrono::milliseconds length);

} // namespace korvante
