#pragma once
// The base of the client's windows, after the scratch program: one window procedure that hands
// every message to the object's OnMessage, with class registration and creation in one place.
// Also the message loop, with its modal form, and the keyboard navigation of the dialogs.

#include "client/win32/dpi.h"
#include "core/text.h"

namespace korvex::win32 {

class Window {
 public:
  virtual ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Null once the window is destroyed (an owned dialog goes with the main window).
  HWND Handle() const { return window_; }
  const Dpi& CurrentDpi() const { return dpi_; }

 protected:
  Window() = default;

  struct Style {
    DWORD style;
    DWORD exStyle;
    int clientWidth;   // at 96 dpi
    int clientHeight;  // at 96 dpi
    // Tab, Enter and Esc move between and press the controls, as in a dialog.
    bool dialogKeys;
  };

  // Registers the window class on first use (white background, the program icon) and creates
  // the window hidden, its client area at the given size, centred on its monitor.
  void Create(const wchar_t* className, const Style& style, const Text& caption, HWND owner, HMENU menu);
  // Lays the controls out and sizes and centres the window; once the controls are made.
  void Arrange();
  // A child control; `text` may be null. Hidden controls leave out WS_VISIBLE.
  HWND AddControl(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int id);
  // Places a control at 96-dpi geometry scaled to the window's DPI.
  void Place(HWND control, int x, int y, int width, int height) const;
  // An auto-sized label: its text decides its size.
  void PlaceLabel(HWND control, int x, int y) const;
  // A label with word wrap: its width is given, and its height grows from the given one as far
  // as its text needs under the font in use, so that no line is cut off.
  void PlaceWrappedLabel(HWND control, int x, int y, int width, int height) const;

  // Sets fonts and positions of the controls for CurrentDpi(); runs after creation and after
  // every DPI change.
  virtual void Layout() = 0;
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);
  // Runs when the window is being destroyed, before Handle() becomes null.
  virtual void OnDestroy() {}

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void FitClientArea(bool centre);
  LRESULT OnCtlColorStatic(HDC dc, HWND control);

  HWND window_ = nullptr;
  Style style_{};
  Dpi dpi_;
};

// Keeps the program's other visible windows disabled while it lives, as a modal window needs.
class DisabledTaskWindows {
 public:
  explicit DisabledTaskWindows(HWND except);
  ~DisabledTaskWindows();
  DisabledTaskWindows(const DisabledTaskWindows&) = delete;
  DisabledTaskWindows& operator=(const DisabledTaskWindows&) = delete;

 private:
  static BOOL CALLBACK Collect(HWND window, LPARAM self);
  HWND except_;
  HWND windows_[64];
  int count_ = 0;
};

// Dispatches one message, through the keyboard navigation of a dialog when it is meant for one.
void DispatchProgramMessage(MSG& message);
// Shows `dialog` modally and runs the loop until `ended` is set or the program quits; WM_QUIT is
// posted again, so that the outer loop ends too.
void RunModalLoop(HWND dialog, const bool& ended);

// The program instance and the icon of its windows.
HINSTANCE ProgramInstance();

}  // namespace korvex::win32
