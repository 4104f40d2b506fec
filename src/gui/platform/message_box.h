#pragma once
// Message boxes and common dialogs behind hooks. The program calls these
// functions instead of QMessageBox / QFileDialog / QPrintDialog directly, so
// tests can install a handler that records the request and answers it: no test
// ever blocks on a modal window. UI thread only.

#include <QString>

#include <functional>

class QWidget;
class QPrinter;

namespace korvante::platform {

// Button sets, icons and answers keep the numbers the panels were written for.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_OKCANCEL = 0x1;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONERROR = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONWARNING = 0x30;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
// The second button (Cancel, No) is the default one, for questions whose
// first answer cannot be undone.
inline constexpr unsigned MB_DEFBUTTON2 = 0x100;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows `text` in a modal box, always as plain text (it may hold names and
// paths); returns the answer (IDOK, IDCANCEL, IDYES, IDNO).
int messageBox(QWidget *parent, const QString &text, const QString &caption = {},
               unsigned type = MB_OK);

using MessageBoxHook = std::function<int(const QString &text, const QString &caption, unsigned type)>;
// Installs a handler in place of the real box (empty: the real box again).
// Returns the previous handler.
MessageBoxHook setMessageBoxHook(MessageBoxHook hook);

// When the program runs without a display (KORVANTE_HEADLESS=1), message boxes
// are printed to standard error and answered with their default button
// (the first, or the second with MB_DEFBUTTON2).
bool headless();

struct DialogHooks {
    // Answer with a path, or an empty string for Cancel.
    std::function<QString(const QString &caption, const QString &startPath, const QString &filter)> saveFile;
    std::function<QString(const QString &caption, const QString &startFolder)> folder;
    // Answer true to print with the printer as configured by the hook (for
    // example a PDF printer), false for Cancel.
    std::function<bool(QPrinter &printer)> print;
};

class Dialogs final {
public:
    static QString getSaveFileName(QWidget *parent, const QString &caption, const QString &startPath,
                                   const QString &filter);
    static QString getExistingDirectory(QWidget *parent, const QString &caption,
                                        const QString &startFolder);
    static bool print(QWidget *parent, QPrinter &printer);

    static DialogHooks setHooks(DialogHooks hooks);
};

} // namespace korvante::platform
