// wgsensor: tells the server stand-in what its simulated user presents to the sensor.
//
//   wgsensor                      what is presented now, and the pace
//   wgsensor auto                 whatever the capture calls for (the default)
//   wgsensor nothing              nothing: captures wait and time out
//   wgsensor finger NAME          the synthetic finger NAME, for example alice/7
//   wgsensor image FILE           the picture in FILE: 8-bit grey PGM or BMP, 128 x 128
//   wgsensor pace [--frame-ms N] [--delay-ms N] [--timeout-ms N]
//
// The server starts when it does not run yet, and keeps what it was told in its store.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "connect/process_attach.h"
#include "connect/service_block.h"
#include "platform/module_version.h"
#include "server/sensor_commands.h"
#include "shared/little_endian.h"
#include "whorlgate/wg_basic.h"

WG_MODULE_VERSION_RESOURCE("4, 1, 0, 1", "Whorlgate simulated sensor control");

namespace {

int Usage(FILE* out) {
  fprintf(out,
          "usage: wgsensor                 show what the simulated user presents\n"
          "       wgsensor auto            present what each capture calls for (default)\n"
          "       wgsensor nothing         present nothing: captures time out\n"
          "       wgsensor finger NAME     present the synthetic finger NAME (e.g. alice/7)\n"
          "       wgsensor image FILE      present the picture in FILE (8-bit grey PGM or BMP,\n"
          "                                128 x 128)\n"
          "       wgsensor pace [--frame-ms N] [--delay-ms N] [--timeout-ms N]\n"
          "                                frame period, the user's delay in following a\n"
          "                                prompt, and how long a capture waits for a finger\n");
  return out == stdout ? 0 : 2;
}

int Fail(const char* what) {
  char details[WG_RESULT_DETAILS_TEXT_SIZE] = {};
  uint32_t flags = 0;
  WhorlgateGetResultDetails(details, &flags);
  fprintf(stderr, "wgsensor: %s%s%s\n", what, details[0] ? ": " : "", details);
  return 2;
}

// One sensor command: the preparatory request, then the command with the payload that `fill`
// writes. The answer is left in *block.
template <typename Fill>
bool Send(uint8_t command, WGServiceBlock* block, Fill fill) {
  if (!ServicePrepare(block)) return false;
  block->aucBlock[kServiceBlockCommand] = command;
  fill(block->aucBlock);
  return ServiceSend(block, true);
}

void Show(const WGServiceBlock& block) {
  char text[kSensorBlockAnswerRoom + 1] = {};
  memcpy(text, block.aucBlock + kSensorBlockAnswerText, kSensorBlockAnswerRoom);
  printf("presenting: %s\n", text);
  printf("pace: frame %u ms, user delay %u ms, time-out %u ms\n",
         LoadU32(block.aucBlock + kSensorBlockFrameMs), LoadU32(block.aucBlock + kSensorBlockDelayMs),
         LoadU32(block.aucBlock + kSensorBlockTimeoutMs));
}

bool ParseMs(const char* text, uint32_t* value) {
  char* end = nullptr;
  unsigned long parsed = strtoul(text, &end, 10);
  if (end == text || *end != '\0' || parsed > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(parsed);
  return true;
}

int Present(const std::string& text) {
  if (text.size() >= kSensorBlockTextRoom) {
    fprintf(stderr, "wgsensor: too long, at most %u bytes: %s\n", kSensorBlockTextRoom - 1,
            text.c_str());
    return 2;
  }
  WGServiceBlock block{};
  bool sent = Send(kSensorPresent, &block, [&](uint8_t* bytes) {
    memcpy(bytes + kSensorBlockText, text.c_str(), text.size() + 1);
  });
  if (!sent) return Fail("the server refused");
  Show(block);
  return 0;
}

int Pace(int argc, char** argv) {
  WGServiceBlock block{};
  if (!Send(kSensorQuery, &block, [](uint8_t*) {})) return Fail("the server did not answer");
  uint32_t frame = LoadU32(block.aucBlock + kSensorBlockFrameMs);
  uint32_t delay = LoadU32(block.aucBlock + kSensorBlockDelayMs);
  uint32_t timeout = LoadU32(block.aucBlock + kSensorBlockTimeoutMs);
  for (int i = 0; i < argc; i += 2) {
    uint32_t* target = !strcmp(argv[i], "--frame-ms")   ? &frame
                       : !strcmp(argv[i], "--delay-ms") ? &delay
                       : !strcmp(argv[i], "--timeout-ms") ? &timeout
                                                          : nullptr;
    if (!target || i + 1 >= argc || !ParseMs(argv[i + 1], target)) return Usage(stderr);
  }
  bool sent = Send(kSensorPace, &block, [&](uint8_t* bytes) {
    StoreU32(bytes + kSensorBlockFrameMs, frame);
    StoreU32(bytes + kSensorBlockDelayMs, delay);
    StoreU32(bytes + kSensorBlockTimeoutMs, timeout);
  });
  if (!sent) return Fail("the server refused");
  Show(block);
  return 0;
}

int Run(int argc, char** argv) {
  if (argc == 1) {
    WGServiceBlock block{};
    if (!Send(kSensorQuery, &block, [](uint8_t*) {})) return Fail("the server did not answer");
    Show(block);
    return 0;
  }
  std::string verb = argv[1];
  if (argc == 2 && (verb == "auto" || verb == "nothing")) return Present(verb);
  if (argc == 3 && verb == "finger") return Present(verb + " " + argv[2]);
  if (argc == 3 && verb == "image") {
    // The server reads the file itself, from wherever it was started.
    char* absolute = realpath(argv[2], nullptr);
    if (!absolute) {
      fprintf(stderr, "wgsensor: cannot find %s\n", argv[2]);
      return 2;
    }
    std::string text = verb + " " + absolute;
    free(absolute);
    return Present(text);
  }
  if (verb == "pace" && argc % 2 == 0) return Pace(argc - 2, argv + 2);
  return Usage(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) return Usage(stdout);
  const char* cause = nullptr;
  if (!WGRpcProcessAttach(reinterpret_cast<const void*>(&Usage), &cause)) {
    fprintf(stderr, "wgsensor: cannot reach the server: %s\n", cause);
    return 2;
  }
  int status = Run(argc, argv);
  WGRpcProcessDetach();
  return status;
}
