#pragma once
// Message boxes that record each box as one line of text ("Fehler: …", "Information: …",
// "Frage: …") and answer every question with `answer`.

#include <vector>

#include "client/message_boxes.h"
#include "core/text.h"

namespace korvex::testing {

class AnsweringBoxes : public MessageBoxes {
 public:
  std::vector<Text> shown;
  bool answer = true;

  void Error(const Text& caption, const Text& text) override { shown.push_back(caption + u": " + text); }
  void Information(const Text& text) override { shown.push_back(u"Information: " + text); }
  bool AskInformation(const Text& text) override {
    shown.push_back(u"Frage: " + text);
    return answer;
  }
};

}  // namespace korvex::testing
