// The program's dialog templates: every control with its id, kind, text and rectangle in dialog
// units, in tab order. ui/DialogBuilder turns a template into widgets, scaling the units by the
// dialog font's base units, so the windows keep their arrangement at any font.
#pragma once

#include <cstddef>
#include <iterator>

namespace qf::res {

enum class ControlKind {
    Text,           // static text, left aligned
    Picture,        // static bitmap (resource id in `resource`)
    Icon,           // static icon, shown at its own size (resource id in `resource`)
    EtchedHorz,     // etched horizontal line
    EtchedVert,     // etched vertical line
    SunkenFrame,    // static frame, sunken with a border
    PushButton,
    DefPushButton,  // the dialog's default button
    CheckList,      // list box with a check box per item
    Edit,           // single-line edit, scrolls horizontally
    DropDownList,   // combo box without an edit part; height includes the drop-down
    DropDown,       // combo box whose edit part takes typed text; as high as the template says
    CheckBox,       // automatic two-state check box
    ProgressBar,
    Custom,         // a widget of the dialog's own, made by the dialog (the builder only places it)
};

// Style bits of a control.
enum : unsigned {
    kHidden = 1u << 0,
    kNoPrefix = 1u << 1,  // "&" is shown, not taken as a mnemonic
    kWordWrap = 1u << 2,
    kGroup = 1u << 3,
    kVScroll = 1u << 4,
};

inline constexpr int kNoControlId = -1;

// How a control follows a resizable dialog: each edge moves by this percentage of what the dialog
// has grown beyond its template size, in width (left, right) or height (top, bottom). All zero
// keeps the control where the template puts it; 100 on both sides of an axis moves it along.
struct Anchor {
    int left = 0, top = 0, right = 0, bottom = 0;
};

struct ControlTemplate {
    int id = kNoControlId;
    ControlKind kind = ControlKind::Text;
    const char* text = "";
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    unsigned style = 0;
    int resource = 0;                   // bitmap or icon of a picture control
    const char* const* items = nullptr; // initial items of a drop-down list
    int itemCount = 0;
    Anchor anchor = {};
};

struct DialogTemplate {
    int id = 0;
    const char* caption = "";
    int cx = 0, cy = 0;  // dialog units
    bool contextHelp = false;
    bool resizable = false;  // the template's size is the smallest; anchors say who takes the rest
    const ControlTemplate* controls = nullptr;
    size_t controlCount = 0;
};

// Resource ids.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_MAIN = 102;
inline constexpr int IDR_MAINFRAME = 128;  // the application icon
inline constexpr int IDD_CONFIRM = 130;
inline constexpr int IDI_WARNING = 131;
inline constexpr int IDB_BANNER = 351;

inline constexpr const char* kAboutMenuText = "&About Quenfold...";  // string 101

// ---- Main dialog (102) ----------------------------------------------------------------------

namespace main_ids {
inline constexpr int kPlaceholder = 1000;
inline constexpr int kSelectedLabel = 1001;
inline constexpr int kProgress = 1002;
inline constexpr int kFormat = 1003;
inline constexpr int kStart = 1004;
inline constexpr int kExit = 1005;
inline constexpr int kStatusLine = 1008;
inline constexpr int kPreviewPane = 1101;
inline constexpr int kTargetView = 1102;
inline constexpr int kCodePage = 1204;
inline constexpr int kCharacters = 1205;      // the Unicode characters of the formats that take them
inline constexpr int kCharacterCount = 1206;  // how many of them the current font has
inline constexpr int kSizes = 1471;
inline constexpr int kPreviewText = 1472;
inline constexpr int kFontList = 1681;
inline constexpr int kDeselect = 1682;
inline constexpr int kSelectAll = 1683;
inline constexpr int kReset = 1684;
inline constexpr int kResolutionX = 1685;
inline constexpr int kResolutionY = 1686;
inline constexpr int kProportional = 1687;
inline constexpr int kAbout = 1688;
inline constexpr int kAddFontFile = 1689;
inline constexpr int kRemoveFont = 1690;
inline constexpr int kNameEditor = 998;
}  // namespace main_ids

// Extra room goes half to the font list and half to the inputs; of the inputs' half, the screen
// preview takes a quarter and the target view the rest. Everything under the list and the preview
// moves down with the extra height.
namespace anchors {
inline constexpr Anchor kRight = {.left = 100, .right = 100};
inline constexpr Anchor kWiden = {.right = 100};
inline constexpr Anchor kList = {.right = 50, .bottom = 100};
inline constexpr Anchor kUnderList = {.left = 50, .top = 100, .right = 50, .bottom = 100};
inline constexpr Anchor kBottomLeft = {.top = 100, .bottom = 100};
inline constexpr Anchor kInputs = {.left = 50, .right = 50};
inline constexpr Anchor kInputsWiden = {.left = 50, .right = 100};
inline constexpr Anchor kDivider = {.left = 50, .right = 50, .bottom = 100};
inline constexpr Anchor kLowerInputs = {.left = 50, .top = 100, .right = 50, .bottom = 100};
inline constexpr Anchor kLowerInputsWiden = {.left = 50, .top = 100, .right = 100, .bottom = 100};
inline constexpr Anchor kBottomRight = {.left = 100, .top = 100, .right = 100, .bottom = 100};
inline constexpr Anchor kBottomRow = {.top = 100, .right = 100, .bottom = 100};
inline constexpr Anchor kPreview = {.left = 50, .right = 62, .bottom = 100};
inline constexpr Anchor kTarget = {.left = 62, .right = 100, .bottom = 100};
}  // namespace anchors

inline constexpr ControlTemplate kMainControls[] = {
    {.kind = ControlKind::Picture, .x = -11, .y = -5, .cx = 469, .cy = 39, .resource = IDB_BANNER,
     .anchor = anchors::kWiden},
    {.id = 1688, .kind = ControlKind::PushButton, .text = "&About", .x = 333, .y = 7, .cx = 71, .cy = 14,
     .anchor = anchors::kRight},
    {.kind = ControlKind::EtchedHorz, .x = -39, .y = 35, .cx = 457, .cy = 1, .anchor = anchors::kWiden},
    {.kind = ControlKind::Text, .text = "&Installed fonts:", .x = 7, .y = 40, .cx = 46, .cy = 8},
    {.id = 1681, .kind = ControlKind::CheckList, .x = 7, .y = 50, .cx = 168, .cy = 125, .style = kVScroll,
     .anchor = anchors::kList},
    // Font files that are not installed join the list, and leave it again.
    {.id = 1689, .kind = ControlKind::PushButton, .text = "Add Fo&nt File...", .x = 62, .y = 179, .cx = 70, .cy = 14,
     .anchor = anchors::kUnderList},
    {.id = 1690, .kind = ControlKind::PushButton, .text = "Re&move", .x = 135, .y = 179, .cx = 39, .cy = 14,
     .anchor = anchors::kUnderList},
    {.id = 1683, .kind = ControlKind::PushButton, .text = "Se&lect All", .x = 93, .y = 198, .cx = 39, .cy = 14,
     .anchor = anchors::kUnderList},
    {.id = 1682, .kind = ControlKind::PushButton, .text = "&Deselect", .x = 135, .y = 198, .cx = 39, .cy = 14,
     .anchor = anchors::kUnderList},
    {.kind = ControlKind::EtchedVert, .x = 183, .y = 35, .cx = 1, .cy = 185, .anchor = anchors::kDivider},
    {.kind = ControlKind::Text, .text = "Re&quested sizes:", .x = 194, .y = 40, .cx = 55, .cy = 8,
     .anchor = anchors::kInputs},
    {.id = 1471, .kind = ControlKind::Edit, .x = 194, .y = 50, .cx = 167, .cy = 14, .anchor = anchors::kInputsWiden},
    {.id = 1684, .kind = ControlKind::PushButton, .text = "&Reset", .x = 367, .y = 50, .cx = 37, .cy = 14,
     .anchor = anchors::kRight},
    {.kind = ControlKind::Text, .text = "Previe&w:", .x = 194, .y = 67, .cx = 28, .cy = 8, .anchor = anchors::kInputs},
    {.id = 1472, .kind = ControlKind::Edit, .x = 194, .y = 77, .cx = 209, .cy = 14, .anchor = anchors::kInputsWiden},
    {.kind = ControlKind::EtchedHorz, .x = -2, .y = 218, .cx = 421, .cy = 1, .anchor = anchors::kBottomRow},
    // The Unicode characters of the formats that take them, and how many of them the current font
    // has; for the 8-bit formats the code page below decides.
    {.kind = ControlKind::Text, .text = "C&haracters:", .x = 194, .y = 149, .cx = 36, .cy = 8,
     .anchor = anchors::kLowerInputs},
    {.id = 1205, .kind = ControlKind::DropDown, .x = 232, .y = 147, .cx = 172, .cy = 12, .style = kVScroll,
     .anchor = anchors::kLowerInputsWiden},
    {.id = 1206, .kind = ControlKind::Text, .x = 232, .y = 160, .cx = 172, .cy = 8, .style = kNoPrefix,
     .anchor = anchors::kLowerInputsWiden},
    {.kind = ControlKind::Text, .text = "&Codepage:", .x = 194, .y = 171, .cx = 36, .cy = 8,
     .anchor = anchors::kLowerInputs},
    {.id = 1204, .kind = ControlKind::DropDownList, .x = 232, .y = 169, .cx = 172, .cy = 124, .style = kVScroll,
     .anchor = anchors::kLowerInputsWiden},
    {.kind = ControlKind::Text, .text = "Res&olution:", .x = 194, .y = 186, .cx = 36, .cy = 8,
     .anchor = anchors::kLowerInputs},
    {.id = 1685, .kind = ControlKind::Edit, .x = 232, .y = 184, .cx = 23, .cy = 12, .anchor = anchors::kLowerInputs},
    {.kind = ControlKind::Text, .text = "(h)", .x = 257, .y = 186, .cx = 8, .cy = 8, .anchor = anchors::kLowerInputs},
    {.id = 1686, .kind = ControlKind::Edit, .x = 271, .y = 184, .cx = 23, .cy = 12, .anchor = anchors::kLowerInputs},
    {.id = 1687, .kind = ControlKind::CheckBox, .text = "Proportional", .x = 312, .y = 186, .cx = 53, .cy = 10,
     .anchor = anchors::kLowerInputs},
    {.kind = ControlKind::Text, .text = "Resulting font &format:", .x = 194, .y = 202, .cx = 68, .cy = 8,
     .anchor = anchors::kLowerInputs},
    {.id = 1003, .kind = ControlKind::DropDownList, .x = 270, .y = 200, .cx = 134, .cy = 64, .style = kVScroll,
     .anchor = anchors::kLowerInputsWiden},
    {.id = 1004, .kind = ControlKind::DefPushButton, .text = "&Start", .x = 285, .y = 226, .cx = 57, .cy = 14,
     .anchor = anchors::kBottomRight},
    {.id = 1005, .kind = ControlKind::PushButton, .text = "Exit", .x = 346, .y = 226, .cx = 58, .cy = 14,
     .anchor = anchors::kBottomRight},
    {.id = 1000, .kind = ControlKind::SunkenFrame, .x = 194, .y = 94, .cx = 88, .cy = 49, .style = kHidden,
     .anchor = anchors::kPreview},
    {.id = 1001, .kind = ControlKind::Text, .x = 7, .y = 201, .cx = 77, .cy = 8, .anchor = anchors::kBottomLeft},
    {.id = 1002, .kind = ControlKind::ProgressBar, .x = 7, .y = 227, .cx = 211, .cy = 12, .style = kHidden,
     .anchor = anchors::kBottomLeft},
    {.kind = ControlKind::Text, .text = "(v)", .x = 296, .y = 186, .cx = 8, .cy = 8, .anchor = anchors::kLowerInputs},
    // The target view beside the screen preview, and the status line where the progress bar shows
    // during a run.
    {.id = 1102, .kind = ControlKind::Custom, .x = 285, .y = 94, .cx = 119, .cy = 49, .anchor = anchors::kTarget},
    {.id = 1008, .kind = ControlKind::Custom, .x = 7, .y = 228, .cx = 274, .cy = 10, .anchor = anchors::kBottomRow},
};

inline constexpr DialogTemplate kMainDialog = {
    .id = IDD_MAIN,
    .caption = "Voska Quenfold 1.0",
    .cx = 411,
    .cy = 247,
    .contextHelp = true,
    .resizable = true,
    .controls = kMainControls,
    .controlCount = std::size(kMainControls),
};

// ---- About box (100) ------------------------------------------------------------------------

// The vendor's and partner's addresses are placeholders under the reserved .example domain.
inline constexpr const char* kCopyrightLine = "Copyright \u00A9 Voska Software. All rights reserved.";
inline constexpr const char* kContactLines =
    "Voska Software, 12 Example Row, Exampleton EX1 2AB\n"
    "Tel. +1 555 0100, Fax +1 555 0199\n"
    "E-mail: info@voska.example\n"
    "Web: https://www.voska.example/";

inline constexpr const char* kDestinationItems[] = {
    "More about Delvane products",
    "Voska website",
    "Delvane website",
    "Download page",
};

// What "&Go!" opens for the destinations after the first (which shows help topic 999).
inline constexpr const char* kDestinationUrls[] = {
    nullptr,
    "https://www.voska.example/",
    "https://www.delvane.example/",
    "https://www.delvane.example/download/",
};
inline constexpr unsigned kDelvaneHelpTopic = 999;

namespace about_ids {
inline constexpr int kOk = 1;
inline constexpr int kDestinations = 1009;
inline constexpr int kGo = 1010;
}  // namespace about_ids

inline constexpr ControlTemplate kAboutControls[] = {
    {.kind = ControlKind::Icon, .x = 7, .y = 6, .cx = 20, .cy = 20, .resource = IDR_MAINFRAME},
    {.kind = ControlKind::Text, .text = "Quenfold Version 1.0", .x = 40, .y = 7, .cx = 119, .cy = 8, .style = kNoPrefix},
    {.kind = ControlKind::Text, .text = kCopyrightLine, .x = 40, .y = 16, .cx = 212, .cy = 8, .style = kNoPrefix},
    {.id = 1, .kind = ControlKind::DefPushButton, .text = "OK", .x = 170, .y = 96, .cx = 82, .cy = 14, .style = kGroup},
    {.kind = ControlKind::Text, .text = kContactLines, .x = 39, .y = 35, .cx = 213, .cy = 32, .style = kNoPrefix},
    {.id = 1009, .kind = ControlKind::DropDownList, .x = 40, .y = 70, .cx = 182, .cy = 107, .style = kVScroll,
     .items = kDestinationItems, .itemCount = 4},
    {.id = 1010, .kind = ControlKind::PushButton, .text = "&Go!", .x = 226, .y = 71, .cx = 26, .cy = 12},
    {.kind = ControlKind::EtchedHorz, .x = 40, .y = 90, .cx = 226, .cy = 1},
};

inline constexpr DialogTemplate kAboutDialog = {
    .id = IDD_ABOUTBOX,
    .caption = "About Quenfold",
    .cx = 259,
    .cy = 117,
    .controls = kAboutControls,
    .controlCount = std::size(kAboutControls),
};

// ---- Confirmation prompt (130) --------------------------------------------------------------

namespace confirm_ids {
inline constexpr int kYes = 1;
inline constexpr int kStop = 2;
inline constexpr int kYesToAll = 3;
inline constexpr int kSkip = 4;
inline constexpr int kSkipAll = 5;
inline constexpr int kMessage = 1006;
}  // namespace confirm_ids

inline constexpr ControlTemplate kConfirmControls[] = {
    {.id = 1, .kind = ControlKind::DefPushButton, .text = "&Yes", .x = 76, .y = 52, .cx = 40, .cy = 14},
    {.id = 2, .kind = ControlKind::PushButton, .text = "Stop", .x = 252, .y = 52, .cx = 40, .cy = 14},
    {.id = 3, .kind = ControlKind::PushButton, .text = "&Yes to all", .x = 120, .y = 52, .cx = 40, .cy = 14},
    {.id = 4, .kind = ControlKind::PushButton, .text = "&Skip", .x = 164, .y = 52, .cx = 40, .cy = 14},
    {.id = 5, .kind = ControlKind::PushButton, .text = "Skip a&ll", .x = 208, .y = 52, .cx = 40, .cy = 14},
    {.id = 1006, .kind = ControlKind::Text, .x = 36, .y = 4, .cx = 256, .cy = 32, .style = kWordWrap | kGroup | kNoPrefix},
    {.kind = ControlKind::Icon, .x = 6, .y = 4, .cx = 21, .cy = 20, .resource = IDI_WARNING},
    {.kind = ControlKind::EtchedHorz, .x = -2, .y = 45, .cx = 310, .cy = 1},
};

inline constexpr DialogTemplate kConfirmDialog = {
    .id = IDD_CONFIRM,
    .caption = "Quenfold",
    .cx = 298,
    .cy = 70,
    .controls = kConfirmControls,
    .controlCount = std::size(kConfirmControls),
};

}  // namespace qf::res
