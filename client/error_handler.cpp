#include "client/error_handler.h"

#include "core/error.h"

namespace korvex {
namespace {

char16_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

Text MessageOf(const std::exception& failure) {
  if (const auto* error = dynamic_cast<const KorError*>(&failure)) return error->Message();
  return FromUtf8(failure.what());
}

}  // namespace

Text ApplicationTitle(TextView programFile) {
  const std::size_t slash = programFile.find_last_of(u"\\/");
  if (slash != TextView::npos) programFile.remove_prefix(slash + 1);
  Text title(programFile.substr(0, programFile.find(u'.')));
  for (std::size_t i = 1; i < title.size(); ++i) title[i] = LowerAscii(title[i]);
  return title;
}

Text ErrorBoxText(TextView message) {
  Text text(message);
  if (!text.empty() && text.back() > u'.') text += u'.';
  return text;
}

Text FailureMessage(const std::exception& failure) {
  Text message = MessageOf(failure);
  try {
    std::rethrow_if_nested(failure);
  } catch (const std::exception& inner) {
    Text innerMessage = FailureMessage(inner);
    if (!innerMessage.empty()) message = std::move(innerMessage);
  } catch (...) {
  }
  return message;
}

void ErrorHandler::Run(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& failure) {
    Show(failure);
  }
}

void ErrorHandler::Show(const std::exception& failure) {
  if (boxOpen_) return;
  boxOpen_ = true;
  struct Closed {
    bool& open;
    ~Closed() { open = false; }
  } closed{boxOpen_};
  boxes_.Error(title_, ErrorBoxText(FailureMessage(failure)));
}

}  // namespace korvex
