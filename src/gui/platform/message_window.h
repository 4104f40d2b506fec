#pragma once
// Base of every panel and dialog: receives panel messages through a virtual
// onMessage(), and keeps a set of timers keyed by the program's timer ids
// (setTimer replaces a running timer of the same id; timers repeat until
// killed), delivered to onTimer(id). UI thread only.

#include "messages.h"

#include <QBasicTimer>
#include <QDialog>
#include <QTimerEvent>
#include <QWidget>

#include <map>
#include <memory>

namespace korvante {

template <class Base>
class MessageWindow : public Base {
public:
    using Base::Base;

    // Starts (or restarts) timer `id` with an interval in milliseconds.
    void setTimer(int id, int intervalMs)
    {
        auto &timer = m_timers[id];
        if (!timer)
            timer = std::make_unique<QBasicTimer>();
        timer->start(intervalMs, this);
    }
    // Stops timer `id`; false when it was not running. Hides QObject's
    // killTimer on purpose: panels speak of their own timer ids only.
    bool killTimer(int id)
    {
        auto it = m_timers.find(id);
        if (it == m_timers.end() || !it->second->isActive())
            return false;
        it->second->stop();
        return true;
    }
    bool isTimerActive(int id) const
    {
        auto it = m_timers.find(id);
        return it != m_timers.end() && it->second->isActive();
    }

protected:
    virtual qintptr onMessage(int message, quintptr w, qintptr l)
    {
        (void)message;
        (void)w;
        (void)l;
        return 0;
    }
    virtual void onTimer(int id) { (void)id; }

    bool event(QEvent *e) override
    {
        if (e->type() == PanelMessage::eventType()) {
            auto *m = static_cast<PanelMessage *>(e);
            m->setResult(onMessage(m->message(), m->w(), m->l()));
            return true;
        }
        return Base::event(e);
    }

    void timerEvent(QTimerEvent *e) override
    {
        for (auto &[id, timer] : m_timers) {
            if (timer->timerId() == e->timerId()) {
                onTimer(id);
                return;
            }
        }
        Base::timerEvent(e);
    }

private:
    std::map<int, std::unique_ptr<QBasicTimer>> m_timers;
};

using PanelWindow = MessageWindow<QWidget>;
using PanelDialog = MessageWindow<QDialog>;

} // namespace korvante
