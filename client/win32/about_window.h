#pragma once
// The about box "AboutBox": a panel with the program icon and four labels, and the OK button.

#include "client/about_box.h"
#include "client/dialog_view.h"
#include "client/error_handler.h"
#include "client/win32/window.h"

namespace korvex::win32 {

inline constexpr wchar_t kAboutWindowClass[] = L"TAboutBox";

class AboutWindow : public Window, public DialogView {
 public:
  // Creates the box hidden, owned by the main window.
  AboutWindow(HWND owner, ErrorHandler& errors);
  void Attach(TAboutBox& box) { box_ = &box; }

  bool Visible() const override;
  void Show() override;
  void BringToTop() override;
  void RunModal() override;
  void EndShowing() override;

 protected:
  void Layout() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnPaint();

  ErrorHandler& errors_;
  TAboutBox* box_ = nullptr;
  HWND productName_, version_, copyright_, comments_, okButton_;
  ScopedGdiObject font_;
  ScopedGdiObject boldFont_;
  ScopedIcon icon_;
  bool modal_ = false;
  bool ended_ = false;
};

}  // namespace korvex::win32
