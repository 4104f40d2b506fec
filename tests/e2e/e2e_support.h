#pragma once
// Helpers shared by the end-to-end tests: the Qt application for image
// loading, reading frame numbers out of screenshots, running korvante-mkcard,
// and the environment a viewer under test runs with.

#include "support/temp_dir.h"

#include <QImage>
#include <QProcessEnvironment>
#include <QRect>
#include <QStringList>

#include <string>

namespace korvante::testing {

void ensureGuiApp();
bool haveXTools();
// The frame number painted into `area` of a screenshot, -1 when none.
int frameIn(const QImage &shot, const QRect &area);
int luma(QRgb c);
// Runs korvante-mkcard; the error output when it fails, empty on success.
std::string runMkcardTool(const QStringList &args);
// Environment for a viewer started by a test: own socket folder and
// registry inside `dir`, debug lines on, a close timer as a safety net.
QProcessEnvironment viewerEnvironment(const TempDir &dir, int quitAfterMs);

// The two video areas relative to the main window's top-left corner.
inline QRect frontVideoArea(QPoint origin) { return QRect(origin + QPoint(16, 27), QSize(741, 415)); }
inline QRect rearVideoArea(QPoint origin) { return QRect(origin + QPoint(16, 510), QSize(386, 215)); }

} // namespace korvante::testing
