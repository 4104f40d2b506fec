#include "message_box.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTimer>

#include <cstdio>

namespace korvante::platform {

namespace {

MessageBoxHook &boxHook()
{
    static MessageBoxHook hook;
    return hook;
}

DialogHooks &dialogHooks()
{
    static DialogHooks hooks;
    return hooks;
}

int defaultAnswer(unsigned type)
{
    const bool second = (type & MB_DEFBUTTON2) != 0;
    switch (type & 0xF) {
    case MB_OKCANCEL: return second ? IDCANCEL : IDOK;
    case MB_YESNO: return second ? IDNO : IDYES;
    default: return IDOK;
    }
}

} // namespace

bool headless()
{
    return qEnvironmentVariable("KORVANTE_HEADLESS") == QStringLiteral("1");
}

MessageBoxHook setMessageBoxHook(MessageBoxHook hook)
{
    MessageBoxHook previous = std::move(boxHook());
    boxHook() = std::move(hook);
    return previous;
}

int messageBox(QWidget *parent, const QString &text, const QString &caption, unsigned type)
{
    if (boxHook())
        return boxHook()(text, caption, type);
    if (headless()) {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        return defaultAnswer(type);
    }

    QMessageBox box(parent);
    // The panels are top-level windows of their own: without a window manager
    // keeping the box above them, it could open beneath one of them and hold
    // the whole viewer modal out of sight. Raise it once it is mapped.
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    for (const int delayMs : {0, 250}) {
        QTimer::singleShot(delayMs, &box, [&box] {
            box.raise();
            box.activateWindow();
        });
    }
    // Texts carry file names, paths and card data: a "<" in them is a
    // character, never markup that QMessageBox would otherwise guess at.
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setWindowTitle(caption.isEmpty() ? QStringLiteral("KORVANTE VIEWER") : caption);
    switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
    }
    const bool second = (type & MB_DEFBUTTON2) != 0;
    switch (type & 0xF) {
    case MB_OKCANCEL:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(second ? QMessageBox::Cancel : QMessageBox::Ok);
        break;
    case MB_YESNO:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(second ? QMessageBox::No : QMessageBox::Yes);
        break;
    default: box.setStandardButtons(QMessageBox::Ok); break;
    }
    switch (box.exec()) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return IDCANCEL;
    }
}

DialogHooks Dialogs::setHooks(DialogHooks hooks)
{
    DialogHooks previous = std::move(dialogHooks());
    dialogHooks() = std::move(hooks);
    return previous;
}

QString Dialogs::getSaveFileName(QWidget *parent, const QString &caption, const QString &startPath,
                                 const QString &filter)
{
    if (dialogHooks().saveFile)
        return dialogHooks().saveFile(caption, startPath, filter);
    return QFileDialog::getSaveFileName(parent, caption, startPath, filter);
}

QString Dialogs::getExistingDirectory(QWidget *parent, const QString &caption, const QString &startFolder)
{
    if (dialogHooks().folder)
        return dialogHooks().folder(caption, startFolder);
    return QFileDialog::getExistingDirectory(parent, caption, startFolder);
}

bool Dialogs::print(QWidget *parent, QPrinter &printer)
{
    if (dialogHooks().print)
        return dialogHooks().print(printer);
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace korvante::platform
