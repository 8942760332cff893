#include <cstring>
#include <functional>

#include "connect/settings_table.h"
#include "tests/rpc/rpc_fixture.h"
#include "tests/rpc/service_script.h"
#include "whorlgate.h"

namespace {

class SettingsTest : public RpcTest {
 protected:
  std::vector<LoggedRequest> serviceRequests() { return server_->requestsOfType(WG_API_SERVICE_REQUEST); }
};

TEST(SettingsTable, FindsNamesWithoutRegardToCase) {
  const SettingEntry* entry = FindSetting("corMTCHna");
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->szName, "CorMtchNA");

  struct Case {
    const char* name;
    uint8_t kind, size;
    uint16_t identifier;
  } cases[] = {
      {"sIBiasGCL iControlBits", 2, 1, 0},  // the first entry
      {"SEXCITEFREQGCL IDEADBAND", 2, 1, 3},
      {"sAtoDRefLowGCL iBitFieldOffset", 1, 1, 9},  // the last of the 15 loops
      {"ForceAFCS1Format", 2, 1, 370},
      {"Comm port name", 4, 5, 404},
      {"SameCompareBits", 2, 2, 438},
      {"Sensor Type", 2, 4, 495},  // the last entry
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    entry = FindSetting(c.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ucKind, c.kind);
    EXPECT_EQ(entry->ucSize, c.size);
    EXPECT_EQ(entry->uiIdentifier, c.identifier);
  }
  for (const char* unknown : {"CorMtch", "sIBiasGCL", "sIBiasGCL  iLoopGain", "iLoopGain", ""}) {
    EXPECT_EQ(FindSetting(unknown), nullptr) << unknown;
  }
  EXPECT_EQ(FindSetting(nullptr), nullptr);
}

// Every get and set: a preparatory request, then the server's answer reused for the main one.
TEST_F(SettingsTest, RequestLayouts) {
  const ServiceBytes answer = MarkedAnswer();
  startAndAttach({"--reply", ServiceReply(answer, WG_OK)});
  uint8_t bytes[8];
  uint32_t number = 0;
  const uint8_t on = 1;
  const uint16_t bits = 0xBEEF;
  const uint32_t baud = 115200;
  struct Case {
    const char* what;
    std::function<bool()> invoke;
    uint8_t command;
    uint16_t identifier, size;
    ServiceBytes value;  // what a set writes at offset 9; a get leaves the answer's bytes there
  } cases[] = {
      {"get sIBiasGCL iLoopGain, flag set", [&] { return GetSetting("sIBiasGCL iLoopGain", true, &number); }, 14, 1, 2, {}},
      {"get sAtoDRefLowGCL iLoopGain, flag clear", [&] { return GetSetting("sAtoDRefLowGCL iLoopGain", false, &number); }, 16, 1, 2, {}},
      {"get Comm port name", [&] { return GetSetting("Comm port name", false, bytes); }, 16, 404, 5, {}},
      {"set PassBadImages, flag set", [&] { return SetSetting("PassBadImages", true, &on); }, 15, 416, 1, {0x01}},
      {"set SameCompareBits, flag clear", [&] { return SetSetting("SameCompareBits", false, &bits); }, 17, 438, 2, {0xEF, 0xBE}},
      {"set Startup baud rate", [&] { return SetSetting("Startup baud rate", true, &baud); }, 15, 410, 4, {0x00, 0xC2, 0x01, 0x00}},
      {"set Comm port name", [&] { return SetSetting("Comm port name", false, "COM2"); }, 17, 404, 5, {'C', 'O', 'M', '2', 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t before = serviceRequests().size();
    EXPECT_TRUE(c.invoke());
    auto requests = serviceRequests();
    ASSERT_EQ(requests.size(), before + 2);
    for (size_t i = before; i < requests.size(); ++i) ASSERT_EQ(requests[i].bytes.size(), 172u);
    EXPECT_EQ(PlainServiceBlock(requests[before]), PreparatoryBlock());
    ServiceBytes expected = answer;
    expected[0] = c.command;
    StoreU16(&expected[5], c.identifier);
    StoreU16(&expected[7], c.size);
    std::copy(c.value.begin(), c.value.end(), expected.begin() + 9);
    expected[159] = 0;  // the check byte is 0 in every block
    EXPECT_EQ(PlainServiceBlock(requests[before + 1]), expected);
  }
  EXPECT_EQ(takeError(), 0);
}

TEST_F(SettingsTest, ValuesAreReadByKindAndSize) {
  ServiceBytes zero(WG_SERVICE_BLOCK_SIZE, 0);
  ServiceBytes value(WG_SERVICE_BLOCK_SIZE, 0);
  const uint8_t field[] = {0xFE, 0xFF, 0x77, 0x66, 0x55, 0x44};
  std::copy(std::begin(field), std::end(field), value.begin() + 9);
  startAndAttach({"--reply", ServiceReply(zero, WG_OK), "--reply", ServiceReply(zero, WG_OK),
                  "--reply", ServiceReply(value, WG_OK)});
  bool flag = true;
  EXPECT_TRUE(GetSettingBool("PassBadImages", true, &flag));
  EXPECT_FALSE(flag);

  struct Case {
    const char* name;
    uint32_t expected;
  } numbers[] = {
      {"PassBadImages", 0xFE},
      {"SameCompareBits", 0xFFFE},  // 16 bits, widened without sign
      {"Sensor Type", 0x6677FFFE},
  };
  for (const Case& c : numbers) {
    SCOPED_TRACE(c.name);
    uint32_t number = 0xCCCCCCCC;
    EXPECT_TRUE(GetSetting(c.name, true, &number));
    EXPECT_EQ(number, c.expected);
  }

  uint8_t bytes[8];
  memset(bytes, 0xCC, sizeof bytes);
  EXPECT_TRUE(GetSetting("Comm port name", false, bytes));
  EXPECT_EQ(ServiceBytes(bytes, bytes + 6), (ServiceBytes{0xFE, 0xFF, 0x77, 0x66, 0x55, 0xCC})) << "5 bytes";

  // The byte string as a switch: its five bytes are more than a 32-bit scratch value holds.
  flag = false;
  EXPECT_TRUE(GetSettingBool("Comm port name", false, &flag));
  EXPECT_TRUE(flag);
}

TEST_F(SettingsTest, FailedExchangesGiveFalse) {
  const ServiceBytes answer = MarkedAnswer();
  startAndAttach({"--reply", ServiceReply(answer, WG_NO_IMAGE),  // the preparatory request refused
                  "--reply", ServiceReply(answer, WG_OK), "--reply", ServiceReply(answer, WG_UNKNOWN),
                  "--reply", "4:5:0:0000"});
  uint32_t number = 0x12345678;
  EXPECT_FALSE(GetSetting("No such setting", true, &number));
  EXPECT_FALSE(SetSetting("No such setting", true, &number));
  EXPECT_TRUE(server_->requests().empty()) << "an unknown name asks nobody";

  EXPECT_FALSE(GetSetting("CorMtchNA", true, &number));
  EXPECT_EQ(serviceRequests().size(), 1u) << "no main request after a refused preparatory one";
  EXPECT_FALSE(SetSetting("CorMtchNA", true, &number));
  EXPECT_EQ(serviceRequests().size(), 3u);
  EXPECT_EQ(number, 0x12345678u);
  EXPECT_EQ(takeError(), 0) << "a refusal by the server is no client error";

  EXPECT_FALSE(GetSetting("CorMtchNA", true, &number));
  EXPECT_EQ(takeError(), WGERR_SERVER_NOT_RESPONDING);
}

}  // namespace
