#pragma once
// A combo box of the dark panels: its field and drop-down list are white,
// its own background (seen only where the style leaves gaps) RGB(255,16,16).
//
// Ownership: a child widget of its parent. UI thread only.

#include <QComboBox>

namespace korvante {

class CSkinComboBox final : public QComboBox {
    Q_OBJECT
public:
    static QColor eraseColour() { return QColor(255, 16, 16); }

    // `rect` is in parent coordinates; the height follows the style.
    CSkinComboBox(int id, const QRect &rect, QWidget *parent);
    ~CSkinComboBox() override;

    int id() const { return m_id; }

private:
    int m_id;
};

} // namespace korvante
