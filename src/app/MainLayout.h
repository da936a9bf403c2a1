#pragma once
// The main window FImportDate and the progress window FmProgressBar as they were designed: every
// control with its name, kind, place, text and colour. Each front end builds its windows from
// these tables and only draws them; what the controls do is the business of MainForm and
// ProgressForm.

#include <cstdint>
#include <span>

namespace app {

// The application title: the text of the main window's task-bar button, and the caption of the
// box that shows an exception no handler caught. Window captions are never extended with it.
inline constexpr const char* kApplicationTitle = "Norvale数据迁移工具（V3.1-V4.0）";
// The caption of the main window (not displayed: the window has no caption bar).
inline constexpr const char* kMainCaption = "数据迁移工具";

struct Colour {
  std::uint8_t red = 0, green = 0, blue = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};
inline constexpr Colour kWhite{0xFF, 0xFF, 0xFF};
inline constexpr Colour kLime{0x00, 0xFF, 0x00};
inline constexpr Colour kRed{0xFF, 0x00, 0x00};

struct Rect {
  int left = 0, top = 0, width = 0, height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// The main window's controls, back to front.
enum class Control {
  img1,
  lblHint,
  Label1,
  lblContectedStatus,
  btnBeginBackup,
  btnTestContected,
  btnExit,
  btnSelect,
  btnBeginRestore,
  fllst1,
  edtFile,
  rbBackup,
  rbRestore,
};

enum class ControlKind {
  Background,     // the picture under everything; dragging on it moves the window
  Label,          // 新宋体 14 px, transparent over the picture
  PictureButton,  // the picture assets/buttons/<name>.png, hand cursor; dragging moves the window
  FileList,       // hidden
  Edit,           // read-only, flat one-pixel frame
  Radio,          // 新宋体 14 px, white
};

// How a picture button draws when not pressed: raised (a bevel round the picture) or flat.
enum class ButtonFace { Raised, Flat };

struct ControlLayout {
  Control id;
  const char* name;  // the control's name; picture buttons find their picture by it
  ControlKind kind;
  Rect bounds;       // client coordinates of the window
  const char* text;  // caption at start (UTF-8)
  const char* tip;   // tool tip, or ""
  Colour colour;     // text colour
  bool visible;      // at start
  ButtonFace face;   // picture buttons only
};

inline constexpr int kMainWidth = 590;
inline constexpr int kMainHeight = 403;

// Every control of the main window, back to front.
std::span<const ControlLayout> MainControls();
const ControlLayout& MainControl(Control id);

// The progress window's controls. Panel1 fills the window with a lowered bevel inside a raised
// one; dragging on it moves the window.
enum class ProgressControl { Panel1, LabInfo, Gauge1, txt1, pbrDetail };

struct ProgressControlLayout {
  ProgressControl id;
  const char* name;
  Rect bounds;   // Panel1: the window's client area at start; the others: inside Panel1
  bool visible;  // at start
};

inline constexpr int kProgressWidth = 405;
inline constexpr int kProgressHeight = 174;

std::span<const ProgressControlLayout> ProgressControls();

// The gauge Gauge1: blue bar on white with a black border, the whole percentage across it in 宋体
// 16 px, white over the bar and blue over the rest.
inline constexpr Colour kGaugeBar{0x00, 0x00, 0xFF};
inline constexpr Colour kGaugeBack{0xFF, 0xFF, 0xFF};
inline constexpr Colour kGaugeBorder{0x00, 0x00, 0x00};

}  // namespace app
