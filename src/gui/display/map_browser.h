#pragma once
// The map panel's browser engine, as the panel sees it. The engine lives in a
// module of its own (korvante-map-browser.so, beside the executable or in
// lib/korvante of an installation) that the panel loads once it is on screen:
// linked into the viewer, the engine's libraries and its OpenGL set-up made
// every start several times slower before the main window could show.
//
// The module is built with the program and checked by kMapBrowserAbi; both
// sides share Qt and the C++ library, so Qt and standard types cross freely.
//
// Ownership: the object returned by the module's entry point is a widget
// made a child of `parent`; deleting it (through this interface) deletes the
// page before its profile. UI thread only.

#include <QString>
#include <QUrl>
#include <QVariant>

#include <functional>

class QWidget;

namespace korvante {

class MapBrowser {
public:
    struct Events {
        std::function<void()> loadStarted;
        std::function<void(bool ok)> loadFinished;
    };

    virtual ~MapBrowser() = default;
    virtual QWidget *widget() = 0;
    virtual void load(const QUrl &url) = 0;
    // Runs `script` in the page; `done` (may be empty) gets its result.
    virtual void runJavaScript(const QString &script, std::function<void(const QVariant &)> done) = 0;
    virtual QString title() const = 0;
};

// Raise when the interface above changes.
inline constexpr int kMapBrowserAbi = 1;

// The module's entry points (C linkage, looked up by name).
using MapBrowserAbiFunction = int (*)();
using MapBrowserFactory = MapBrowser *(*)(QWidget *parent, const QString &userAgentPrefix, MapBrowser::Events events);
inline constexpr const char *kMapBrowserAbiSymbol = "korvante_map_browser_abi";
inline constexpr const char *kMapBrowserFactorySymbol = "korvante_create_map_browser";
inline constexpr const char *kMapBrowserModuleName = "korvante-map-browser.so";

} // namespace korvante
