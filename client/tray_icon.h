#pragma once
// The client's icon in the notification area: its state, the record the shell is given, and the
// rules of the mouse. The shell itself sits behind NotifyIconShell; the Win32 one is the icon's
// hidden window (win32/notify_icon_window.h), tests pass a fake.

#include <cstdint>
#include <functional>

#include "core/text.h"

namespace korvex {

inline constexpr char16_t kTrayTip[] = u"Korvex-Client";
inline constexpr char16_t kCannotRemoveTrayIcon[] = u"Shell-Benachrichtigungssymbol kann nicht entfernt werden";

// The icon's uID. Windows remembers whether the user chose to show an icon by program path and
// this number, so it stays the same from run to run.
inline constexpr std::uint32_t kTrayIconId = 1;

// Longest texts the shell's record holds, without the terminating NUL.
inline constexpr std::size_t kMaxTipLength = 127;
inline constexpr std::size_t kMaxBalloonTitleLength = 63;
inline constexpr std::size_t kMaxBalloonTextLength = 255;
inline constexpr std::uint32_t kDefaultBalloonTimeout = 200;

// Which parts of the record the shell reads, numbered as Shell_NotifyIconW numbers them.
inline constexpr std::uint32_t kNifMessage = 0x1;
inline constexpr std::uint32_t kNifIcon = 0x2;
inline constexpr std::uint32_t kNifTip = 0x4;
inline constexpr std::uint32_t kNifInfo = 0x10;

// The balloon's icon, numbered as dwInfoFlags numbers it.
enum class BalloonIcon : std::uint32_t { kNone = 0, kInfo = 1, kWarning = 2, kError = 3 };

// What the shell's call-back message carries in lParam: the mouse message, or a balloon event.
inline constexpr std::uint32_t kMouseMove = 0x0200;
inline constexpr std::uint32_t kLeftButtonDown = 0x0201;
inline constexpr std::uint32_t kLeftButtonUp = 0x0202;
inline constexpr std::uint32_t kLeftButtonDoubleClick = 0x0203;
inline constexpr std::uint32_t kRightButtonDown = 0x0204;
inline constexpr std::uint32_t kRightButtonUp = 0x0205;
inline constexpr std::uint32_t kRightButtonDoubleClick = 0x0206;
inline constexpr std::uint32_t kMiddleButtonDown = 0x0207;
inline constexpr std::uint32_t kMiddleButtonUp = 0x0208;
inline constexpr std::uint32_t kMiddleButtonDoubleClick = 0x0209;
inline constexpr std::uint32_t kBalloonShow = 0x0400 + 2;
inline constexpr std::uint32_t kBalloonHide = 0x0400 + 3;
inline constexpr std::uint32_t kBalloonTimeout = 0x0400 + 4;
inline constexpr std::uint32_t kBalloonUserClick = 0x0400 + 5;

// The platform record as the logic keeps it; the shell adds the window, the id and the call-back
// message, which never change.
struct NotifyIconRecord {
  std::uint32_t flags = kNifMessage | kNifIcon;
  std::uintptr_t icon = 0;  // the image's handle value
  Text tip;
  Text balloonTitle;
  Text balloonText;
  std::uint32_t balloonTimeout = kDefaultBalloonTimeout;
  BalloonIcon balloonIcon = BalloonIcon::kNone;
};

// Shell_NotifyIconW. Each call returns whether the shell accepted it.
class NotifyIconShell {
 public:
  virtual ~NotifyIconShell() = default;
  virtual bool Add(const NotifyIconRecord& record) = 0;
  virtual bool Modify(const NotifyIconRecord& record) = 0;
  virtual bool Delete(const NotifyIconRecord& record) = 0;
};

class TTrayIcon {
 public:
  // Fills the record and adds the icon at once: it is present from creation. A refused add is
  // not reported; the icon counts as present and comes back at the next "TaskbarCreated".
  TTrayIcon(NotifyIconShell& shell, std::uintptr_t icon, TextView tip = kTrayTip);
  // Deletes the icon if present; a failure is not reported.
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // Handlers of the mouse rules; each may be empty. They run on the window's thread, and a
  // failure they throw passes through OnCallback to the caller.
  std::function<void()> OnClick;     // left button released after a press on the icon
  std::function<void()> OnDblClick;  // double-click of any of the three buttons
  std::function<void()> OnPopup;     // right button released: open the menu at the cursor

  bool Present() const { return present_; }
  // Adds or deletes the icon; the state it already has changes nothing. A refused delete throws
  // KorError(kCannotRemoveTrayIcon), and the icon counts as absent all the same.
  void SetPresent(bool present);

  const Text& Tip() const { return record_.tip; }
  void SetTip(TextView tip);  // cut to kMaxTipLength
  std::uintptr_t Icon() const { return record_.icon; }
  void SetIcon(std::uintptr_t icon);

  const Text& BalloonTitle() const { return record_.balloonTitle; }
  void SetBalloonTitle(TextView title);  // cut to kMaxBalloonTitleLength
  const Text& BalloonText() const { return record_.balloonText; }
  void SetBalloonText(TextView text);  // cut to kMaxBalloonTextLength
  BalloonIcon BalloonIconKind() const { return record_.balloonIcon; }
  void SetBalloonIcon(BalloonIcon icon) { record_.balloonIcon = icon; }
  std::uint32_t BalloonTimeout() const { return record_.balloonTimeout; }
  void SetBalloonTimeout(std::uint32_t milliseconds) { record_.balloonTimeout = milliseconds; }
  // Shows the balloon with the current title, text and icon, once: it is not shown again by a
  // later add or change of the icon. The shell's answer is not checked; while the icon is absent
  // nothing is asked of it.
  void ShowBalloon();

  bool Armed() const { return armed_; }
  // The shell's call-back message; `event` is its lParam.
  void OnCallback(std::uint32_t event);
  // The shell has restarted: a present icon is added again.
  void OnTaskbarCreated();
  // WM_QUERYENDSESSION: the icon never stands in the way of the session's end.
  bool OnQueryEndSession() const { return true; }
  // WM_ENDSESSION: when the session really ends, the icon goes without a report.
  void OnEndSession(bool ending);
  // The icon's window is going away: the icon goes with it, without a report.
  void OnWindowDestroyed();

  // The record as the shell last got it or will get it next.
  const NotifyIconRecord& Record() const { return record_; }

 private:
  void ModifyIfPresent();
  void DeleteQuietly();

  NotifyIconShell& shell_;
  NotifyIconRecord record_;
  bool present_ = true;
  bool armed_ = false;
};

}  // namespace korvex
