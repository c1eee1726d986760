#pragma once
// A shell that records every Shell_NotifyIconW call with the record it got, and answers as told.

#include <string>
#include <vector>

#include "client/tray_icon.h"

namespace korvex::testing {

class FakeNotifyShell : public NotifyIconShell {
 public:
  struct Call {
    std::string kind;  // "add", "modify", "delete"
    NotifyIconRecord record;
  };

  bool Add(const NotifyIconRecord& record) override { return Record("add", record, addResult); }
  bool Modify(const NotifyIconRecord& record) override { return Record("modify", record, modifyResult); }
  bool Delete(const NotifyIconRecord& record) override { return Record("delete", record, deleteResult); }

  std::vector<std::string> Kinds() const {
    std::vector<std::string> kinds;
    for (const Call& call : calls) kinds.push_back(call.kind);
    return kinds;
  }

  std::vector<Call> calls;
  bool addResult = true;
  bool modifyResult = true;
  bool deleteResult = true;

 private:
  bool Record(const char* kind, const NotifyIconRecord& record, bool result) {
    calls.push_back({kind, record});
    return result;
  }
};

}  // namespace korvex::testing
