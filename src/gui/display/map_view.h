#pragma once
// The browser host of the map panel: a widget that holds the map's browser
// filling it, opens the map page and calls the page's script functions.
//
// The browser engine is a module loaded at run time (see map_browser.h), a
// moment after this widget is first painted, so the main window shows and
// draws before the engine starts. Until then a page asked for is kept and
// opened once the browser exists; scripts are not run (no page is ready).
// When the module cannot be loaded the widget says so in place of the map
// and everything else goes on.
//
// Ownership: a child of the map panel; it owns the browser. UI thread only.

#include <QString>
#include <QUrl>
#include <QWidget>

#include <memory>

namespace korvante {

class MapBrowser;

class CMap_view final : public QWidget {
    Q_OBJECT
public:
    // Longest wait of CallScript for the page's answer, in milliseconds.
    static constexpr int kScriptWaitMs = 1500;
    // Wait from the first paint to the browser's start, in milliseconds: long
    // enough for the main window and its panels to be drawn first.
    static constexpr int kStartDelayMs = 150;

    explicit CMap_view(QWidget *parent);
    ~CMap_view() override;

    // Opens `url` in the browser (the page's load runs on its own).
    void Navigate(const QUrl &url);

    // Calls a page function given as "[javascript:]Name(arg, arg, ...)" (see
    // parseScriptCall) and returns its result as a string; empty when the
    // text cannot be parsed, the page has no such function, it throws, or no
    // answer came within `waitMs`. Waits in a local event loop that leaves
    // user input queued, so the interface stays drawn but is not re-entered
    // by the user.
    QString CallScript(const QString &text, int waitMs = kScriptWaitMs);
    // The same call without waiting, for callers that ignore the result.
    // False when the text cannot be parsed or there is no browser yet
    // (nothing is sent).
    bool PostScript(const QString &text);

    // Loads the browser module and makes the browser now, if not done yet;
    // true when there is a browser. A failure is logged and remembered.
    bool startBrowser();
    bool hasBrowser() const { return m_browser != nullptr; }
    // Why the browser could not be made; empty when it was or was not tried.
    QString browserProblem() const { return m_problem; }

    // True once the last Navigate finished loading successfully.
    bool isPageReady() const { return m_ready; }
    // The title of the page shown (empty without a browser).
    QString pageTitle() const;
    // The widget the browser draws in, to grab; null without a browser.
    QWidget *browserWidget() const;

signals:
    void pageLoaded(bool ok);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    std::unique_ptr<MapBrowser> m_browser;
    QUrl m_url;
    QString m_problem;
    bool m_ready = false;
    bool m_startScheduled = false;
};

// The browser module's path: beside the executable, else in lib/korvante of
// the installation that holds the executable's bin folder.
QString mapBrowserModulePath();

} // namespace korvante
