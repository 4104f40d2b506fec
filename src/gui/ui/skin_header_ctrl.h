#pragma once
// The list's column header, drawn from the executable's bitmaps: a background
// strip (140) stretched over the whole width, each column's 20-pixel face
// (141) stretched to the column width with a 2-pixel edge (142) at its end,
// and the column title in white, centred on one line and cut with an ellipsis.
//
// Ownership: the list takes the header over when it is installed. UI thread only.

#include <QFont>
#include <QHeaderView>

namespace korvante {

class CSkinHeaderCtrl final : public QHeaderView {
    Q_OBJECT
public:
    static constexpr int kHeight = 20;
    static constexpr int kBackgroundImage = 140;
    static constexpr int kFaceImage = 141;
    static constexpr int kEdgeImage = 142;
    static constexpr int kEdgeWidth = 2;
    static constexpr int kTextInset = 2;

    explicit CSkinHeaderCtrl(QWidget *parent = nullptr);
    ~CSkinHeaderCtrl() override;

    QSize sizeHint() const override;
    // The title font: "Sevenet 7", 14 pixels high (the system's nearest font
    // where it is not installed).
    static QFont titleFont();

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace korvante
