// wgcli: the kit from the command line. Everything goes through the installed library's
// exported calls; the settings operations and the trace follower are the kit's own code
// compiled in, as the library keeps them private.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "connect/settings_table.h"
#include "platform/module_version.h"
#include "platform/time.h"
#include "server/server_messages.h"
#include "shared/little_endian.h"
#include "shared/registry.h"
#include "shared/trace.h"
#include "whorlgate.h"

WG_MODULE_VERSION_RESOURCE("4, 1, 0, 1", "Whorlgate command-line client");

namespace {

constexpr int kSuccess = 0;
constexpr int kNoMatch = 1;
constexpr int kError = 2;

constexpr const char* kUsage =
    "usage: wgcli COMMAND [ARGUMENTS]\n"
    "\n"
    "Fingers (on the sensor; exit status 0 success or match, 1 no match, 2 error):\n"
    "  enroll USER [--finger N] [--name DISPLAY] [--save FILE]\n"
    "                          enroll a finger (1 by default), show the server's prompts\n"
    "                          and the views taken; --save keeps the sealed template\n"
    "  validate USER           check a finger against the user's enrolled fingers\n"
    "  identify                find the user a finger belongs to\n"
    "  verify FILE...          check a finger against saved templates (normal or small)\n"
    "  match-local FILE        acquire an image and match it with a saved template here,\n"
    "                          in this process\n"
    "  capture FILE.bmp [--dpi 250|375|500|1000]\n"
    "                          acquire an image and save it as an 8-bit grey bitmap\n"
    "  stream [--seconds N]    frames per second and image state while a stream is open\n"
    "\n"
    "Users:\n"
    "  list                    every enrolled user\n"
    "  info USER               a user's display name, fingers and dates\n"
    "  rename USER NAME        give the user a new display name\n"
    "  delete USER [--finger N]  delete the user, or one of its fingers\n"
    "  delete-all              delete every enrolled user\n"
    "\n"
    "The server:\n"
    "  settings list | settings get NAME | settings set NAME VALUE\n"
    "  trace [--where MASK] [--type MASK]\n"
    "                          follow the trace pipe until interrupted, in the trace\n"
    "                          viewer's line format\n"
    "  version                 the versions of wgcli, the library and the server\n";

volatile sig_atomic_t g_interrupted = 0;
void OnSignal(int) { g_interrupted = 1; }

int Usage(FILE* out) {
  fputs(kUsage, out);
  return out == stdout ? kSuccess : kError;
}

// An error with the library's explanation of the last failure.
int Fail(const std::string& what) {
  char details[WG_RESULT_DETAILS_TEXT_SIZE] = {};
  WhorlgateGetResultDetails(details, nullptr);
  fprintf(stderr, "wgcli: %s%s%s\n", what.c_str(), details[0] ? ": " : "", details);
  return kError;
}

int Refuse(const std::string& what) {
  fprintf(stderr, "wgcli: %s\n", what.c_str());
  return kError;
}

// The command's arguments: positional ones in order, options by name.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
  bool bad = false;

  Arguments(int argc, char** argv, std::initializer_list<const char*> known) {
    for (int i = 0; i < argc; ++i) {
      std::string arg = argv[i];
      if (arg.rfind("--", 0) != 0) {
        positional.push_back(arg);
        continue;
      }
      bool ok = false;
      for (const char* name : known) ok = ok || arg == name;
      if (!ok || i + 1 >= argc) {
        fprintf(stderr, "wgcli: %s %s\n", arg.c_str(), ok ? "needs a value" : "is not an option here");
        bad = true;
        return;
      }
      options[arg] = argv[++i];
    }
  }
  std::string option(const char* name, const std::string& fallback) const {
    auto it = options.find(name);
    return it == options.end() ? fallback : it->second;
  }
};

bool ParseNumber(const std::string& text, long minimum, long maximum, long* value) {
  char* end = nullptr;
  long parsed = strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || parsed < minimum || parsed > maximum) return false;
  *value = parsed;
  return true;
}

bool UserOf(const std::string& id, const std::string& name, WGUserRecord* user) {
  if (id.empty() || id.size() >= WG_USER_ID_LENGTH || name.size() >= WG_DISPLAY_NAME_LENGTH) {
    fprintf(stderr, "wgcli: a user ID is 1 to %d bytes, a display name at most %d\n",
            WG_USER_ID_LENGTH - 1, WG_DISPLAY_NAME_LENGTH - 1);
    return false;
  }
  *user = WGUserRecord{WG_USER_RECORD_SIZE, "", ""};
  memcpy(user->szUserID, id.data(), id.size());
  memcpy(user->szDisplayName, name.data(), name.size());
  return true;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes->assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const uint8_t* bytes, size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  return static_cast<bool>(file);
}

// What the server's prompt and status codes say.
const char* PromptText(int16_t code) {
  static const char* const kPrompts[] = {
      "Please Lift and Replace this finger on the Whorlgate Sensor",
      "Please Lift and Move this finger on the Whorlgate Sensor",
      "Please Place a finger on the Whorlgate Sensor",
      "Please Lift and Center this finger on the Whorlgate Sensor",
  };
  return code >= 0 && code < 4 ? kPrompts[code] : "Invalid Prompt";
}

const char* StatusText(int16_t code) {
  static const std::map<int16_t, const char*> kStatus = {
      {0, "Finger detected"},
      {1, "Finger removed"},
      {2, "Starting Enroll"},
      {3, "Image is good"},
      {4, "Unable to find fingerprint core"},
      {5, "Unable to find a fingerprint on this finger"},
      {6, "Thank You"},
      {7, "Would you like to enroll another finger?"},
      {8, "This finger has already been enrolled in the Whorlgate System"},
      {10, "Welcome"},
      {11, "Analyzing fingerprint"},
      {17, "Beginning image capture"},
      {18, "Verifying template"},
      {19, "Identifying user from database"},
      {20, "Verifying user"},
      {25, "Enroll Failed"},
  };
  auto it = kStatus.find(code);
  if (it != kStatus.end()) return it->second;
  bool known = code == 9 || (code >= 12 && code <= 16) || (code >= 21 && code <= 24);
  return known ? "" : "Invalid Message";
}

enum class Ended { kComplete, kTimedOut, kInterrupted };

// Polls a transaction, showing what the server says, until it completes or times out.
// `views` is how many views an enrollment takes (0 for other transactions).
Ended Follow(uint32_t transaction, int views) {
  int viewsDone = 0;
  while (!g_interrupted) {
    WGEventMessage* message = WGContinueTransaction(transaction);
    if (!message) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    uint16_t type = message->uiMessageType;
    int16_t code = message->iSubCode;
    const char* data = static_cast<const char*>(message->pData);
    switch (type) {
      case WG_MSG_PROMPT:
        printf("> %s\n", PromptText(code));
        break;
      case WG_MSG_STATUS:
        if (*StatusText(code)) printf("  %s\n", StatusText(code));
        break;
      case WG_API_END_OF_VIEW:
        viewsDone = code == 3 ? views : viewsDone + 1;
        printf("  %s [views %d of %d]\n", code == 3 ? "All views taken" : data ? data : "View taken",
               viewsDone, views);
        break;
      default:
        break;
    }
    fflush(stdout);
    WGReleaseMessage(message);
    if (type == WG_MSG_TIMEOUT) return Ended::kTimedOut;
    if (type >= WG_MSG_ACQUIRE_COMPLETE && type <= WG_MSG_TRANSACTION_COMPLETE_LAST) {
      return Ended::kComplete;
    }
  }
  WGAbortTransaction(transaction);
  return Ended::kInterrupted;
}

int Unfinished(Ended ended) {
  return Refuse(ended == Ended::kTimedOut ? "timed out: no finger was put on the sensor"
                                          : "interrupted, the transaction is aborted");
}

// A match result as an exit status.
int Matched(WGResult result, const std::string& yes, const std::string& no) {
  if (result == WG_MATCH) {
    printf("%s\n", yes.c_str());
    return kSuccess;
  }
  if (result == WG_NO_MATCH) {
    printf("%s\n", no.c_str());
    return kNoMatch;
  }
  return Fail("the server could not match");
}

int Enroll(const Arguments& args) {
  long finger = 1;
  if (args.positional.size() != 1 || !ParseNumber(args.option("--finger", "1"), 0, 254, &finger)) {
    return Usage(stderr);
  }
  WGUserRecord user;
  if (!UserOf(args.positional[0], args.option("--name", args.positional[0]), &user)) return kError;
  uint32_t views = 0;
  if (!GetSetting("EnrollPhaseLimit", true, &views)) views = 0;
  int16_t size = 0;
  uint32_t transaction =
      WGBeginEnroll(nullptr, 0, nullptr, &user, static_cast<int16_t>(finger), &size);
  if (!transaction) return Fail("the enrollment did not start");
  Ended ended = Follow(transaction, static_cast<int>(views));
  if (ended != Ended::kComplete) return Unfinished(ended);
  std::vector<uint8_t> record(static_cast<size_t>(size > 0 ? size : 0));
  int16_t received = 0;
  WGResult result = WGEndEnroll(transaction, record.data(), &received, nullptr);
  if (result != WG_OK) return Fail("the enrollment failed");
  printf("enrolled finger %ld of %s (%s)\n", finger, user.szUserID, user.szDisplayName);
  std::string save = args.option("--save", "");
  if (!save.empty()) {
    if (!WriteFile(save, record.data(), static_cast<size_t>(received))) {
      return Refuse("cannot write " + save);
    }
    printf("template saved to %s (%d bytes)\n", save.c_str(), received);
  }
  return kSuccess;
}

int Validate(const Arguments& args) {
  WGUserRecord user;
  if (args.positional.size() != 1) return Usage(stderr);
  if (!UserOf(args.positional[0], "", &user)) return kError;
  uint32_t transaction = WGBeginValidateID(nullptr, 0, &user, nullptr);
  if (!transaction) return Fail("the validation did not start");
  Ended ended = Follow(transaction, 0);
  if (ended != Ended::kComplete) return Unfinished(ended);
  return Matched(WGEndValidateID(transaction), user.szUserID + std::string(" validated"),
                 user.szUserID + std::string(" not validated"));
}

int Identify(const Arguments& args) {
  if (!args.positional.empty()) return Usage(stderr);
  uint32_t transaction = WGBeginIdentify(nullptr, 0, nullptr);
  if (!transaction) return Fail("the identification did not start");
  Ended ended = Follow(transaction, 0);
  if (ended != Ended::kComplete) return Unfinished(ended);
  WGUserRecord user = {WG_USER_RECORD_SIZE, "", ""};
  WGResult result = WGEndIdentify(transaction, &user);
  return Matched(result, std::string("identified ") + user.szUserID + " (" + user.szDisplayName + ")",
                 "nobody identified");
}

int Verify(const Arguments& args) {
  if (args.positional.empty()) return Usage(stderr);
  std::vector<std::vector<uint8_t>> records(args.positional.size());
  std::vector<const uint8_t*> pointers;
  for (size_t i = 0; i < records.size(); ++i) {
    if (!ReadFile(args.positional[i], &records[i]) || records[i].size() < WG_SMALL_REFERENCE_TEMPLATE_SIZE) {
      return Refuse("cannot read a template from " + args.positional[i]);
    }
    pointers.push_back(records[i].data());
  }
  uint32_t transaction = WGBeginVerify(nullptr, 0, pointers.data(),
                                       static_cast<int16_t>(pointers.size()), nullptr);
  if (!transaction) return Fail("the verification did not start (is every file a template?)");
  Ended ended = Follow(transaction, 0);
  if (ended != Ended::kComplete) return Unfinished(ended);
  int16_t value = 0;
  WGResult result = WGEndVerify(transaction, &value);
  std::string matched = value >= 1 && static_cast<size_t>(value) <= records.size()
                            ? args.positional[static_cast<size_t>(value - 1)]
                            : "a template";
  return Matched(result, "matches " + matched, "matches none of the templates");
}

// Acquires one image into `image` (WG_IMAGE_BUFFER_SIZE bytes).
int Acquire(std::vector<uint8_t>* image) {
  uint32_t transaction = WGBeginAcquireImage(nullptr, 0, 0, nullptr);
  if (!transaction) return Fail("the acquisition did not start");
  Ended ended = Follow(transaction, 0);
  if (ended != Ended::kComplete) return Unfinished(ended);
  image->assign(WGGetImageBufferSize(), 0);
  if (WGEndAcquireImage(transaction, image->data()) != WG_OK) return Fail("no image");
  return kSuccess;
}

int MatchLocal(const Arguments& args) {
  std::vector<uint8_t> record, image;
  if (args.positional.size() != 1) return Usage(stderr);
  if (!ReadFile(args.positional[0], &record) || record.size() < WG_SMALL_REFERENCE_TEMPLATE_SIZE) {
    return Refuse("cannot read a template from " + args.positional[0]);
  }
  if (int status = Acquire(&image)) return status;
  std::vector<uint8_t> matchTemplate(WGGetMatchTemplateSize());
  if (WGBuildMatchTemplate(image.data(), matchTemplate.data()) != WG_OK) {
    return Fail("no match template");
  }
  WGMatchDetails details = {};
  WGResult result = WGMatchTemplatePairEx(record.data(), matchTemplate.data(), nullptr, &details, 0);
  char confidence[64];
  snprintf(confidence, sizeof confidence, " (confidence %u of 10000)", details.usRisingConfidence);
  return Matched(result, "matches " + args.positional[0] + confidence,
                 "does not match " + args.positional[0] + confidence);
}

// The bitmap file of the image capture tool: 8-bit grey, bottom-up rows.
bool WriteGreyBitmap(const std::string& path, const uint8_t* pixels, uint32_t side) {
  constexpr uint32_t kPixelOffset = 1078;
  std::vector<uint8_t> file(kPixelOffset + side * side, 0);
  file[0] = 'B';
  file[1] = 'M';
  StoreU32(file.data() + 2, static_cast<uint32_t>(file.size()));
  StoreU32(file.data() + 10, kPixelOffset);
  StoreU32(file.data() + 14, 40);
  StoreU32(file.data() + 18, side);
  StoreU32(file.data() + 22, side);
  StoreU16(file.data() + 26, 1);
  StoreU16(file.data() + 28, 8);
  StoreU32(file.data() + 34, side * side);
  for (uint32_t i = 0; i < 256; ++i) {
    for (uint32_t c = 0; c < 3; ++c) file[54 + 4 * i + c] = static_cast<uint8_t>(i);
  }
  for (uint32_t row = 0; row < side; ++row) {
    memcpy(file.data() + kPixelOffset + row * side, pixels + (side - 1 - row) * side, side);
  }
  return WriteFile(path, file.data(), file.size());
}

int Capture(const Arguments& args) {
  long dpi = 250;
  if (args.positional.size() != 1 || !ParseNumber(args.option("--dpi", "250"), 250, 1000, &dpi) ||
      (dpi != 250 && dpi != 375 && dpi != 500 && dpi != 1000)) {
    return Usage(stderr);
  }
  std::vector<uint8_t> image;
  if (int status = Acquire(&image)) return status;
  uint32_t side = WG_IMAGE_SIDE;
  std::vector<uint8_t> first(512 * 512), second(512 * 512);
  const uint8_t* shown = image.data();
  if (dpi == 375) {
    WhorlgateResample150(image.data(), WG_IMAGE_SIDE, first.data());
    shown = first.data();
    side = 192;
  } else if (dpi >= 500) {
    WhorlgateResample200(image.data(), WG_IMAGE_SIDE, first.data());
    shown = first.data();
    side = 256;
    if (dpi == 1000) {
      WhorlgateResample200(first.data(), 256, second.data());
      shown = second.data();
      side = 512;
    }
  }
  if (!WriteGreyBitmap(args.positional[0], shown, side)) return Refuse("cannot write " + args.positional[0]);
  printf("saved %s (%u x %u, %ld dpi)\n", args.positional[0].c_str(), side, side, dpi);
  return kSuccess;
}

int Stream(const Arguments& args) {
  long seconds = 5;
  if (!args.positional.empty() || !ParseNumber(args.option("--seconds", "5"), 1, 3600, &seconds)) {
    return Usage(stderr);
  }
  WGContextHandle context = WhorlgateInit(nullptr);
  if (!context) return Fail("no context");
  if (WhorlgateOpenStream(context, 0) != WG_OK) {
    WhorlgateClose(context);
    return Fail("the stream did not open");
  }
  std::vector<uint8_t> last;
  for (long second = 0; second < seconds && !g_interrupted; ++second) {
    int frames = 0;
    WGImageState state = {4, 0};
    uint32_t start = platform::GetTickCount();
    while (!platform::TickBudgetSpent(start, 1000) && !g_interrupted) {
      if (uint8_t* image = WhorlgateGetCurrentImage(context, WG_STREAM_FORMAT_RAW, 0)) {
        // Each new frame differs from the last in its noise at least.
        if (last.empty() || memcmp(last.data(), image, WG_RAW_IMAGE_SIZE) != 0) {
          ++frames;
          last.assign(image, image + WG_RAW_IMAGE_SIZE);
        }
        WhorlgateReleaseImage(context, image);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    WhorlgateGetImageState(context, &state);
    printf("%2ld s: %2d frames/s, finger %s, stable for %d frames\n", second + 1, frames,
           state.iState & 0x4000 ? "present" : "absent", state.iState & 0x1F);
    fflush(stdout);
  }
  WhorlgateCloseStream(context);
  WhorlgateClose(context);
  return kSuccess;
}

int List(const Arguments& args) {
  if (!args.positional.empty()) return Usage(stderr);
  WGUserList* list = nullptr;
  if (WhorlgateGetListOfAllUsers(&list) != WG_OK) return Fail("no user list");
  for (uint32_t i = 0; i < list->ulNumberOfUsers; ++i) {
    printf("%s\t%s\n", list->users[i].szUserID, list->users[i].szDisplayName);
  }
  printf("%u users\n", list->ulNumberOfUsers);
  WhorlgateDeleteUserList(list);
  return kSuccess;
}

std::string Date(uint32_t seconds) {
  time_t when = seconds;
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", gmtime(&when));
  return text;
}

int Info(const Arguments& args) {
  WGUserRecord user;
  if (args.positional.size() != 1) return Usage(stderr);
  if (!UserOf(args.positional[0], "", &user)) return kError;
  WGUserInfo info = {};
  if (WhorlgateGetUserInfo(&user, &info) != WG_OK) return Fail("no such user");
  const uint8_t* bytes = info.aucInfo;
  std::string fingers;
  for (uint8_t i = 0; i < bytes[kInfoFingerCount] && i < kInfoFingerSlots; ++i) {
    fingers += (fingers.empty() ? "" : " ") + std::to_string(bytes[kInfoFingers + i]);
  }
  printf("user %.*s\n", WG_USER_ID_LENGTH, reinterpret_cast<const char*>(bytes + kInfoUserId));
  printf("name %.*s\n", WG_DISPLAY_NAME_LENGTH,
         reinterpret_cast<const char*>(bytes + kInfoDisplayName));
  printf("fingers %s\n", fingers.c_str());
  printf("added %s\n", Date(LoadU32(bytes + kInfoCreated)).c_str());
  printf("last enrolled %s\n", Date(LoadU32(bytes + kInfoLastEnrolled)).c_str());
  return kSuccess;
}

int Rename(const Arguments& args) {
  WGUserRecord user;
  if (args.positional.size() != 2) return Usage(stderr);
  if (!UserOf(args.positional[0], args.positional[1], &user)) return kError;
  if (WhorlgateSetDisplayName(&user) != WG_OK) return Fail("not renamed");
  printf("%s is now %s\n", user.szUserID, user.szDisplayName);
  return kSuccess;
}

int Delete(const Arguments& args) {
  WGUserRecord user;
  if (args.positional.size() != 1) return Usage(stderr);
  if (!UserOf(args.positional[0], "", &user)) return kError;
  std::string finger = args.option("--finger", "");
  if (finger.empty()) {
    if (WhorlgateDeleteUser(&user) != WG_OK) return Fail("not deleted");
    printf("deleted %s\n", user.szUserID);
    return kSuccess;
  }
  long number = 0;
  if (!ParseNumber(finger, 0, 254, &number)) return Usage(stderr);
  if (WhorlgateDeleteFinger(&user, static_cast<int16_t>(number)) != WG_OK) return Fail("not deleted");
  printf("deleted finger %ld of %s\n", number, user.szUserID);
  return kSuccess;
}

int DeleteAll(const Arguments& args) {
  if (!args.positional.empty()) return Usage(stderr);
  if (WhorlgateDeleteAllEnrolledUsers() != WG_OK) return Fail("not deleted");
  printf("deleted every user\n");
  return kSuccess;
}

std::string SettingValue(const SettingEntry& entry) {
  if (entry.ucKind == kSettingByteString) {
    char text[8] = {};
    if (!GetSetting(entry.szName, true, text)) return "";
    text[entry.ucSize < sizeof text ? entry.ucSize : sizeof text - 1] = '\0';
    return std::string("\"") + text + "\"";
  }
  uint32_t value = 0;
  if (!GetSetting(entry.szName, true, &value)) return "";
  return std::to_string(value);
}

int Settings(const Arguments& args) {
  const std::vector<std::string>& p = args.positional;
  if (p.size() == 1 && p[0] == "list") {
    for (const SettingEntry* entry = AllSettings(); entry->ucKind != kSettingEnd; ++entry) {
      std::string value = SettingValue(*entry);
      if (value.empty()) return Fail(std::string("cannot read ") + entry->szName);
      printf("%s = %s\n", entry->szName, value.c_str());
    }
    return kSuccess;
  }
  if (p.size() < 2) return Usage(stderr);
  const SettingEntry* entry = FindSetting(p[1].c_str());
  if (!entry) return Refuse("no setting is named \"" + p[1] + "\" (see: wgcli settings list)");
  if (p[0] == "get" && p.size() == 2) {
    std::string value = SettingValue(*entry);
    if (value.empty()) return Fail("cannot read " + p[1]);
    printf("%s = %s\n", entry->szName, value.c_str());
    return kSuccess;
  }
  if (p[0] != "set" || p.size() != 3) return Usage(stderr);
  bool set = false;
  if (entry->ucKind == kSettingByteString) {
    char text[8] = {};
    if (p[2].size() >= entry->ucSize) {
      return Refuse(p[1] + " holds at most " + std::to_string(entry->ucSize - 1) + " characters");
    }
    memcpy(text, p[2].data(), p[2].size());
    set = SetSetting(entry->szName, true, text);
  } else {
    long number = 0;
    long largest = entry->ucSize == 1 ? 0xFF : entry->ucSize == 2 ? 0xFFFF : 0xFFFFFFFFL;
    if (!ParseNumber(p[2], 0, largest, &number)) {
      return Refuse(p[1] + " takes a number from 0 to " + std::to_string(largest));
    }
    uint8_t small8 = static_cast<uint8_t>(number);
    uint16_t small16 = static_cast<uint16_t>(number);
    uint32_t value32 = static_cast<uint32_t>(number);
    const void* value = entry->ucSize == 1 ? static_cast<const void*>(&small8)
                        : entry->ucSize == 2 ? static_cast<const void*>(&small16)
                                             : static_cast<const void*>(&value32);
    set = SetSetting(entry->szName, true, value);
  }
  if (!set) return Fail("not set");
  printf("%s = %s\n", entry->szName, SettingValue(*entry).c_str());
  return kSuccess;
}

int Trace(const Arguments& args) {
  long where = 0, type = 0;
  if (!args.positional.empty() ||
      !ParseNumber(args.option("--where", "0xFFFFFFFF"), 0, 0xFFFFFFFFL, &where) ||
      !ParseNumber(args.option("--type", "0xFFFFFFFF"), 0, 0xFFFFFFFFL, &type)) {
    return Usage(stderr);
  }
  const TraceFilters filters = {static_cast<uint32_t>(where), static_cast<uint32_t>(type)};
  g_pTraceControl = TraceInit(nullptr);
  if (!g_pTraceControl) return Refuse("cannot open the trace pipe");
  TraceRecord record;
  while (!g_interrupted) {
    if (!TraceTakeRecord(&record, sizeof record)) {
      platform::SleepMs(20);
      continue;
    }
    if (!PassesFilters(record, filters)) continue;
    printf("%s\n", FormatTraceLine(record).c_str());
    fflush(stdout);
  }
  TraceShutdown();
  return kSuccess;
}

int Version(const Arguments& args) {
  if (!args.positional.empty()) return Usage(stderr);
  char own[kModuleVersionTextLength];
  GetModuleVersionText(nullptr, own);
  char text1[WG_USER_ID_LENGTH] = {}, text2[96] = {}, library[260] = {};
  WGResult result = WhorlgateGetVersion(text1, text2, library);
  printf("wgcli %s\nlibrary %s\n", own, library);
  if (result != WG_OK) return Fail("the server gave no version");
  printf("server %s\n%s\n", text1, text2);
  return kSuccess;
}

struct Command {
  const char* name;
  std::initializer_list<const char*> options;
  int (*run)(const Arguments&);
};

const Command kCommands[] = {
    {"enroll", {"--finger", "--name", "--save"}, Enroll},
    {"validate", {}, Validate},
    {"identify", {}, Identify},
    {"verify", {}, Verify},
    {"match-local", {}, MatchLocal},
    {"capture", {"--dpi"}, Capture},
    {"stream", {"--seconds"}, Stream},
    {"list", {}, List},
    {"info", {}, Info},
    {"rename", {}, Rename},
    {"delete", {"--finger"}, Delete},
    {"delete-all", {}, DeleteAll},
    {"settings", {}, Settings},
    {"trace", {"--where", "--type"}, Trace},
    {"version", {}, Version},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(stderr);
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") return Usage(stdout);
  signal(SIGINT, OnSignal);
  signal(SIGTERM, OnSignal);
  for (const Command& command : kCommands) {
    if (name != command.name) continue;
    Arguments args(argc - 2, argv + 2, command.options);
    if (args.bad) return kError;
    return command.run(args);
  }
  fprintf(stderr, "wgcli: no command \"%s\" (see: wgcli --help)\n", name.c_str());
  return kError;
}
