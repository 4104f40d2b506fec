#include "screen_setting_dlg.h"

#include "core/playback/viewer_state.h"
#include "gui/platform/messages.h"
#include "gui/platform/panel_registry.h"
#include "gui/platform/skin_library.h"
#include "gui/ui/bitmap_slider.h"
#include "gui/ui/skin_button.h"

#include <QPainter>

namespace korvante {

const std::array<CScreenSettingDlg::SliderSpec, 4> &CScreenSettingDlg::sliderSpecs()
{
    static const std::array<SliderSpec, 4> specs = {{
        {1280, QRect(QPoint(152, 40), QPoint(236, 52)), 256, 128, 201, 0},
        {1281, QRect(QPoint(28, 40), QPoint(112, 52)), 512, 256, 202, 256},
        {1282, QRect(QPoint(152, 75), QPoint(236, 87)), 360, 180, 203, 180},
        {1283, QRect(QPoint(28, 75), QPoint(112, 87)), 128, 64, 204, 0},
    }};
    return specs;
}

CScreenSettingDlg::CScreenSettingDlg(QWidget *mainWindow)
    : PanelFrame(mainWindow), m_state(GetViewerState())
{
    setObjectName(QStringLiteral("CScreenSettingDlg"));
    m_close = new CSkinButton(QStringLiteral("Close"), 0, QRect(255, 0, 20, 20), this, {218, 219, 219, 219});
    m_reset = new CSkinButton(QStringLiteral("Reset"), 1, QRect(242, 80, 32, 20), this, {250, 251, 251, 251});
    for (size_t i = 0; i < 4; ++i) {
        const SliderSpec &def = sliderSpecs()[i];
        auto *slider = new CBitmapSlider(QString(), def.id, def.rect, this);
        slider->setBitmapChannel(117, 118);
        slider->setBitmapThumb(116, 115);
        slider->drawFocusRect(false);
        slider->setRange(0, def.maximum);
        slider->setPos(def.initial);
        slider->setNotifyWindow(this);
        m_sliders[i] = slider;
    }
    resize(kSize);
    if (mainWindow)
        move(mainWindow->frameGeometry().center() - QPoint(kSize.width() / 2, kSize.height() / 2));
}

bool CScreenSettingDlg::setParameter(int index)
{
    MediaEngine &engine = m_state.engine;
    const int s = engine.GetState();
    if (!engine.graph || (s != 0 && s != 1))
        return false;
    const SliderSpec &def = sliderSpecs()[static_cast<size_t>(index)];
    const std::int32_t value = m_sliders[static_cast<size_t>(index)]->pos() - def.bias;
    if (!engine.PictureParamDiffers(def.parameter, value))
        return false;
    engine.SetPictureParam(def.parameter, value);
    return true;
}

void CScreenSettingDlg::showChanges(bool changed)
{
    if (!changed)
        return;
    // A paused picture is decoded once more with the new settings; while
    // playing, the next frames already use them.
    m_state.engine.RefreshPicture();
    PostToPanel(129, msg::PanelCommand, cmd::RepaintVideo);
    PostToPanel(130, msg::PanelCommand, cmd::RepaintVideo);
}

void CScreenSettingDlg::applyParameter(int index)
{
    showChanges(setParameter(index));
}

void CScreenSettingDlg::applyAll()
{
    // Every start of playback applies all four: only a real change costs a
    // decode (a seek on camera footage takes a good part of a second).
    bool changed = false;
    for (int i = 0; i < 4; ++i)
        changed = setParameter(i) || changed;
    showChanges(changed);
}

void CScreenSettingDlg::resetSliders()
{
    for (size_t i = 0; i < 4; ++i) {
        const SliderSpec &def = sliderSpecs()[i];
        m_sliders[i]->setPos(std::clamp(def.initial, 0, def.maximum));
        m_sliders[i]->update();
    }
    applyAll();
}

void CScreenSettingDlg::toggleShown()
{
    m_shown = !m_shown;
    showOnTop(m_shown);
}

qintptr CScreenSettingDlg::onMessage(int message, quintptr w, qintptr)
{
    if (message == msg::SliderMoved) {
        for (int i = 0; i < 4; ++i)
            if (sliderSpecs()[static_cast<size_t>(i)].id == static_cast<int>(w))
                applyParameter(i);
    } else if (message == msg::ButtonClick) {
        if (w == 0)
            toggleShown();
        else if (w == 1)
            resetSliders();
    } else if (message == msg::PanelCommand) {
        if (w == cmd::ToggleScreenSettings)
            toggleShown();
        else if (w == cmd::Start)
            applyAll();
    }
    return 0;
}

void CScreenSettingDlg::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPixmap background = SkinLibrary::bitmap(249);
    if (background.isNull())
        painter.fillRect(rect(), QColor(28, 31, 40));
    else
        painter.drawPixmap(QPoint(0, 0), background, QRect(QPoint(0, 0), size()));
}

} // namespace korvante
