#pragma once
// A drop-down list of the dark panels. Its field is white with black text,
// framed in the skin's blue-grey; its open list drops below the field in the
// skin's list colours (text RGB(158,177,187) on near-black, the chosen line
// RGB(229,229,229) on RGB(115,123,165)), never in a system or alarm colour.
//
// No entry is cut off at its end: when the longest entry does not fit the
// field at the font the owner set, the field's font is made smaller (down to
// two thirds of it, 9 pixels at least) until it does; an entry longer still
// is shown shortened in its middle. The open list is as wide as its longest
// entry, so every entry reads whole there.
//
// Ownership: a child widget of its parent. UI thread only.

#include <QComboBox>
#include <QFont>

namespace korvante {

class CSkinComboBox final : public QComboBox {
    Q_OBJECT
public:
    // The colours of the field and of the open list.
    static QColor fieldColour() { return QColor(255, 255, 255); }
    static QColor frameColour() { return QColor(76, 85, 118); }
    static QColor listColour() { return QColor(16, 16, 16); }
    static QColor listTextColour() { return QColor(158, 177, 187); }
    static QColor chosenColour() { return QColor(115, 123, 165); }
    static QColor chosenTextColour() { return QColor(229, 229, 229); }

    // `rect` is in parent coordinates; the height follows the style.
    CSkinComboBox(int id, const QRect &rect, QWidget *parent);
    ~CSkinComboBox() override;

    int id() const { return m_id; }
    // The width in pixels that the field leaves for an entry's text.
    int textRoom() const;
    // Whether `text` fits the field at the font now used.
    bool fits(const QString &text) const;
    // The font the owner set; the field may show its entries smaller.
    const QFont &ownerFont() const { return m_ownerFont; }

    void showPopup() override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Picks the largest font, up to the owner's, at which every entry fits.
    void fitEntries();

    int m_id;
    QFont m_ownerFont;     // the font the owner asked for
    bool m_fitting = false; // set while fitEntries() changes the font itself
};

} // namespace korvante
