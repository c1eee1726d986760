#include "core/error.h"

#include <utility>

namespace korvex {

KorError::KorError(Text message, std::uint32_t osCode)
    : message_(std::move(message)), osCode_(osCode), utf8_(ToUtf8(message_)) {}

}  // namespace korvex
