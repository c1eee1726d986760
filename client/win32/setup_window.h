#pragma once
// The setup dialog "SetupForm": real Edit, ComboBox, up-down and Button controls that TSetupForm
// reads and sets; every event goes to TSetupForm through the top-level error handler.

#include "client/error_handler.h"
#include "client/setup_form.h"
#include "client/setup_view.h"
#include "client/win32/logo.h"
#include "client/win32/window.h"

namespace korvex::win32 {

inline constexpr wchar_t kSetupWindowClass[] = L"TSetupForm";
inline constexpr char16_t kSetupCaption[] = u"Korvex-Client Setup";

class SetupWindow : public Window, public SetupView {
 public:
  // Creates the dialog hidden, owned by the main window.
  SetupWindow(HWND owner, ErrorHandler& errors);
  void Attach(TSetupForm& form) { form_ = &form; }

  bool Visible() const override;
  void Show() override;
  void BringToTop() override;
  void RunModal() override;
  void EndShowing() override;

  Text UserName() const override;
  void SetUserName(const Text& text) override;
  Text Password() const override;
  void SetPassword(const Text& text) override;
  Text HostText() const override;
  void SetHostText(const Text& text) override;
  void SetHostEntries(const std::vector<Text>& entries) override;
  Text IntervalText() const override;
  void SetIntervalText(const Text& text) override;
  void SetTransportText(const Text& text) override;
  int TransportSelection() const override;
  void ShowLowerHalf() override;
  void SetCredentialsEnabled(bool enabled) override;
  void SetLoginEnabled(bool enabled) override;
  void SetTaskbarButton(bool shown) override;

 protected:
  void Layout() override;
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  static LRESULT CALLBACK CompleteTyping(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                         DWORD_PTR combo);
  static LRESULT CALLBACK IntervalKeys(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  void Run(void (TSetupForm::*handler)());
  void OnCommand(int id, int code);
  void StepInterval(int delta);
  void Enable(HWND control, bool enabled);
  void FocusFirst();
  ScopedGdiObject FittingLabelFont() const;

  ErrorHandler& errors_;
  TSetupForm* form_ = nullptr;
  HWND benutzerL_, benutzernameE_, passwortL_, passwortE_, login_;
  HWND hostnameL_, hostauswahl_, intervallL_, intervall_, intervallSpin_, minutenL_, updateArtL_, updateArt_,
      speichern_;
  ScopedGdiObject font_;
  ScopedGdiObject boldFont_;
  Logo logo_;
  HWND focus_ = nullptr;
  bool modal_ = false;
  bool ended_ = false;
  wchar_t decimalSeparator_ = L'.';
};

}  // namespace korvex::win32
