#include "skin_table.h"

#include <algorithm>
#include <array>

namespace korvante::skin {
namespace {

using enum ImageSet;
using enum Kind;
using G = Glyph;

// Where two images serve one button, the first listed by its users is the
// hover-and-pressed face and the second the resting face.
constexpr std::array kImages = std::to_array<SkinImage>({
    // Sliders: the seek slider of the player panel (520 x 13) and the short
    // sliders of the volume and picture settings (85 x 13) share one look.
    {103, Skin, 13, 13, SliderActiveThumb, G::None, {}, "Seek slider thumb while dragged"},
    {104, Skin, 13, 13, SliderThumb, G::None, {}, "Seek slider thumb"},
    {105, Skin, 520, 13, SliderChannel, G::None, {}, "Seek slider channel (the part after the thumb)"},
    {106, Skin, 520, 13, SliderActiveChannel, G::None, {}, "Seek slider active channel (played part)"},
    {112, Skin, 15, 15, Icon, G::Speaker, {}, "Speaker beside the volume slider (player panel at 616, 0)"},
    {115, Skin, 13, 13, SliderActiveThumb, G::None, {}, "Volume and picture sliders: thumb while dragged"},
    {116, Skin, 13, 13, SliderThumb, G::None, {}, "Volume and picture sliders: thumb"},
    {117, Skin, 85, 13, SliderChannel, G::None, {}, "Volume and picture sliders: channel"},
    {118, Skin, 85, 13, SliderActiveChannel, G::None, {}, "Volume and picture sliders: active channel"},

    // Accident report dialog.
    {149, Skin, 936, 701, Background, G::ReportPanel, {},
     "Accident report background with title and frames; magenta (255,0,255) is transparent"},
    {150, Skin, 41, 41, ButtonPressed, G::Close, {}, "Accident report Close, pressed and disabled"},
    {151, Skin, 41, 41, ButtonNormal, G::Close, {}, "Accident report Close"},
    {152, Skin, 41, 41, ButtonHover, G::Close, {}, "Accident report Close, hover"},
    {153, Skin, 91, 87, ButtonPressed, G::Print, "Print Start", "Accident report Print Start, pressed and disabled"},
    {154, Skin, 91, 87, ButtonNormal, G::Print, "Print Start", "Accident report Print Start"},
    {155, Skin, 91, 87, ButtonHover, G::Print, "Print Start", "Accident report Print Start, hover"},

    // Device settings dialog. 161 to 164 are offered for its Save and Close
    // buttons; the background carries the same faces, so a button without a
    // skin still looks right.
    {157, Skin, 907, 803, Background, G::DeviceSettingsPanel, {},
     "Device settings background with group titles and option captions; magenta is transparent"},
    {161, Skin, 158, 36, ButtonNormal, G::None, "Save", "Device settings Save (at 374, 739)"},
    {162, Skin, 158, 36, ButtonHover, G::None, "Save", "Device settings Save, hover and pressed"},
    {163, Skin, 65, 28, ButtonNormal, G::None, "Close", "Device settings Close (at 833, 10)"},
    {164, Skin, 65, 28, ButtonHover, G::None, "Close", "Device settings Close, hover and pressed"},
    {165, Skin, 20, 20, OptionSelected, G::None, {}, "Device settings option, selected"},
    {166, Skin, 20, 20, OptionUnselected, G::None, {}, "Device settings option, not selected"},
    {167, Skin, 20, 20, OptionHover, G::None, {}, "Device settings option, not selected, hover and pressed"},

    // File list panel buttons (resting, hover and pressed).
    {170, Skin, 20, 20, ButtonNormal, G::FolderOpen, {}, "File list: Open File"},
    {171, Skin, 20, 20, ButtonHover, G::FolderOpen, {}, "File list: Open File, hover"},
    {172, Skin, 20, 20, ButtonNormal, G::SortAscending, {}, "File list: Sort Ascending"},
    {173, Skin, 20, 20, ButtonHover, G::SortAscending, {}, "File list: Sort Ascending, hover"},
    {174, Skin, 20, 20, ButtonNormal, G::SortDescending, {}, "File list: Sort Descending"},
    {175, Skin, 20, 20, ButtonHover, G::SortDescending, {}, "File list: Sort Descending, hover"},
    {176, Skin, 20, 20, ButtonNormal, G::SearchDate, {}, "File list: Search of date"},
    {177, Skin, 20, 20, ButtonHover, G::SearchDate, {}, "File list: Search of date, hover"},
    {178, Skin, 20, 20, ButtonNormal, G::SearchSpeed, {}, "File list: Search of excessive speed"},
    {179, Skin, 20, 20, ButtonHover, G::SearchSpeed, {}, "File list: Search of excessive speed, hover"},
    {180, Skin, 20, 20, ButtonNormal, G::Convert, {}, "File list: open the conversion dialog"},
    {181, Skin, 20, 20, ButtonHover, G::Convert, {}, "File list: open the conversion dialog, hover"},

    // Player panel, title bar and panel buttons, 20 x 20 unless stated.
    {201, Skin, 20, 20, ButtonNormal, G::List, {}, "File list toggle"},
    {202, Skin, 20, 20, ButtonHover, G::List, {}, "File list toggle, hover"},
    {203, Skin, 20, 20, ButtonNormal, G::FitScreen, {}, "Title bar: Fit Screen"},
    {204, Skin, 20, 20, ButtonHover, G::FitScreen, {}, "Title bar: Fit Screen, hover"},
    {205, Skin, 20, 20, ButtonNormal, G::FullScreen, {}, "Title bar: Full Screen"},
    {206, Skin, 20, 20, ButtonHover, G::FullScreen, {}, "Title bar: Full Screen, hover"},
    {207, Skin, 20, 20, ButtonNormal, G::Minimise, {}, "Title bar: Minimization"},
    {208, Skin, 20, 20, ButtonNormal, G::Next, {}, "Next File"},
    {209, Skin, 20, 20, ButtonHover, G::Next, {}, "Next File, hover"},
    {212, Skin, 20, 20, ButtonNormal, G::Pause, {}, "Play button while playing (pause)"},
    {213, Skin, 20, 20, ButtonHover, G::Pause, {}, "Play button while playing (pause), hover"},
    {214, Skin, 20, 20, ButtonNormal, G::Play, {}, "Play"},
    {215, Skin, 20, 20, ButtonHover, G::Play, {}, "Play, hover"},
    {216, Skin, 20, 20, ButtonNormal, G::Previous, {}, "Previous file"},
    {217, Skin, 20, 20, ButtonHover, G::Previous, {}, "Previous file, hover"},
    {218, Skin, 20, 20, ButtonNormal, G::Close, {}, "Close (title bar and panels)"},
    {219, Skin, 20, 20, ButtonHover, G::Close, {}, "Close, hover and pressed"},
    {220, Skin, 20, 20, ButtonNormal, G::Gear, {}, "Device settings"},
    {221, Skin, 20, 20, ButtonHover, G::Gear, {}, "Device settings, hover"},
    {222, Skin, 20, 20, ButtonNormal, G::Stop, {}, "Stop"},
    {223, Skin, 20, 20, ButtonHover, G::Stop, {}, "Stop, hover"},
    {224, Skin, 20, 20, ButtonHover, G::Minimise, {}, "Title bar: Minimization, hover"},
    {227, Skin, 20, 20, ButtonNormal, G::Rewind, {}, "Rewind"},
    {228, Skin, 20, 20, ButtonHover, G::Rewind, {}, "Rewind, hover"},
    {229, Skin, 20, 20, ButtonNormal, G::Forward, {}, "Forward"},
    {230, Skin, 20, 20, ButtonHover, G::Forward, {}, "Forward, hover"},
    {231, Skin, 20, 20, ButtonNormal, G::Capture, {}, "Capture"},
    {232, Skin, 20, 20, ButtonHover, G::Capture, {}, "Capture, hover"},
    {233, Skin, 20, 20, ButtonNormal, G::Sensor, {}, "Sensor information (G-sensor graph toggle)"},
    {234, Skin, 20, 20, ButtonHover, G::Sensor, {}, "Sensor information, hover"},
    {235, Skin, 20, 20, ButtonNormal, G::Swap, {}, "Screen switching"},
    {236, Skin, 20, 20, ButtonHover, G::Swap, {}, "Screen switching, hover"},
    {237, Skin, 20, 20, ButtonNormal, G::Print, {}, "Print"},
    {238, Skin, 20, 20, ButtonHover, G::Print, {}, "Print, hover"},

    // Sensor information panel and the G-sensor graph.
    {239, Skin, 15, 14, Icon, G::Latitude, {}, "Latitude icon (sensor panel at 75, 11)"},
    {240, Skin, 15, 14, Icon, G::Longitude, {}, "Longitude icon (sensor panel at 179, 11)"},
    {241, Skin, 15, 14, Icon, G::Speed, {}, "Speed icon (sensor panel at 300, 11)"},
    {242, Skin, 336, 200, Background, G::GraphPanel, {},
     "G-sensor graph background with grid, centre line and time labels; stretched to the panel"},

    // Docking pin of the map view and the file list.
    {243, Skin, 20, 20, ToggleOff, G::Pin, {}, "Fixed window: floating (pin released)"},
    {244, Skin, 20, 20, ToggleOn, G::Pin, {}, "Fixed window: docked (pin pressed in)"},

    {245, Skin, 20, 20, ButtonNormal, G::Map, {}, "Map Information"},
    {246, Skin, 20, 20, ButtonHover, G::Map, {}, "Map Information, hover"},
    {247, Skin, 20, 20, ButtonNormal, G::Adjust, {}, "Screen Settings"},
    {248, Skin, 20, 20, ButtonHover, G::Adjust, {}, "Screen Settings, hover"},
    {249, Skin, 280, 106, Background, G::PictureSettingsPanel, {},
     "Screen settings background with the four slider labels"},
    {250, Skin, 32, 20, ButtonNormal, G::Reset, {}, "Screen settings Reset"},
    {251, Skin, 32, 20, ButtonHover, G::Reset, {}, "Screen settings Reset, hover and pressed"},
    {252, Skin, 20, 20, ButtonNormal, G::DefaultScreen, {}, "Title bar: Default Screen"},
    {253, Skin, 20, 20, ButtonHover, G::DefaultScreen, {}, "Title bar: Default Screen, hover"},
    {254, Skin, 55, 44, Icon, G::Gps, {}, "GPS emblem (sensor panel at 0, 5)"},
    {259, Skin, 20, 20, ButtonNormal, G::Card, {}, "Save Devices (card formatter)"},
    {260, Skin, 20, 20, ButtonHover, G::Card, {}, "Save Devices, hover"},
    {261, Skin, 36, 36, Icon, G::MapBadge, {}, "Map emblem in the top-right corner of the map area"},
    {268, Skin, 30, 20, ButtonNormal, G::RearFlip, {}, "Rear video flip"},
    {269, Skin, 30, 20, ButtonHover, G::RearFlip, {}, "Rear video flip, hover"},
    {270, Skin, 20, 20, ButtonNormal, G::Overview, {}, "Title bar: Card overview (trips and incidents)"},
    {271, Skin, 20, 20, ButtonHover, G::Overview, {}, "Title bar: Card overview, hover"},

    // The executable's own images.
    {128, App, 64, 64, Icon, G::AppIcon, {}, "Application icon"},
    {140, App, 1, 20, HeaderBackground, G::None, {}, "List header background column, stretched to width"},
    {141, App, 1, 20, HeaderFace, G::None, {}, "List header item face column, stretched to the item width"},
    {142, App, 2, 20, HeaderEdge, G::None, {}, "List header edge between items"},
    {143, App, 26, 12, ScrollArrow, G::ArrowLeft, {}, "Horizontal scroll bar: left arrow"},
    {144, App, 26, 12, ScrollArrow, G::ArrowRight, {}, "Horizontal scroll bar: right arrow"},
    {145, App, 1, 12, ScrollTrack, G::None, {}, "Horizontal scroll bar: track column, stretched"},
    {146, App, 26, 12, ScrollThumb, G::None, {}, "Horizontal scroll bar: thumb"},
    {147, App, 12, 26, ScrollArrow, G::ArrowUp, {}, "Vertical scroll bar: up arrow"},
    {148, App, 12, 26, ScrollArrow, G::ArrowDown, {}, "Vertical scroll bar: down arrow"},
    {149, App, 12, 1, ScrollTrack, G::None, {}, "Vertical scroll bar: track row, stretched"},
    {150, App, 12, 26, ScrollThumb, G::None, {}, "Vertical scroll bar: thumb"},
    {151, App, 12, 26, ScrollArrowPressed, G::ArrowUp, {}, "Vertical scroll bar: up arrow, pressed"},
    {152, App, 12, 26, ScrollArrowPressed, G::ArrowDown, {}, "Vertical scroll bar: down arrow, pressed"},
});

constexpr bool sortedAndUnique()
{
    for (std::size_t i = 1; i < kImages.size(); ++i) {
        const auto &a = kImages[i - 1];
        const auto &b = kImages[i];
        if (a.set == b.set && a.id >= b.id)
            return false;
        if (a.set == App && b.set == Skin)
            return false;
    }
    return true;
}
static_assert(sortedAndUnique(), "image table must be ordered by set, then id, without duplicates");

} // namespace

std::span<const SkinImage> allImages() { return kImages; }

const SkinImage *findImage(ImageSet set, int id)
{
    const auto it = std::find_if(kImages.begin(), kImages.end(),
                                 [&](const SkinImage &image) { return image.set == set && image.id == id; });
    return it == kImages.end() ? nullptr : &*it;
}

std::string_view setName(ImageSet set) { return set == ImageSet::Skin ? "skin" : "app"; }

std::string_view kindName(Kind kind)
{
    switch (kind) {
    case ButtonNormal: return "button, normal";
    case ButtonHover: return "button, hover";
    case ButtonPressed: return "button, pressed";
    case ToggleOn: return "toggle, on";
    case ToggleOff: return "toggle, off";
    case OptionSelected: return "option, selected";
    case OptionUnselected: return "option, unselected";
    case OptionHover: return "option, hover";
    case SliderChannel: return "slider channel";
    case SliderActiveChannel: return "slider active channel";
    case SliderThumb: return "slider thumb";
    case SliderActiveThumb: return "slider active thumb";
    case Icon: return "icon";
    case Background: return "panel background";
    case HeaderBackground: return "header background";
    case HeaderFace: return "header face";
    case HeaderEdge: return "header edge";
    case ScrollArrow: return "scroll arrow";
    case ScrollArrowPressed: return "scroll arrow, pressed";
    case ScrollTrack: return "scroll track";
    case ScrollThumb: return "scroll thumb";
    }
    return "?";
}

} // namespace korvante::skin
