#include "input_blocker.h"

#include <QCoreApplication>
#include <QEvent>

namespace korvante {

InputBlocker::InputBlocker(QObject *parent) : QObject(parent) {}

InputBlocker::~InputBlocker()
{
    if (m_blocked && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void InputBlocker::setBlocked(bool blocked, const std::vector<QWidget *> &windows)
{
    m_windows.assign(windows.begin(), windows.end());
    if (blocked == m_blocked)
        return;
    m_blocked = blocked;
    if (QCoreApplication *app = QCoreApplication::instance()) {
        if (blocked)
            app->installEventFilter(this);
        else
            app->removeEventFilter(this);
    }
}

bool InputBlocker::blocks(const QWidget *widget) const
{
    if (!m_blocked || !widget)
        return false;
    const QWidget *top = widget->window();
    for (const auto &w : m_windows)
        if (w && w.data() == top)
            return true;
    return false;
}

bool InputBlocker::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
        if (watched->isWidgetType() && blocks(static_cast<QWidget *>(watched)))
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace korvante
