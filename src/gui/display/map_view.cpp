#include "map_view.h"

#include "core/platform/log.h"
#include "core/platform/resource_path.h"
#include "gui/display/map_browser.h"
#include "gui/display/map_script.h"
#include "gui/platform/skin_library.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLibrary>
#include <QPainter>
#include <QTimer>

#include <filesystem>

namespace korvante {

namespace {

// The engine, loaded after the application object exists, warns once that
// it would rather have been set up before it; without that set-up it draws
// in software, which is what a small map needs. Only that line is dropped.
QtMessageHandler g_previousHandler = nullptr;

void dropLateStartWarning(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("Qt WebEngine seems to be initialized from a plugin")))
        return;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    else
        qt_message_output(type, context, message);
}

} // namespace

QString mapBrowserModulePath()
{
    const std::string folder = executableFolderPath();
    std::error_code ec;
    const std::string beside = folder + kMapBrowserModuleName;
    if (std::filesystem::exists(beside, ec))
        return QString::fromStdString(beside);
    const std::filesystem::path installed =
        std::filesystem::path(folder) / ".." / "lib" / "korvante" / kMapBrowserModuleName;
    return QString::fromStdString(installed.lexically_normal().string());
}

CMap_view::CMap_view(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("CMap_view"));
}

CMap_view::~CMap_view() = default;

bool CMap_view::startBrowser()
{
    if (m_browser)
        return true;
    if (!m_problem.isEmpty())
        return false;
    QElapsedTimer took;
    took.start();
    const QString path = mapBrowserModulePath();
    // Kept loaded for the rest of the run: the engine cannot be unloaded.
    QLibrary module(path);
    module.setLoadHints(QLibrary::PreventUnloadHint);
    g_previousHandler = qInstallMessageHandler(dropLateStartWarning);
    const bool loaded = module.load();
    qInstallMessageHandler(g_previousHandler);
    g_previousHandler = nullptr;
    MapBrowserFactory factory = nullptr;
    if (!loaded) {
        m_problem = module.errorString();
    } else {
        auto abi = reinterpret_cast<MapBrowserAbiFunction>(module.resolve(kMapBrowserAbiSymbol));
        factory = reinterpret_cast<MapBrowserFactory>(module.resolve(kMapBrowserFactorySymbol));
        if (!abi || !factory)
            m_problem = QStringLiteral("%1 is not the map browser module").arg(path);
        else if (abi() != kMapBrowserAbi)
            m_problem = QStringLiteral("%1 belongs to another version of the viewer").arg(path);
    }
    if (!m_problem.isEmpty()) {
        logWarning("the map cannot be shown: " + m_problem.toStdString());
        update();
        return false;
    }
    MapBrowser::Events events;
    events.loadStarted = [this] { m_ready = false; };
    events.loadFinished = [this](bool ok) {
        m_ready = ok;
        emit pageLoaded(ok);
    };
    m_browser.reset(factory(this, QStringLiteral("KORVANTE-VIEWER/" KORVANTE_VERSION " "), std::move(events)));
    QWidget *view = m_browser->widget();
    view->setGeometry(rect());
    view->show();
    if (m_url.isValid())
        m_browser->load(m_url);
    logDebug("map browser started in " + std::to_string(took.elapsed()) + " ms");
    return true;
}

void CMap_view::Navigate(const QUrl &url)
{
    m_ready = false;
    m_url = url;
    if (m_browser)
        m_browser->load(url);
}

QString CMap_view::CallScript(const QString &text, int waitMs)
{
    const std::optional<ScriptCall> call = parseScriptCall(text);
    if (!call || !m_browser)
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
    m_browser->runJavaScript(scriptCallToJavaScript(*call), [pending](const QVariant &result) {
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
    if (!call || !m_browser)
        return false;
    m_browser->runJavaScript(scriptCallToJavaScript(*call), {});
    return true;
}

QString CMap_view::pageTitle() const
{
    return m_browser ? m_browser->title() : QString();
}

QWidget *CMap_view::browserWidget() const
{
    return m_browser ? m_browser->widget() : nullptr;
}

void CMap_view::paintEvent(QPaintEvent *)
{
    // Shows until the page has drawn itself over it.
    QPainter painter(this);
    painter.fillRect(rect(), QColor(28, 31, 40));
    const QPixmap corner = SkinLibrary::bitmap(261);
    if (!corner.isNull())
        painter.drawPixmap(width() - corner.width(), 0, corner);
    if (!m_problem.isEmpty()) {
        painter.setPen(QColor(200, 200, 200));
        painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("The map is not available."));
    }
    if (!m_browser && !m_startScheduled && m_problem.isEmpty()) {
        m_startScheduled = true;
        QTimer::singleShot(kStartDelayMs, this, [this] { startBrowser(); });
    }
}

void CMap_view::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_browser)
        m_browser->widget()->setGeometry(rect());
}

} // namespace korvante
