#include "map_view.h"

#include "gui/display/map_script.h"
#include "gui/platform/skin_library.h"

#include <QEventLoop>
#include <QPainter>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <memory>

namespace korvante {

CMap_view::CMap_view(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CMap_view"));
    // Off the record: nothing of the map is written below the user's home.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpUserAgent(QStringLiteral("KORVANTE-VIEWER/" KORVANTE_VERSION " ") + m_profile->httpUserAgent());
    m_view = new QWebEngineView(this);
    auto *page = new QWebEnginePage(m_profile, m_view);
    QWebEngineSettings *settings = page->settings();
    // The page is a local file that shows remote map tiles.
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, true);
    settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    settings->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    m_view->setPage(page);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setGeometry(rect());
    connect(m_view, &QWebEngineView::loadStarted, this, [this] { m_ready = false; });
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        m_ready = ok;
        emit pageLoaded(ok);
    });
}

CMap_view::~CMap_view()
{
    // The page must go before its profile.
    delete m_view;
}

void CMap_view::Navigate(const QUrl &url)
{
    m_ready = false;
    m_view->load(url);
}

QString CMap_view::CallScript(const QString &text, int waitMs)
{
    const std::optional<ScriptCall> call = parseScriptCall(text);
    if (!call || !m_view)
        return {};
    // The answer may come after the wait has given up; it then lands in this
    // shared record and nowhere else.
    struct Pending {
        bool done = false;
        QString result;
        QEventLoop *loop = nullptr;
    };
    auto pending = std::make_shared<Pending>();
    QEventLoop loop;
    pending->loop = &loop;
    m_view->page()->runJavaScript(scriptCallToJavaScript(*call), [pending](const QVariant &result) {
        pending->done = true;
        if (result.typeId() == QMetaType::QString)
            pending->result = result.toString();
        if (pending->loop)
            pending->loop->quit();
    });
    if (!pending->done) {
        QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    pending->loop = nullptr;
    return pending->done ? pending->result : QString();
}

bool CMap_view::PostScript(const QString &text)
{
    const std::optional<ScriptCall> call = parseScriptCall(text);
    if (!call || !m_view)
        return false;
    m_view->page()->runJavaScript(scriptCallToJavaScript(*call));
    return true;
}

void CMap_view::paintEvent(QPaintEvent *)
{
    // Shows until the page has drawn itself over it.
    QPainter painter(this);
    painter.fillRect(rect(), QColor(28, 31, 40));
    const QPixmap corner = SkinLibrary::bitmap(261);
    if (!corner.isNull())
        painter.drawPixmap(width() - corner.width(), 0, corner);
}

void CMap_view::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}

} // namespace korvante
