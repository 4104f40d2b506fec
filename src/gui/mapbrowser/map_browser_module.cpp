// The map's browser engine module: a QWebEngineView on a profile of its own
// that keeps nothing on disk (no cache, no cookies in the user's home) and
// names the program in its requests, as map tile services ask of their users.
// Loaded by the map panel at run time; see gui/display/map_browser.h.

#include "gui/display/map_browser.h"

#include <QResizeEvent>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QWidget>

namespace {

class WebEngineMapBrowser final : public QWidget, public korvante::MapBrowser {
public:
    WebEngineMapBrowser(QWidget *parent, const QString &userAgentPrefix, Events events) : QWidget(parent)
    {
        setObjectName(QStringLiteral("MapBrowser"));
        // Off the record: nothing of the map is written below the user's home.
        m_profile = new QWebEngineProfile(this);
        m_profile->setHttpUserAgent(userAgentPrefix + m_profile->httpUserAgent());
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
        if (events.loadStarted)
            connect(m_view, &QWebEngineView::loadStarted, this, events.loadStarted);
        if (events.loadFinished)
            connect(m_view, &QWebEngineView::loadFinished, this, events.loadFinished);
    }

    ~WebEngineMapBrowser() override
    {
        // The page must go before its profile.
        delete m_view;
    }

    QWidget *widget() override { return this; }
    void load(const QUrl &url) override { m_view->load(url); }
    void runJavaScript(const QString &script, std::function<void(const QVariant &)> done) override
    {
        if (done)
            m_view->page()->runJavaScript(script, done);
        else
            m_view->page()->runJavaScript(script);
    }
    QString title() const override { return m_view->title(); }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget::resizeEvent(event);
        m_view->setGeometry(rect());
    }

private:
    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
};

} // namespace

extern "C" Q_DECL_EXPORT int korvante_map_browser_abi()
{
    return korvante::kMapBrowserAbi;
}

extern "C" Q_DECL_EXPORT korvante::MapBrowser *korvante_create_map_browser(QWidget *parent,
                                                                          const QString &userAgentPrefix,
                                                                          korvante::MapBrowser::Events events)
{
    return new WebEngineMapBrowser(parent, userAgentPrefix, std::move(events));
}
