#include "skin_combo_box.h"

#include <QAbstractItemView>

namespace korvante {

CSkinComboBox::CSkinComboBox(int id, const QRect &rect, QWidget *parent) : QComboBox(parent), m_id(id)
{
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, eraseColour());
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Button, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    view()->setPalette(palette);
    setGeometry(rect.x(), rect.y(), rect.width(), rect.height() > 0 ? rect.height() : sizeHint().height());
}

CSkinComboBox::~CSkinComboBox() = default;

} // namespace korvante
