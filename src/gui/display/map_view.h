#pragma once
// The browser host of the map panel: a widget that holds a QWebEngineView
// filling it, opens the map page and calls the page's script functions.
//
// The view uses a profile of its own that keeps nothing on disk (no cache,
// no cookies in the user's home) and names the program in its requests, as
// map tile services ask of their users.
//
// Ownership: a child of the map panel; it owns the view and the profile and
// deletes the view first. UI thread only.

#include <QString>
#include <QUrl>
#include <QWidget>

class QWebEngineProfile;
class QWebEngineView;

namespace korvante {

class CMap_view final : public QWidget {
    Q_OBJECT
public:
    // Longest wait of CallScript for the page's answer, in milliseconds.
    static constexpr int kScriptWaitMs = 1500;

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
    // False when the text cannot be parsed (nothing is sent).
    bool PostScript(const QString &text);

    // True once the last Navigate finished loading successfully.
    bool isPageReady() const { return m_ready; }
    QWebEngineView *browser() const { return m_view; }

signals:
    void pageLoaded(bool ok);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QWebEngineProfile *m_profile = nullptr;
    QWebEngineView *m_view = nullptr;
    bool m_ready = false;
};

} // namespace korvante
