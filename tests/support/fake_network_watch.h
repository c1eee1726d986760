#pragma once
// A network watch that reports a change when the test says so, and only while it is started.

#include <functional>
#include <utility>

#include "core/network_watch.h"

namespace korvex::testing {

class FakeNetworkWatch : public NetworkWatch {
 public:
  explicit FakeNetworkWatch(std::function<void()> onChange) : onChange_(std::move(onChange)) {}
  void Start() override {
    started = true;
    ++starts;
  }
  void Stop() override { started = false; }
  // What the platform would deliver; dropped once stopped, as the real watches do.
  void Change() {
    if (started) onChange_();
  }

  bool started = false;
  int starts = 0;

 private:
  std::function<void()> onChange_;
};

}  // namespace korvex::testing
