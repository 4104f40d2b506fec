#pragma once
// The catalogue of every image the viewer loads by number: the skin set
// (packed into ResourceDll.rcc as :/skin/<id>.png) and the executable's own
// set (compiled in as :/app/<id>.png). The two sets are separate name spaces:
// the same number may stand for different pictures in each.
//
// Plain data without Qt, so the generator, its documentation writer and the
// tests that check the packed files all read the same table.

#include <span>
#include <string_view>

namespace korvante::skin {

enum class ImageSet { Skin, App };

// How an image is drawn; the painter picks the frame, fill and state look
// from the kind and the picture inside it from the glyph.
enum class Kind {
    ButtonNormal,        // skinned button, resting
    ButtonHover,         // skinned button under the mouse (also pressed where only two images exist)
    ButtonPressed,       // skinned button held down or disabled
    ToggleOn,            // a two-state button showing its "on" state
    ToggleOff,           // a two-state button showing its "off" state
    OptionSelected,      // round option button, chosen
    OptionUnselected,    // round option button, not chosen
    OptionHover,         // round option button, not chosen, under the mouse
    SliderChannel,       // slider groove, empty part
    SliderActiveChannel, // slider groove, filled part (start to thumb)
    SliderThumb,         // slider thumb, resting
    SliderActiveThumb,   // slider thumb while dragged
    Icon,                // a picture copied into a panel as it is
    Background,          // a whole panel background with its static labels
    HeaderBackground,    // list header: 1-pixel column behind the items
    HeaderFace,          // list header: 1-pixel column of an item face
    HeaderEdge,          // list header: the 2-pixel edge between items
    ScrollArrow,         // scroll bar arrow, resting
    ScrollArrowPressed,  // scroll bar arrow, held down
    ScrollTrack,         // scroll bar track, a 1-pixel slice stretched along the bar
    ScrollThumb,         // scroll bar thumb
};

enum class Glyph {
    None,
    Play, Pause, Stop, Previous, Next, Rewind, Forward,
    Print, Capture, RearFlip, Swap, Sensor, Map, List, Adjust, Card, Gear,
    Close, FullScreen, FitScreen, Minimise, DefaultScreen, Pin,
    Reset, Speaker, Gps, Latitude, Longitude, Speed, MapBadge,
    ArrowLeft, ArrowRight, ArrowUp, ArrowDown,
    FolderOpen, SortAscending, SortDescending, SearchDate, SearchSpeed, Convert,
    Overview,
    AppIcon,
    // Panel backgrounds: each one is a layout of its own.
    GraphPanel, PictureSettingsPanel, ReportPanel, DeviceSettingsPanel,
};

struct SkinImage {
    int id;
    ImageSet set;
    int width;  // pixels
    int height; // pixels
    Kind kind;
    Glyph glyph;
    std::string_view caption; // text drawn on the face, empty for none
    std::string_view role;    // one line for the documentation
};

// Every image, skin set first, each set in ascending id order.
std::span<const SkinImage> allImages();

// The entry for (set, id), or nullptr.
const SkinImage *findImage(ImageSet set, int id);

std::string_view kindName(Kind kind);
std::string_view setName(ImageSet set);

} // namespace korvante::skin
