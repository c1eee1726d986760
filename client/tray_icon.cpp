#include "client/tray_icon.h"

#include "core/error.h"

namespace korvex {
namespace {

Text Cut(TextView text, std::size_t maxLength) { return Text(text.substr(0, maxLength)); }

}  // namespace

TTrayIcon::TTrayIcon(NotifyIconShell& shell, std::uintptr_t icon, TextView tip) : shell_(shell) {
  record_.icon = icon;
  record_.tip = Cut(tip, kMaxTipLength);
  if (!record_.tip.empty()) record_.flags |= kNifTip;
  shell_.Add(record_);
}

TTrayIcon::~TTrayIcon() { DeleteQuietly(); }

void TTrayIcon::SetPresent(bool present) {
  if (present == present_) return;
  present_ = present;
  // A balloon goes with the icon; the next add must not show it again.
  record_.flags &= ~kNifInfo;
  if (present) {
    shell_.Add(record_);
  } else if (!shell_.Delete(record_)) {
    throw KorError(kCannotRemoveTrayIcon);
  }
}

void TTrayIcon::SetTip(TextView tip) {
  record_.tip = Cut(tip, kMaxTipLength);
  if (record_.tip.empty()) {
    record_.flags &= ~kNifTip;
  } else {
    record_.flags |= kNifTip;
  }
  ModifyIfPresent();
}

void TTrayIcon::SetIcon(std::uintptr_t icon) {
  record_.icon = icon;
  ModifyIfPresent();
}

void TTrayIcon::SetBalloonTitle(TextView title) {
  Text cut = Cut(title, kMaxBalloonTitleLength);
  if (cut == record_.balloonTitle) return;
  record_.balloonTitle = std::move(cut);
  ModifyIfPresent();
}

void TTrayIcon::SetBalloonText(TextView text) {
  Text cut = Cut(text, kMaxBalloonTextLength);
  if (cut == record_.balloonText) return;
  record_.balloonText = std::move(cut);
  ModifyIfPresent();
}

void TTrayIcon::ShowBalloon() {
  // An absent icon shows nothing; keeping the request would show it at the next add.
  if (!present_) return;
  record_.flags |= kNifInfo;
  shell_.Modify(record_);
}

void TTrayIcon::OnCallback(std::uint32_t event) {
  switch (event) {
    case kLeftButtonDown:
      armed_ = true;
      break;
    case kLeftButtonUp:
      if (armed_) {
        // Disarmed also when the click fails, so that a later release without a press does not
        // count as a click.
        struct Disarm {
          bool& armed;
          ~Disarm() { armed = false; }
        } disarm{armed_};
        if (OnClick) OnClick();
      }
      break;
    case kLeftButtonDoubleClick:
    case kMiddleButtonDoubleClick:
    case kRightButtonDoubleClick:
      if (OnDblClick) OnDblClick();
      break;
    case kRightButtonUp:
      if (OnPopup) OnPopup();
      break;
    case kBalloonTimeout:
    case kBalloonHide:
    case kBalloonUserClick:
      // The balloon has closed; without this a later change of tip or image would show it again.
      record_.flags &= ~kNifInfo;
      break;
    default:
      break;
  }
}

void TTrayIcon::OnTaskbarCreated() {
  // The balloon went with the old shell.
  record_.flags &= ~kNifInfo;
  if (present_) shell_.Add(record_);
}

void TTrayIcon::OnEndSession(bool ending) {
  if (ending) DeleteQuietly();
}

void TTrayIcon::OnWindowDestroyed() { DeleteQuietly(); }

void TTrayIcon::ModifyIfPresent() {
  if (present_) shell_.Modify(record_);
}

void TTrayIcon::DeleteQuietly() {
  if (!present_) return;
  present_ = false;
  shell_.Delete(record_);
}

}  // namespace korvex
