#include "client/about_box.h"

#include "core/error.h"

namespace korvex {

void TAboutBox::ShowModal() {
  if (view_.Visible()) throw KorError(kVisibleToModalMessage);
  view_.RunModal();
}

void TAboutBox::OKButtonClick() { view_.EndShowing(); }

}  // namespace korvex
