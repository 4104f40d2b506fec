#pragma once
// The colours of the dark skin, in one place so every image agrees.

#include <QColor>

namespace korvante::skin::palette {

inline const QColor panelDark{16, 16, 16};      // panel fill
inline const QColor panelBlue{28, 31, 40};      // secondary panel fill
inline const QColor frame{32, 33, 38};          // 3-pixel panel frames
inline const QColor cellLine{51, 51, 51};       // thin separators
inline const QColor groupFill{22, 24, 31};      // grouped area inside a panel
inline const QColor groupLine{48, 52, 66};      // border of a grouped area
inline const QColor caption{255, 255, 255};     // captions
inline const QColor label{200, 203, 212};       // secondary labels
inline const QColor dimLabel{130, 135, 150};    // tick labels, hints
inline const QColor glyph{196, 199, 208};       // glyphs at rest
inline const QColor glyphBright{255, 255, 255}; // glyphs under the mouse
inline const QColor glyphPressed{170, 176, 200};
inline const QColor accent{115, 123, 165};      // selection and hover
inline const QColor accentLight{160, 170, 220};
inline const QColor accentDark{62, 68, 98};
inline const QColor hoverFill{72, 79, 112};
inline const QColor pressedFill{36, 40, 58};
inline const QColor groove{6, 6, 8};
inline const QColor grooveLine{58, 61, 74};
inline const QColor scrollFill{76, 85, 118};    // behind the scroll bar pieces
inline const QColor magenta{255, 0, 255};       // transparent key of the blitted backgrounds
inline const QColor axisX{0, 255, 0};
inline const QColor axisY{255, 0, 0};
inline const QColor axisZ{0, 0, 255};
inline const QColor recordRed{220, 60, 60};

} // namespace korvante::skin::palette
