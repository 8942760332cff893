// An application of the installed kind for the capture tests: linked against libwgrpc.so, it
// runs one capture after another against WGServer and reports on standard output.
//
//   wg_capture_client [--patience MS] COMMAND...
//   enroll USER FINGER [FILE]   WGBeginEnroll ... WGEndEnroll, polled; the template to FILE
//   enroll-callback USER FINGER the same with a callback
//   validate USER               WGBeginValidateID ... WGEndValidateIDEx
//   identify                    WGBeginIdentify ... WGEndIdentifyEx
//   verify FILE...              WGBeginVerify ... WGEndVerifyEx with the records in the files
//   small FILE OUT              WGConvertNormalReferenceTemplateToSmall of FILE into OUT
//   acquire                     WGBeginAcquireImage ... WGEndAcquireImage
//   basic-enroll USER FINGER [FILE]  WhorlgateEnroll (size call first)
//   basic-validate USER         WhorlgateValidateID
//   basic-identify              WhorlgateIdentify
//   basic-verify FILE           WhorlgateValidateFingers
//   begin-enroll USER FINGER    WGBeginEnroll and nothing more: "begun ID"
//   abort-on-prompt USER FINGER WGBeginEnroll, WGAbortTransaction at the first prompt
//   stream MS                   a context, an open stream, images and state for MS ms
//   details                     WhorlgateGetResultDetails
//   hold                        waits until standard input closes
//
// Every transaction prints "events" (each non-image event as TYPE:SUBCODE, images counted)
// and "end RESULT ...". A time-out prints "timeout"; a transaction whose server sends nothing
// (not even an image) for the patience (60 s) is aborted and prints "stalled".
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "whorlgate.h"

namespace {

struct Events {
  std::string seen;
  int images = 0;
  bool complete = false;
  bool timedOut = false;
};

void Note(Events& events, const WGEventMessage* message) {
  uint16_t type = message->uiMessageType;
  if (type == WG_MSG_IDLE) return;
  if (type == WG_MSG_IMAGE) {
    ++events.images;
    return;
  }
  events.seen += " " + std::to_string(type) + ":" + std::to_string(message->iSubCode);
  if (type == WG_MSG_TIMEOUT) events.timedOut = true;
  if (type >= WG_MSG_ACQUIRE_COMPLETE && type <= WG_MSG_TRANSACTION_COMPLETE_LAST) {
    events.complete = true;
  }
}

int g_patienceMs = 60000;

// Polls until the transaction completes or times out; false when it did not complete.
bool Poll(uint32_t id, Events& events) {
  auto patience = std::chrono::milliseconds(g_patienceMs);
  auto deadline = std::chrono::steady_clock::now() + patience;
  while (!events.complete && !events.timedOut) {
    if (std::chrono::steady_clock::now() > deadline) {
      WGAbortTransaction(id);
      printf("events images=%d%s\nstalled\n", events.images, events.seen.c_str());
      return false;
    }
    WGEventMessage* message = WGContinueTransaction(id);
    if (!message) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    if (message->uiMessageType != WG_MSG_IDLE) deadline = std::chrono::steady_clock::now() + patience;
    Note(events, message);
    WGReleaseMessage(message);
  }
  printf("events images=%d%s\n", events.images, events.seen.c_str());
  if (events.timedOut) printf("timeout\n");
  return !events.timedOut;
}

std::mutex g_callbackLock;
Events g_callbackEvents;
std::atomic<bool> g_callbackDone{false};

void Callback(uint32_t, WGEventMessage* message) {
  {
    std::lock_guard guard(g_callbackLock);
    Note(g_callbackEvents, message);
    if (g_callbackEvents.complete || g_callbackEvents.timedOut) g_callbackDone = true;
  }
  WGReleaseMessage(message);
}

WGUserRecord User(const char* id) {
  WGUserRecord user = {WG_USER_RECORD_SIZE, "", ""};
  strncpy(user.szUserID, id, sizeof user.szUserID - 1);
  snprintf(user.szDisplayName, sizeof user.szDisplayName, "Display %s", id);
  return user;
}

std::vector<uint8_t> Load(const char* path) {
  std::ifstream file(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void Save(const char* path, const uint8_t* bytes, size_t size) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes),
                                              static_cast<std::streamsize>(size));
}

uint16_t DetailsScore(const WGServerMatchDetails& details) {
  return static_cast<uint16_t>(details.aucDetails[0] | details.aucDetails[1] << 8);
}

void Enroll(const char* id, int16_t finger, const char* file, bool callback) {
  WGUserRecord user = User(id);
  int16_t size = 0;
  uint32_t transaction = WGBeginEnroll(callback ? Callback : nullptr, 0, nullptr, &user, finger, &size);
  printf("begun %u size %d\n", transaction, size);
  if (!transaction) return;
  if (callback) {
    while (!g_callbackDone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::lock_guard guard(g_callbackLock);
    printf("events images=%d%s\n", g_callbackEvents.images, g_callbackEvents.seen.c_str());
    if (g_callbackEvents.timedOut) {
      printf("timeout\n");
      return;
    }
    g_callbackEvents = {};
    g_callbackDone = false;
  } else {
    Events events;
    if (!Poll(transaction, events)) return;
  }
  std::vector<uint8_t> record(static_cast<size_t>(size));
  int16_t got = 0;
  WGUserRecord enrolled = {};
  WGResult result = WGEndEnroll(transaction, record.data(), &got, &enrolled);
  printf("end %d size %d user %s\n", result, got, enrolled.szUserID);
  if (file && got > 0) Save(file, record.data(), static_cast<size_t>(got));
}

}  // namespace

int main(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  int first = 1;
  if (argc > 2 && !strcmp(argv[1], "--patience")) {
    g_patienceMs = atoi(argv[2]);
    first = 3;
  }
  for (int i = first; i < argc; ++i) {
    std::string command = argv[i];
    auto more = [&](int n) { return i + n < argc; };
    if ((command == "enroll" || command == "enroll-callback") && more(2)) {
      const char* id = argv[++i];
      int16_t finger = static_cast<int16_t>(atoi(argv[++i]));
      const char* file = command == "enroll" && more(1) && argv[i + 1][0] == '/' ? argv[++i] : nullptr;
      Enroll(id, finger, file, command == "enroll-callback");
    } else if (command == "validate" && more(1)) {
      WGUserRecord user = User(argv[++i]);
      uint32_t transaction = WGBeginValidateID(nullptr, 0, &user, nullptr);
      printf("begun %u\n", transaction);
      Events events;
      if (transaction && Poll(transaction, events)) {
        WGServerMatchDetails details = {};
        WGResult result = WGEndValidateIDEx(transaction, &details, nullptr);
        printf("end %d score %u\n", result, DetailsScore(details));
      }
    } else if (command == "identify") {
      uint32_t transaction = WGBeginIdentify(nullptr, 0, nullptr);
      printf("begun %u\n", transaction);
      Events events;
      if (transaction && Poll(transaction, events)) {
        WGUserRecord user = {WG_USER_RECORD_SIZE, "-", "-"};
        WGServerMatchDetails details = {};
        WGResult result = WGEndIdentifyEx(transaction, &user, &details, nullptr);
        printf("end %d user %s name %s score %u\n", result, user.szUserID, user.szDisplayName,
               DetailsScore(details));
      }
    } else if (command == "verify" && more(1)) {
      std::vector<std::vector<uint8_t>> records;
      std::vector<const uint8_t*> pointers;
      while (more(1) && argv[i + 1][0] == '/') records.push_back(Load(argv[++i]));
      for (const auto& record : records) pointers.push_back(record.data());
      uint32_t transaction = WGBeginVerify(nullptr, 0, pointers.data(),
                                           static_cast<int16_t>(pointers.size()), nullptr);
      printf("begun %u\n", transaction);
      Events events;
      if (transaction && Poll(transaction, events)) {
        int16_t value = -1;
        WGResult result = WGEndVerify(transaction, &value);
        printf("end %d value %d\n", result, value);
      }
    } else if (command == "small" && more(2)) {
      std::vector<uint8_t> record = Load(argv[++i]);
      std::vector<uint8_t> small(WGGetSmallReferenceTemplateSize());
      WGResult result = WGConvertNormalReferenceTemplateToSmall(small.data(), record.data());
      Save(argv[++i], small.data(), small.size());
      printf("small %d\n", result);
    } else if (command == "acquire") {
      uint32_t transaction = WGBeginAcquireImage(nullptr, 0, 0, nullptr);
      printf("begun %u\n", transaction);
      Events events;
      if (transaction && Poll(transaction, events)) {
        std::vector<uint8_t> image(WG_IMAGE_BUFFER_SIZE);
        WGResult result = WGEndAcquireImage(transaction, image.data());
        int dark = 0;
        for (int p = 0; p < WG_RAW_IMAGE_SIZE; ++p) dark += image[static_cast<size_t>(p)] < 128;
        printf("end %d dark %d\n", result, dark);
      }
    } else if (command == "basic-enroll" && more(2)) {
      WGUserRecord user = User(argv[++i]);
      int16_t finger = static_cast<int16_t>(atoi(argv[++i]));
      int16_t size = 0;
      WhorlgateEnroll(nullptr, 0, nullptr, 0, &size, nullptr);
      std::vector<uint8_t> record(static_cast<size_t>(size));
      int16_t got = 0;
      WGResult result = WhorlgateEnroll(&user, finger, record.data(), size, &got, nullptr);
      printf("enroll %d size %d\n", result, got);
      if (more(1) && argv[i + 1][0] == '/') {
        const char* file = argv[++i];
        if (got > 0) Save(file, record.data(), static_cast<size_t>(got));
      }
    } else if (command == "basic-validate" && more(1)) {
      WGUserRecord user = User(argv[++i]);
      printf("validate %d\n", WhorlgateValidateID(&user, nullptr));
    } else if (command == "basic-identify") {
      WGUserRecord user = {WG_USER_RECORD_SIZE, "", ""};
      WGResult result = WhorlgateIdentify(&user, nullptr);
      printf("identify %d user %s\n", result, user.szUserID);
    } else if (command == "basic-verify" && more(1)) {
      std::vector<uint8_t> record = Load(argv[++i]);
      printf("verify %d\n", WhorlgateValidateFingers(record.data(), nullptr));
    } else if (command == "begin-enroll" && more(2)) {
      WGUserRecord user = User(argv[++i]);
      int16_t finger = static_cast<int16_t>(atoi(argv[++i]));
      printf("begun %u\n", WGBeginEnroll(nullptr, 0, nullptr, &user, finger, nullptr));
    } else if (command == "abort-on-prompt" && more(2)) {
      WGUserRecord user = User(argv[++i]);
      int16_t finger = static_cast<int16_t>(atoi(argv[++i]));
      uint32_t transaction = WGBeginEnroll(nullptr, 0, nullptr, &user, finger, nullptr);
      for (bool prompted = false; transaction && !prompted;) {
        WGEventMessage* message = WGContinueTransaction(transaction);
        if (!message) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
          continue;
        }
        prompted = message->uiMessageType == WG_MSG_PROMPT;
        WGReleaseMessage(message);
      }
      WGAbortTransaction(transaction);
      printf("aborted %u\n", transaction);
    } else if (command == "stream" && more(1)) {
      int ms = atoi(argv[++i]);
      WGContextHandle context = WhorlgateInit(nullptr);
      WGResult opened = WhorlgateOpenStream(context, 0);
      int images = 0, present = 0, stable = 0;
      auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
      while (std::chrono::steady_clock::now() < until) {
        if (uint8_t* image = WhorlgateGetCurrentImage(context, WG_STREAM_FORMAT_RAW, 0)) {
          ++images;
          WhorlgateReleaseImage(context, image);
        }
        WGImageState state = {4, 0};
        if (WhorlgateGetImageState(context, &state) == WG_OK) {
          if (state.iState & 0x4000) ++present;
          if ((state.iState & 0x1F) > 0) ++stable;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      WGResult closed = WhorlgateCloseStream(context);
      WhorlgateClose(context);
      printf("stream open %d close %d images %d present %d stable %d\n", opened, closed, images,
             present, stable);
    } else if (command == "details") {
      char text[WG_RESULT_DETAILS_TEXT_SIZE] = {};
      uint32_t flags = 0;
      WGResult result = WhorlgateGetResultDetails(text, &flags);
      printf("details %d %s\n", result, text);
    } else if (command == "hold") {
      char c;
      while (read(0, &c, 1) > 0) {
      }
    } else {
      fprintf(stderr, "wg_capture_client: cannot do %s\n", command.c_str());
      return 2;
    }
  }
  return 0;
}
