#pragma once
// The picture settings panel (template 159): four sliders for the decoder's
// picture parameters (luminance gain, luminance offset, hue, saturation), a
// Reset and a Close button. 280 x 106, floating, centred on the main window,
// hidden until toggled. The settings are re-applied at every start of
// playback, so they carry over from one recording to the next.
//
// Owned by the main window. UI thread only.

#include "gui/platform/panel_frame.h"

#include <array>

namespace korvante {

class CBitmapSlider;
class CSkinButton;
struct ViewerState;

class CScreenSettingDlg : public PanelFrame {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 159;
    static constexpr QSize kSize{280, 106};

    struct SliderSpec {
        int id;
        QRect rect;
        int maximum;
        int initial;
        int parameter; // decoder parameter id
        int bias;      // value passed = position - bias
    };
    static const std::array<SliderSpec, 4> &sliderSpecs();

    explicit CScreenSettingDlg(QWidget *mainWindow);

    bool isShownFlag() const { return m_shown; }
    CBitmapSlider *slider(int index) const { return m_sliders[static_cast<size_t>(index)]; }
    // Applies one slider's parameter (index 0..3), or all four in order; a
    // paused picture is decoded again when a value changed.
    void applyParameter(int index);
    void applyAll();
    void resetSliders();
    void toggleShown();

private:
    // Hands one slider's value to the decoders; true when it changed anything.
    bool setParameter(int index);
    void showChanges(bool changed);

protected:
    qintptr onMessage(int message, quintptr w, qintptr l) override;
    bool dragsByBody() const override { return true; }
    void paintEvent(QPaintEvent *event) override;

private:
    ViewerState &m_state;
    std::array<CBitmapSlider *, 4> m_sliders{};
    CSkinButton *m_close = nullptr;
    CSkinButton *m_reset = nullptr;
    bool m_shown = false;
};

} // namespace korvante
