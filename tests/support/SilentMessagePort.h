#pragma once
// A message port with nobody in front of it, for fuzzers and benchmarks that
// need a document but no user: every question is answered No, every other box
// Ok, and the save dialog is cancelled.

#include "app/MessagePort.h"

namespace hx::test {

class SilentMessagePort final : public IMessagePort {
  public:
    MsgAnswer messageBox(const std::string&, const std::string&, MsgIcon, MsgButtons buttons) override {
        return buttons == MsgButtons::YesNo ? MsgAnswer::No : MsgAnswer::Ok;
    }
    std::optional<std::string> saveFileDialog(const std::string&, const std::string&) override { return {}; }
};

}  // namespace hx::test
