// A test whose process traces into its own trace pipe, so that a test can read back what an
// exported call traced.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "shared/trace.h"
#include "tests/support/isolation.h"

struct TraceLine {
  uint32_t uiType;
  std::string text;  // without the "WGRPC: " prefix
  bool operator==(const TraceLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TraceLine& line) {
  return out << "{0x" << std::hex << line.uiType << std::dec << ", \"" << line.text << "\"}";
}

class TracedTest : public IsolatedTest {
 protected:
  void SetUp() override {
    IsolatedTest::SetUp();
    g_pTraceControl = TraceInit("WGRPC: ");
    ASSERT_NE(g_pTraceControl.load(), nullptr);
  }
  void TearDown() override {
    TraceShutdown();
    IsolatedTest::TearDown();
  }
  // Everything traced since the last call; every line must come from "RPC DLL".
  std::vector<TraceLine> takeTraces() {
    std::vector<TraceLine> lines;
    TraceRecord record;
    while (TraceTakeRecord(&record, sizeof record)) {
      EXPECT_EQ(record.uiWhere, TRACE_WHERE_RPC_DLL) << record.szText;
      const std::string text = record.szText;
      EXPECT_EQ(text.rfind("WGRPC: ", 0), 0u) << text;
      lines.push_back({record.uiType, text.substr(7)});
    }
    return lines;
  }
};
