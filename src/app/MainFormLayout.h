#pragma once
// The main window's fixed description as data: the window itself, every
// control with its place, stored text and tab order, and the menu tree. The
// window is built from these tables and the tests hold the built window
// against them, so each value is written here once.
#include <QColor>
#include <QRect>

#include <span>
#include <string>

struct TWindowLayout {
    const char* Caption;
    QRect Geometry; // left, top and client size
    QColor Background;
    const char* FontFamily; // bold, 8 point
};

enum class TControlKind {
    MenuBar,     // the skinned menu bar, fixed to the top
    Shape,       // a white rectangle with a black outline
    VideoWindow, // where the preview picture shows
    Indicator,   // a button's coloured frame
    Button,
    Caption,    // a white text label that sizes itself to its text
    Edit,       // a one-line edit box
    AddressBox, // an editable drop-down list
    LinkLabel,  // a clickable label that sizes itself to its text
    StatusBar,
};

struct TControlLayout {
    const char* Name;
    TControlKind Kind;
    // A Caption or LinkLabel is placed at the rectangle's corner and then
    // takes the size of its text.
    QRect Rect;
    std::string Text = {};      // caption or stored text; empty for none
    int TabOrder = -1;          // -1: not in the tab chain
    const char* Font = nullptr; // bold, 8 point; nullptr: the window's font
};

struct TMenuLayout {
    const char* Name;
    const char* Parent; // nullptr: the menu bar
    const char* Caption;
    const char* Hint;
    bool EnabledAtStart;
    bool Submenu; // opens a submenu rather than running a command
};

const TWindowLayout& MainFormWindow();
// In creation order (later controls lie above earlier ones).
std::span<const TControlLayout> MainFormControls();
// Parents before their children, children in menu order.
std::span<const TMenuLayout> MainFormMenu();

// The indicator frames' colours: idle and while their mode runs.
inline const QColor kIdleColour{255, 0, 0};
inline const QColor kRunningColour{0, 128, 0};
inline constexpr int kStatusPanelWidth = 250; // panel 0: the clock and the menu hints
inline constexpr int kViewersPanelWidth = 90; // panel 1: "viewers n/m" while broadcasting
inline constexpr int kRelayPanel = 2;         // the relay's state while broadcasting
inline constexpr int kRelayPanelWidth = 203;
inline constexpr int kAddressItemHeight = 13; // entries of the address list
inline constexpr int kCaptionFontPixels = 11; // 8 point at 96 pixels per inch

class QWidget;

// Gives form the window's caption, place, colours, font and icon, then makes
// every control as a child of form, named as its row, in table order, and
// chains them in their tab order.
void BuildMainForm(QWidget* form);

// The recording file the window starts with: capture.avi in the home
// folder (a drive letter has no meaning here).
std::string DefaultRecordingPath();
