#pragma once
// Driving another program's windows as a user would, for the end-to-end tests under Wine: find
// windows by caption and controls by class and text, type, click, pick, and use menus by their
// captions. Every wait polls a condition until a deadline.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "core/text.h"
#include "core/win32/windows_api.h"

namespace korvex::testing {

bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::seconds(20));

// A started program; killed when still running at destruction.
class Program {
 public:
  Program(const Text& exe, const Text& arguments, const Text& workingDirectory);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return id_; }
  // The exit code, or nothing when the program did not end within the deadline.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds deadline = std::chrono::seconds(20));
  bool Running() const;

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// The program's top-level window with this caption (visible or not), or null.
HWND FindWindowOf(DWORD processId, TextView caption);
// The program's visible top-level windows.
std::vector<HWND> VisibleWindowsOf(DWORD processId);
// Waits for a visible top-level window of the program with this caption.
HWND WaitForWindow(DWORD processId, TextView caption,
                   std::chrono::milliseconds deadline = std::chrono::seconds(20));

Text WindowText(HWND window);
Text ClassOf(HWND window);
// The direct children of a window of this class ("Edit", "Button", "ComboBox"...), in the order
// of their creation.
std::vector<HWND> ChildrenOf(HWND parent, TextView className);
// The child of this class with this text, or null.
HWND ChildWithText(HWND parent, TextView className, TextView text);

// Types a text into a field (replacing it), as WM_SETTEXT does.
void Type(HWND field, const Text& text);
// Clicks a button. Posted, so that a box the click opens does not block the test.
void Click(HWND button);
// Picks an entry of a drop-down list and tells its dialog, as a pick with the mouse would.
void Pick(HWND comboBox, int index);
int EntryCount(HWND comboBox);
// Chooses a menu item by the captions on its path ("Datei", "Update erzwingen"). The menu is read
// from the program file's resource `menuName`, ignoring "&"; the command is posted to `window`.
bool ChooseMenu(HWND window, const Text& programFile, const wchar_t* menuName,
                const std::vector<Text>& path);

// A message box of the program: its caption and its text.
struct Box {
  HWND window = nullptr;
  Text caption;
  Text text;
};
std::optional<Box> FindBox(DWORD processId);
std::optional<Box> WaitForBox(DWORD processId, std::chrono::milliseconds deadline = std::chrono::seconds(20));

// Presses OK on every message box of other processes while it lives, as a user would, and
// records their texts.
class BoxAnswerer {
 public:
  BoxAnswerer();
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;
  std::vector<Text> Texts();

 private:
  void Run();

  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Text> texts_;
  std::set<HWND> answered_;
  std::thread thread_;
};

}  // namespace korvex::testing
