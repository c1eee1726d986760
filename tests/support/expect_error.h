#pragma once
// "Expect a KorError with this message", for every test: the failure names what was thrown
// instead, so a test needs no try/catch of its own.
//
//   EXPECT_TRUE(ThrowsKorError([&] { client.Get(url); }, kUnknownProtocol));
//   const std::optional<KorError> error = KorErrorOf([&] { WriteEinstellungen(registry, input); });

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <optional>

#include "core/error.h"
#include "core/text.h"

namespace korvex::testing {

// The KorError that `call` throws, or nothing when it returns. Any other exception propagates
// and fails the test.
inline std::optional<KorError> KorErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const KorError& error) {
    return error;
  }
  return std::nullopt;
}

// Success when `call` throws a KorError whose message is exactly `message`.
inline ::testing::AssertionResult ThrowsKorError(const std::function<void()>& call, TextView message) {
  const std::optional<KorError> error = KorErrorOf(call);
  if (!error) return ::testing::AssertionFailure() << "no KorError thrown; expected \"" << ToUtf8(message) << "\"";
  if (error->Message() != message) {
    return ::testing::AssertionFailure() << "KorError \"" << ToUtf8(error->Message()) << "\", expected \""
                                         << ToUtf8(message) << "\"";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace korvex::testing
