#pragma once
// The client's top-level error handler: a failure that a handler does not catch itself ends that
// handler and is shown in an error box titled with the application title; the program goes on.

#include <exception>
#include <functional>
#include <utility>

#include "client/message_boxes.h"
#include "core/text.h"

namespace korvex {

// The program file's name up to its first dot, every character after the first in lower case:
// "Korvex" for "Korvex.exe". A path before the name is ignored.
Text ApplicationTitle(TextView programFile);

// The box's text for a failure's message: a full stop is appended when the message is not empty
// and its last character sorts after "." (a letter, a digit, "?"), not after ".", "!", ")", a
// quotation mark or a blank.
Text ErrorBoxText(TextView message);

// The message shown for a failure: for one that wraps another (std::nested_exception), the
// innermost non-empty message.
Text FailureMessage(const std::exception& failure);

class ErrorHandler {
 public:
  ErrorHandler(MessageBoxes& boxes, Text applicationTitle)
      : boxes_(boxes), title_(std::move(applicationTitle)) {}

  // Runs one handler; a failure it throws is shown, and Run returns normally.
  void Run(const std::function<void()>& handler);
  // The timers tick inside an open box, so a failure that repeats would open box after box, each
  // inside the last; while one box is open, further failures are dropped.
  void Show(const std::exception& failure);
  bool BoxOpen() const { return boxOpen_; }

  const Text& Title() const { return title_; }

 private:
  MessageBoxes& boxes_;
  Text title_;
  bool boxOpen_ = false;
};

}  // namespace korvex
