#include "gsensor_graphic_dlg.h"

#include "core/playback/viewer_state.h"
#include "gsensor_plot.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/skin_library.h"
#include "gui/ui/mem_dc.h"
#include "gui/ui/skin_button.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <vector>

namespace korvante {

namespace {

const QColor kAxisColours[3] = {QColor(0, 255, 0), QColor(255, 0, 0), QColor(0, 0, 255)};
const QColor kCursorColour(255, 138, 72);
constexpr QRect kCloseRect(520, 10, 20, 20);

bool isPlaying(std::int32_t state)
{
    return state == StateRunning || state == StatePaused;
}

// The samples of the first minute, copied out under the list's lock so that
// drawing happens without it.
std::vector<SensorSample> firstMinute(const CQDRVTextData &data)
{
    std::vector<SensorSample> out;
    data.withSamples([&out](const std::list<SensorSample> &samples) {
        if (samples.empty())
            return;
        out.reserve(samples.size());
        // The first sample decides the scale even when it lies after the minute.
        out.push_back(samples.front());
        for (auto it = std::next(samples.begin()); it != samples.end(); ++it)
            if (static_cast<std::uint32_t>(it->timestamp) <= gsensor::kSpanMs)
                out.push_back(*it);
    });
    return out;
}

} // namespace

CGsensorGraphicDlg::CGsensorGraphicDlg(QWidget *mainWindow)
    : PanelFrame(mainWindow), m_state(GetViewerState())
{
    setObjectName(QStringLiteral("CGsensorGraphicDlg"));
    // Every paint covers the whole panel from an off-screen buffer.
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_close = new CSkinButton(QStringLiteral("Close"), kCloseButtonId, kCloseRect, this, {218, 219, 219, 219});
    m_close->hide();
    placeAt(kOffset, kNormalSize);
}

void CGsensorGraphicDlg::followMainWindow()
{
    if (m_wide)
        return;
    placeAt(kOffset, size());
    repaint();
}

void CGsensorGraphicDlg::setLayout(int wide)
{
    if ((wide != 0) == m_wide)
        return;
    m_wide = wide != 0;
    m_dragging = false;
    m_stripDrag.release();
    if (m_wide) {
        m_shown = false;
        hide();
        setWindowFlag(Qt::WindowStaysOnTopHint, true);
        placeAt(kOffset, kWideSize);
        m_close->setGeometry(kCloseRect);
        m_close->show();
    } else {
        m_shown = true;
        setWindowFlag(Qt::WindowStaysOnTopHint, false);
        placeAt(kOffset, kNormalSize);
        m_close->hide();
        show();
    }
    repaint();
}

void CGsensorGraphicDlg::setCursorTime(quint32 milliseconds)
{
    if (!m_sensorData)
        m_sensorData = &m_state.sensorData;
    m_cursorMs = milliseconds;
    update();
}

void CGsensorGraphicDlg::setIncidentMarks(std::vector<IncidentMark> marks)
{
    m_marks = std::move(marks);
    update();
}

void CGsensorGraphicDlg::paintMarks(QPainter &p)
{
    // Under the curves, so that the force they show stays in sight; each mark
    // carries its force at the top of the plot.
    const gsensor::PlotGeometry &g = gsensor::plotGeometry(m_wide);
    const QColor colour = QColor::fromRgba(kMarkColour);
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(m_wide ? 11 : 9);
    p.setFont(font);
    for (const IncidentMark &mark : m_marks) {
        const std::optional<int> x = gsensor::markX(g.cursor, mark.offsetMs);
        if (!x)
            continue;
        p.setPen(QPen(colour, 1, Qt::DashLine));
        p.drawLine(*x, g.curve.top(), *x, g.curve.bottom());
        const QPoint tip(*x, g.curve.top() + 6);
        const QPoint head[3] = {tip, QPoint(*x - 4, g.curve.top()), QPoint(*x + 4, g.curve.top())};
        p.setPen(Qt::NoPen);
        p.setBrush(colour);
        p.drawPolygon(head, 3);
        p.setBrush(Qt::NoBrush);
        p.setPen(colour);
        const QString label = QString::number(static_cast<double>(mark.g), 'f', 2) + QStringLiteral(" g");
        const int labelWidth = p.fontMetrics().horizontalAdvance(label);
        // Right of the line, or left of it near the plot's right end.
        const int left = *x + 4 + labelWidth <= g.curve.right() ? *x + 4 : *x - 4 - labelWidth;
        p.drawText(QPoint(left, g.curve.top() + 6 + p.fontMetrics().ascent()), label);
    }
}

qintptr CGsensorGraphicDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message == msg::PanelCommand) {
        if (w == cmd::Reset) {
            m_cursorMs = 0;
            repaint();
        } else if (w == cmd::ToggleGraph) {
            toggle();
        }
    } else if (message == msg::ButtonClick && w == kCloseButtonId) {
        hideByUser();
    }
    return 0;
}

void CGsensorGraphicDlg::toggle()
{
    // Beside the video the panel is always there; only the floating one toggles.
    if (m_state.layoutMode == 0)
        return;
    m_shown = !m_shown;
    showOnTop(m_shown);
}

void CGsensorGraphicDlg::hideByUser()
{
    hide();
    m_shown = false;
}

void CGsensorGraphicDlg::paintEvent(QPaintEvent *)
{
    QPainter target(this);
    CQDRVMemDC dc(target, rect());
    QPainter &p = dc.painter();
    const QPixmap background = SkinLibrary::bitmap(242);
    if (background.isNull())
        p.fillRect(rect(), QColor(28, 31, 40));
    else
        p.drawPixmap(rect(), background);

    const gsensor::PlotGeometry &g = gsensor::plotGeometry(m_wide);
    paintMarks(p);
    if (m_sensorData) {
        const gsensor::Curves curves = gsensor::curvePoints(firstMinute(*m_sensorData), g.curve);
        for (int a = 0; a < 3; ++a) {
            const std::vector<QPoint> &points = curves.axis[a];
            if (points.size() < 2)
                continue;
            p.setPen(QPen(kAxisColours[a], 1));
            p.drawPolyline(points.data(), static_cast<int>(points.size()));
        }
    }
    if (m_cursorMs != 0) {
        const int x = gsensor::cursorX(g.cursor, m_cursorMs);
        p.setPen(QPen(kCursorColour, 1));
        // The line covers the rectangle's rows, its bottom edge excluded.
        p.drawLine(x, g.cursor.top(), x, g.cursor.bottom());
    }
}

void CGsensorGraphicDlg::seekAt(QPoint point)
{
    MediaEngine &engine = m_state.engine;
    if (!engine.graph || !isPlaying(engine.GetState()))
        return;
    m_dragging = true;
    const std::optional<std::uint32_t> t = gsensor::seekTimeAt(point.x(), m_wide, engine.GetDurationMs());
    if (!t)
        return; // after the end of the recording
    // A seek message of 0 means "the seek slider's own position"; the start
    // of the recording is asked for as its first millisecond, which shows the
    // same first frame.
    const quintptr ms = *t == 0 ? 1 : *t;
    PostToPanel(panel::PlayerControl, msg::Seek, ms);
}

void CGsensorGraphicDlg::mousePressEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        if (m_wide && point.y() < kDragStripHeight && m_stripDrag.press(*this, event))
            return;
        if (gsensor::plotGeometry(m_wide).click.contains(point))
            seekAt(point);
        else
            m_dragging = false;
    }
    event->accept(); // right button: nothing
}

void CGsensorGraphicDlg::mouseMoveEvent(QMouseEvent *event)
{
    if (m_stripDrag.move(*this, event))
        return;
    const QPoint point = event->position().toPoint();
    if (!gsensor::plotGeometry(m_wide).click.contains(point))
        m_dragging = false;
    else if (m_dragging)
        seekAt(point);
    event->accept();
}

void CGsensorGraphicDlg::mouseReleaseEvent(QMouseEvent *event)
{
    m_stripDrag.release();
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    event->accept();
}

void CGsensorGraphicDlg::keyPressEvent(QKeyEvent *event)
{
    // Escape and Alt+F4 close the floating window as its Close button does.
    // Beside the video there would be no way to bring the panel back, so
    // there they do nothing. Every other key is swallowed.
    const bool closeKey = event->key() == Qt::Key_Escape ||
                          (event->key() == Qt::Key_F4 && (event->modifiers() & Qt::AltModifier));
    if (closeKey && m_wide)
        hideByUser();
    event->accept();
}

void CGsensorGraphicDlg::closeEvent(QCloseEvent *event)
{
    // A close from the window manager (Alt+F4) hides the floating panel; the
    // panel itself lives as long as the main window.
    event->ignore();
    if (m_wide)
        hideByUser();
}

} // namespace korvante
