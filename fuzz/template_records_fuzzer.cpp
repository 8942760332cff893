// Reference template records as applications hand them in (read from files, sent by other
// programs): checking and opening sealed bytes, the seal round trip, the small conversion and
// the extended calls that take records.
//
// Input: [mode u8][record bytes][match template bytes]; both parts are cut to their sizes and
// zero-filled.
//   mode bit 0 clear: the record bytes are taken as sealed, as they come;
//   mode bit 0 set: they are a plain record body of type 23 (bit 1 clear) or 22 (bit 1 set),
//     sealed here first, so that the opened record's contents are the fuzzer's: the matcher
//     then compares whatever matcher template such a record carries.
//   mode bits 2 and 3: match criteria and details given to WGMatchTemplatePairEx.
#include <cstring>

#include "connect/api_messages.h"
#include "fuzz/fake_server.h"
#include "fuzz/fuzz_support.h"
#include "local/template_record.h"
#include "shared/little_endian.h"
#include "whorlgate/wg_extended.h"
#include "whorlgate/wg_sensor.h"
#include "whorlgate/wg_template.h"

namespace {

constexpr uint32_t kServiceReplySize = 172;
constexpr uint32_t kServiceReplyResult = 170;

// The matcher asks the server for its minimum score; this server refuses, so the default holds.
std::vector<std::vector<uint8_t>> RefuseSettings(const uint8_t* request, uint32_t) {
  std::vector<uint8_t> reply(kServiceReplySize, 0);
  StoreU32(reply.data() + kApiMsgSize, kServiceReplySize);
  memcpy(reply.data() + kApiMsgProcessId, request + kApiMsgProcessId, 6);
  StoreI16(reply.data() + kServiceReplyResult, WG_FUNCTION_FAILED);
  return {reply};
}

struct Sealed {
  bool valid;
  int16_t type;
  uint16_t size;
};

Sealed Check(const uint8_t* record) {
  Sealed sealed{false, 0, 0};
  sealed.valid = WGCheckIOTemplateRec(record, &sealed.type, &sealed.size);
  return sealed;
}

void MatchAll(const uint8_t* record, const uint8_t* matchTemplate, uint8_t mode,
              const uint8_t* criteriaBytes) {
  WGMatchCriteria criteria;
  memcpy(&criteria, criteriaBytes, sizeof criteria);
  WGMatchDetails details{};
  WGResult result = WGMatchTemplatePairEx(record, matchTemplate, (mode & 4) ? &criteria : nullptr,
                                          (mode & 8) ? &details : nullptr, 0);
  FuzzCheck(result == WG_MATCH || result == WG_NO_MATCH || result == WG_FUNCTION_FAILED ||
                result == WG_OUT_OF_MEMORY,
            "match result outside its list");
  if (mode & 8) {
    FuzzCheck(result != WG_FUNCTION_FAILED || details.lMatched == 0, "details of a failed match");
  }
  LoadSearchPrint(matchTemplate);
  uint32_t matched = 2;
  ComparePrints(record, &matched);
  FuzzCheck(matched == 0 || matched == 1, "ComparePrints gave no verdict");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeFuzzScratch("template");
  static FakeServer server(RefuseSettings);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  uint8_t mode = input.u8();
  uint8_t criteria[sizeof(WGMatchCriteria)] = {};
  std::vector<uint8_t> criteriaBytes = input.bytes(sizeof criteria);
  if (!criteriaBytes.empty()) memcpy(criteria, criteriaBytes.data(), criteriaBytes.size());
  uint8_t record[WG_REFERENCE_TEMPLATE_SIZE] = {};
  std::vector<uint8_t> recordBytes = input.bytes(sizeof record);
  if (!recordBytes.empty()) memcpy(record, recordBytes.data(), recordBytes.size());
  uint8_t matchTemplate[WG_MATCH_TEMPLATE_SIZE] = {};
  std::vector<uint8_t> matchBytes = input.bytes(sizeof matchTemplate);
  if (!matchBytes.empty()) memcpy(matchTemplate, matchBytes.data(), matchBytes.size());

  if (mode & 1) {
    int16_t type = (mode & 2) ? WG_SMALL_REFERENCE_TEMPLATE_TYPE : WG_REFERENCE_TEMPLATE_TYPE;
    StoreI16(record + kRecType, type);
    const TemplateRecordFormat* format = FindTemplateRecordFormat(type);
    memset(record + format->uiSize, 0, sizeof record - format->uiSize);
    uint8_t body[WG_REFERENCE_TEMPLATE_SIZE];
    memcpy(body, record, sizeof body);
    FuzzCheck(WGEncryptIOTemplateRecForExport(record), "a plain record was not sealed");
    Sealed sealed = Check(record);
    FuzzCheck(sealed.valid && sealed.type == type && sealed.size == format->uiSize,
              "a sealed record does not check");
    uint8_t plain[WG_REFERENCE_TEMPLATE_SIZE];
    memcpy(plain, record, sizeof plain);
    FuzzCheck(WGDecipherIOTemplateRec(plain, nullptr, nullptr), "a sealed record does not open");
    FuzzCheck(LoadI16(plain + kRecTypeAgain) == type && LoadU16(plain + kRecSize) == format->uiSize,
              "an opened record lost its header");
    FuzzCheck(memcmp(plain + kRecMatcherTemplate, body + kRecMatcherTemplate,
                     format->uiChecksum - kRecMatcherTemplate) == 0,
              "an opened record lost its body");
  }

  // Sealed bytes as they come: checking and opening agree, and a failed opening leaves the
  // record as it was.
  Sealed sealed = Check(record);
  uint8_t copy[WG_REFERENCE_TEMPLATE_SIZE];
  int16_t type = 0;
  uint16_t recordSize = 0;
  bool opened = OpenTemplateRecordCopy(record, copy, &type, &recordSize);
  FuzzCheck(
      opened == sealed.valid && (!opened || (type == sealed.type && recordSize == sealed.size)),
      "checking and opening disagree");
  uint8_t inPlace[WG_REFERENCE_TEMPLATE_SIZE];
  memcpy(inPlace, record, sizeof inPlace);
  bool deciphered = WGDecipherIOTemplateRec(inPlace, nullptr, nullptr);
  FuzzCheck(deciphered == sealed.valid, "opening in place disagrees with checking");
  FuzzCheck(deciphered ? memcmp(inPlace, copy, sealed.size) == 0
                       : memcmp(inPlace, record, sizeof inPlace) == 0,
            "opening in place changed what it could not open");

  uint8_t small[WG_SMALL_REFERENCE_TEMPLATE_SIZE] = {};
  WGResult converted = WGConvertNormalReferenceTemplateToSmall(small, record);
  FuzzCheck((converted == WG_OK) == (sealed.valid && sealed.type == WG_REFERENCE_TEMPLATE_TYPE),
            "conversion of a record it should (not) convert");
  if (converted == WG_OK) {
    Sealed smallSealed = Check(small);
    FuzzCheck(smallSealed.valid && smallSealed.type == WG_SMALL_REFERENCE_TEMPLATE_TYPE,
              "the small record does not check");
    FuzzCheck(WGDecipherIOTemplateRec(small, nullptr, nullptr), "the small record does not open");
    FuzzCheck(memcmp(small + kRecMatcherTemplate, copy + kRecMatcherTemplate,
                     kSmallRecMark - kRecMatcherTemplate) == 0 &&
                  small[kSmallRecMark] == kSmallRecMarkValue &&
                  memcmp(small + kSmallRecMark + 1, copy + kSmallRecMark + 1,
                         kRecMatcherTemplate + kSmallMatcherTemplateSize - kSmallRecMark - 1) == 0,
              "the small record is not the start of the normal one");
    WGEncryptIOTemplateRecForExport(small);
    MatchAll(small, matchTemplate, mode, criteria);
  }
  MatchAll(record, matchTemplate, mode, criteria);
  return 0;
}
