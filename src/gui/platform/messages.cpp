#include "messages.h"

#include <QCoreApplication>

namespace korvante {

QEvent::Type PanelMessage::eventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

bool postMessage(QObject *target, int message, quintptr w, qintptr l)
{
    if (!target)
        return false;
    QCoreApplication::postEvent(target, new PanelMessage(message, w, l));
    return true;
}

qintptr sendMessage(QObject *target, int message, quintptr w, qintptr l)
{
    if (!target)
        return 0;
    PanelMessage event(message, w, l);
    QCoreApplication::sendEvent(target, &event);
    return event.result();
}

} // namespace korvante
