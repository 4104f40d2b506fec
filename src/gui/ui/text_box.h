#pragma once
// A text label on the dark panels (the player's time display): "00:00" in
// RGB(92,102,127) at first, drawn left-aligned and vertically centred over a
// RGB(16,16,16) background. Setting the same text again does not repaint;
// a different text repaints at once.
//
// Ownership: a child widget of its parent. UI thread only.

#include <QColor>
#include <QString>
#include <QWidget>

namespace korvante {

class CTextBox final : public QWidget {
    Q_OBJECT
public:
    static QColor defaultTextColour() { return QColor(92, 102, 127); }
    static QColor backgroundColour() { return QColor(16, 16, 16); }

    // `rect` is in parent coordinates.
    CTextBox(int id, const QRect &rect, QWidget *parent);
    ~CTextBox() override;

    int id() const { return m_id; }
    QString text() const { return m_text; }
    void setText(const QString &text);
    QColor textColour() const { return m_colour; }
    void setTextColour(const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_id;
    QString m_text = QStringLiteral("00:00");
    QColor m_colour = defaultTextColour();
};

} // namespace korvante
