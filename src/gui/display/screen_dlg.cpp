#include "screen_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/screen_metrics.h"
#include "gui/ui/skin_static.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace korvante {

namespace {
constexpr int kWheelNotch = 120;
constexpr int kZoomStep = 20;
} // namespace

CScreenDlg::CScreenDlg(QWidget *mainWindow, const Geometry &geometry)
    : PanelFrame(mainWindow), m_state(GetViewerState()), m_geometry(geometry), m_selected(geometry.selected)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_videoArea = new CSkinStatic(geometry.videoAreaId, QRect(QPoint(2, 2), geometry.videoArea), this);
    m_videoArea->setVideoPainter([this](CSkinStatic &window, QPainter &painter) {
        placePicture();
        return m_state.engine.PaintVideo(&window, painter);
    });
    // The video area lets presses through to the panel (selection, drag).
    placeAt(geometry.offset, geometry.size);
}

CScreenDlg::~CScreenDlg()
{
    // The engine must not draw into a window that is gone.
    MediaEngine &engine = m_state.engine;
    for (auto &window : engine.videoWindow)
        if (window == m_videoArea)
            window = nullptr;
}

void CScreenDlg::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void CScreenDlg::setMessage(const QString &text)
{
    m_videoArea->setMessage(text);
}

QString CScreenDlg::message() const
{
    return m_videoArea->message();
}

int CScreenDlg::slot() const
{
    // After the screens are swapped the other channel's renderer draws here:
    // zoom, pan and fit must act on that renderer, with this window's size.
    if (const auto &graph = m_state.engine.graph) {
        for (int s = 0; s < 4; ++s)
            if (graph->window[s] == m_videoArea && graph->renderer[s])
                return s;
    }
    return channel();
}

bool CScreenDlg::hasRenderer() const
{
    const auto &graph = m_state.engine.graph;
    return graph && graph->renderer[slot()] != nullptr;
}

bool CScreenDlg::isPlayingOrPaused() const
{
    const int s = m_state.engine.GetState();
    return s == 0 || s == 1;
}

int CScreenDlg::zoom() const
{
    return m_state.engine.zoom[slot()];
}

void CScreenDlg::clampPan()
{
    const int z = std::max(0, zoom());
    m_pan.setX(std::clamp(m_pan.x(), 0, z));
    m_pan.setY(std::clamp(m_pan.y(), 0, z));
}

void CScreenDlg::zoomIn()
{
    m_state.engine.ZoomStep(slot(), kZoomStep, m_videoArea);
}

bool CScreenDlg::zoomOut()
{
    if (zoom() < 1) {
        if (clearsPanWhenUnzoomed())
            m_pan = QPoint();
        return false;
    }
    m_state.engine.ZoomStep(slot(), -kZoomStep, m_videoArea);
    clampPan();
    return true;
}

void CScreenDlg::repaintAll()
{
    m_videoArea->update();
    update();
}

void CScreenDlg::followMainWindow()
{
    if (m_state.layoutMode == 0)
        placeAt(m_geometry.offset, size());
}

void CScreenDlg::widePlacement(int mode, QSize screen, QSize native, QRect &panel, QRect &area)
{
    const int w = screen.width() - 25;
    const int h = screen.height() - 100;
    if (mode == 2) {
        panel = QRect(12, 30, w, h);
        area = QRect(4, 2, w - 8, h - 6);
        return;
    }
    const int vw = std::min(native.width(), w);
    const int vh = std::min(native.height(), h);
    panel = QRect(12 + (w - vw) / 2, 30 + (h - vh) / 2, vw, vh);
    area = QRect(4, 2, vw - 8, vh - 6);
}

void CScreenDlg::setLayout(int mode)
{
    if (endsDragNearEdge()) // the front screen
        followMainWindow();
    if (!m_selected)
        return;
    lower();
    hide();
    if (mode == 0) {
        placeAt(m_geometry.offset, m_geometry.size);
        m_videoArea->setGeometry(QRect(QPoint(2, 2), m_geometry.videoArea));
    } else {
        std::int32_t width = 0, height = 0, ax = 0, ay = 0;
        if (!m_state.engine.graph ||
            m_state.engine.GetNativeVideoSize(slot(), &width, &height, &ax, &ay) != S_OK) {
            width = height = 0;
        }
        QRect panel, area;
        widePlacement(mode, screenSize(), QSize(width, height), panel, area);
        setGeometry(panel);
        m_videoArea->setGeometry(area.normalized().isValid() ? area : QRect(4, 2, 0, 0));
    }
    show();
    repaintAll();
}

qintptr CScreenDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message != msg::PanelCommand)
        return 0;
    switch (static_cast<int>(w)) {
    case cmd::Reset:
        m_state.engine.ZoomReset(slot(), m_videoArea);
        repaintAll();
        break;
    case cmd::ZoomIn:
        zoomIn();
        repaintAll();
        break;
    case cmd::ZoomOut:
        if (zoomOut())
            repaintAll();
        break;
    case cmd::ZoomReset:
        m_state.engine.ZoomReset(slot(), m_videoArea);
        repaintAll();
        break;
    case cmd::RepaintVideo:
        repaintAll();
        break;
    default:
        break;
    }
    return 0;
}

void CScreenDlg::placePicture()
{
    // Zoom and pan decide where the renderer draws; applied right before the
    // video area paints, so that a paint never has to ask for another one.
    if (m_state.engine.graph && isPlayingOrPaused()) {
        if (zoom() < 1)
            m_pan = QPoint();
        m_state.engine.PlacePicture(slot(), m_videoArea, nullptr, m_pan.x(), m_pan.y());
    }
}

void CScreenDlg::paintEvent(QPaintEvent *)
{
    // The frame around the video area; the area paints the picture itself.
    QPainter painter(this);
    painter.fillRect(rect(), QColor(28, 31, 40));
    if (m_selected) {
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(0, 0, width() - 1, height() - 1));
    }
}

void CScreenDlg::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !hasRenderer())
        return;
    if (!m_selected)
        postMessage(parentWidget(), msg::ScreenSelect, 0);
    if (zoom() > 0) {
        m_dragging = true;
        m_last = event->position().toPoint();
    }
}

void CScreenDlg::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint point = event->position().toPoint();
    if (endsDragNearEdge() && (point.x() < 2 || point.y() < 2)) {
        m_dragging = false;
        return;
    }
    if (!m_dragging || point == m_last)
        return;
    const int z = std::max(0, zoom());
    m_pan.setX(std::clamp(m_pan.x() + m_last.x() - point.x(), 0, z));
    m_pan.setY(std::clamp(m_pan.y() + m_last.y() - point.y(), 0, z));
    m_last = point;
    repaintAll();
}

void CScreenDlg::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !hasRenderer())
        return;
    m_dragging = false;
    const QPoint point = event->position().toPoint();
    const QSize area = m_videoArea->size();
    if (point.x() >= 0 && point.y() >= 0 && point.x() < area.width() && point.y() < area.height() && !m_selected)
        postMessage(parentWidget(), msg::ScreenSelect, channel() == 0 ? 1 : 2);
}

void CScreenDlg::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept(); // ignored on purpose
}

void CScreenDlg::wheelEvent(QWheelEvent *event)
{
    if (!isPlayingOrPaused())
        return;
    const int delta = event->angleDelta().y();
    if (delta == kWheelNotch) {
        zoomIn();
    } else if (delta == -kWheelNotch) {
        if (!zoomOut())
            return;
    } else {
        PanelFrame::wheelEvent(event);
        return;
    }
    repaintAll();
}

CScreen1Dlg::CScreen1Dlg(QWidget *mainWindow)
    : CScreenDlg(mainWindow, {129, 1000, 0, QPoint(14, 25), QSize(745, 419), QSize(741, 415), true})
{
    setObjectName(QStringLiteral("CScreen1Dlg"));
}

CScreen2Dlg::CScreen2Dlg(QWidget *mainWindow)
    : CScreenDlg(mainWindow, {130, 1001, 1, QPoint(14, 508), QSize(390, 219), QSize(386, 215), false})
{
    setObjectName(QStringLiteral("CScreen2Dlg"));
}

} // namespace korvante
