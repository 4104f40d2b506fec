#pragma once
// Keeps the user's input away from a set of windows while a modal dialog runs
// over them, without disabling them: a disabled window would also disable
// every dialog parented to it, the modal one included.
//
// UI thread only. Installed on the application while blocking.

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

namespace korvante {

class InputBlocker final : public QObject {
    Q_OBJECT
public:
    explicit InputBlocker(QObject *parent = nullptr);
    ~InputBlocker() override;

    // Blocks (true) or lets through (false) mouse, wheel and key input to
    // `windows` and everything inside them. Other top-level windows, such as
    // dialogs parented to them, are not affected.
    void setBlocked(bool blocked, const std::vector<QWidget *> &windows);
    bool isBlocked() const { return m_blocked; }
    // Whether input to `widget` is held back now.
    bool blocks(const QWidget *widget) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_blocked = false;
    std::vector<QPointer<QWidget>> m_windows;
};

} // namespace korvante
