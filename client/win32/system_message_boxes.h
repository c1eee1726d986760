#pragma once
// The client's message boxes as Windows message boxes, with German button captions whatever the
// language of the system.

#include "client/message_boxes.h"

namespace korvex::win32 {

class SystemMessageBoxes : public MessageBoxes {
 public:
  void Error(const Text& caption, const Text& text) override;
  void Information(const Text& text) override;
  bool AskInformation(const Text& text) override;
};

}  // namespace korvex::win32
