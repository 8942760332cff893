// A client library (linked statically, attached by hand) facing a scripted server.
#pragma once

#include <string>
#include <vector>

#include "connect/client_error.h"
#include "connect/connection.h"
#include "connect/event_dispatch.h"
#include "connect/process_attach.h"
#include "shared/trace.h"
#include "tests/support/isolation.h"
#include "tests/support/script_server.h"

class RpcTest : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    server_ = std::make_unique<ScriptServer>(scratch() + "/requests.log");
  }
  void TearDown() override {
    if (attached_) WGRpcProcessDetach();
    ClearEventRegistration();
    TakeClientError(nullptr, nullptr);
    TraceShutdown();
    server_.reset();
    IsolatedTest::TearDown();
  }
  // Starts the scripted server and attaches the library to it.
  void startAndAttach(const std::vector<std::string>& script = {}) {
    ASSERT_TRUE(server_->start(script));
    const char* cause = nullptr;
    static int anchor;
    ASSERT_TRUE(WGRpcProcessAttach(&anchor, &cause)) << cause;
    attached_ = true;
  }
  // Every trace text the process has written since the last call.
  std::vector<std::string> traceTexts() {
    std::vector<std::string> texts;
    TraceRecord record;
    while (TraceTakeRecord(&record, sizeof record)) texts.emplace_back(record.szText);
    return texts;
  }
  static bool contains(const std::vector<std::string>& texts, const std::string& text) {
    for (const auto& t : texts) {
      if (t.find(text) != std::string::npos) return true;
    }
    return false;
  }
  int16_t takeError() { return TakeClientError(nullptr, nullptr); }

  std::unique_ptr<ScriptServer> server_;
  bool attached_ = false;
};
