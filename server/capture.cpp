#include "server/capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "api/basic_messages.h"
#include "connect/api_messages.h"
#include "local/image_ops.h"
#include "local/matcher_adapter.h"
#include "local/template_record.h"
#include "platform/time.h"
#include "server/user_requests.h"
#include "shared/little_endian.h"
#include "shared/pipe.h"
#include "shared/trace.h"
#include "whorlgate/wg_transaction.h"

namespace {

// Status and prompt codes, as the demos word them.
enum StatusCode : int16_t {
  kStatusFingerDetected = 0,
  kStatusFingerRemoved = 1,
  kStatusStartingEnroll = 2,
  kStatusImageGood = 3,
  kStatusNoCore = 4,
  kStatusNoPrint = 5,
  kStatusThankYou = 6,
  kStatusAlreadyEnrolled = 8,
  kStatusAnalyzing = 11,
  kStatusBeginningCapture = 17,
  kStatusVerifyingTemplate = 18,
  kStatusIdentifying = 19,
  kStatusVerifyingUser = 20,
  kStatusEnrollFailed = 25,
};
enum PromptCode : int16_t {
  kPromptLiftAndReplace = 0,
  kPromptLiftAndMove = 1,
  kPromptPlace = 2,
  kPromptLiftAndCenter = 3,
};
// End-of-view sub-codes: the next view wants the finger centred (off-centre view), put back
// (a good view), or centred with more of it on the sensor (a partial contact); all done.
enum EndOfView : int16_t {
  kViewCenter = 0,
  kViewReplace = 1,
  kViewFuller = 2,
  kViewsDone = 3,
};

// The completion event of each kind of transaction.
constexpr uint16_t kEnrollComplete = WG_MSG_TRANSACTION_COMPLETE;
constexpr uint16_t kValidateIdComplete = WG_MSG_TRANSACTION_COMPLETE + 1;
constexpr uint16_t kIdentifyComplete = WG_MSG_TRANSACTION_COMPLETE + 2;
constexpr uint16_t kVerifyComplete = WG_MSG_TRANSACTION_COMPLETE + 3;
static_assert(kVerifyComplete == WG_MSG_TRANSACTION_COMPLETE_LAST);

// A view whose print lies this far (pixels) from the window's centre asks to be centred; one
// that covers less than this share of the window asks for more of the finger.
constexpr float kOffCentre = 14.0f;
constexpr float kPartialCover = 0.6f;
// A view that fails its checks is taken again at most this many times before the enrollment
// gives up.
constexpr int kViewAttempts = 3;
// The sensor goes on taking frames this long after the image state was last asked for, so a
// client that only watches the state sees it move.
constexpr uint32_t kStateInterestMs = 3000;
// With an open stream and no capture, the simulated user puts the finger down and takes it away
// again, so that a viewer sees both states.
constexpr uint32_t kStreamDownMs = 3000;
constexpr uint32_t kStreamUpMs = 2000;
// A one-to-many search shares the gallery among the threads in blocks of this many fingers;
// each block ends with a look at the stop flag.
constexpr size_t kMatchBlock = 32;

constexpr Outcome kEnrolled = {WG_OK, 0, "The finger is enrolled."};
// The basic enrollment call answers WG_NO_MATCH for a finger that matches none enrolled and has
// been added: applications of that call take this as their success.
constexpr Outcome kEnrolledBasic = {WG_NO_MATCH, 0,
                                    "The finger matches no enrolled finger and is enrolled."};
constexpr Outcome kTemplateBuilt = {WG_OK, 0, "The template is built; nothing was stored."};
constexpr Outcome kBadViews = {WG_BAD_IMAGE, kDetailRefused,
                               "The sensor gave no usable view of the finger."};
constexpr Outcome kDuplicate = {WG_USER_ALREADY_ENROLLED, kDetailRefused,
                                "This finger is enrolled already."};
constexpr Outcome kMatched = {WG_MATCH, 0, "The finger matches."};
constexpr Outcome kNotMatched = {WG_NO_MATCH, 0, "The finger does not match."};
constexpr Outcome kAcquired = {WG_OK, 0, "The image is acquired."};
constexpr Outcome kTimedOut = {WG_NO_IMAGE, kDetailRefused,
                               "No finger was placed on the sensor in time."};
constexpr Outcome kNoMemory = {WG_OUT_OF_MEMORY, kDetailServerFault,
                               "The server ran out of memory."};

struct Best {
  float score = 0;
  size_t index = SIZE_MAX;
  size_t comparisons = 0;
};

// The probe's matcher bitmap, freed with the object.
class Probe {
 public:
  explicit Probe(const Frame& frame) : bitmap_(MatcherBitmapOf(frame.pixels.data())) {}
  ~Probe() { FreeOSBitmap(bitmap_); }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;
  explicit operator bool() const { return bitmap_ != nullptr; }
  const uint8_t* pixels() const { return MatcherPixelsOf(bitmap_); }

 private:
  uint8_t* bitmap_;
};

// Compares the probe with every template on all cores; the best score and where it was.
Best BestOf(const Probe& probe, const std::vector<const std::vector<uint8_t>*>& templates,
            const std::atomic<bool>& stop) {
  std::atomic<size_t> next{0};
  std::mutex bestLock;
  Best best;
  auto search = [&] {
    Best mine;
    for (size_t start; (start = next.fetch_add(kMatchBlock)) < templates.size() && !stop;) {
      size_t end = std::min(start + kMatchBlock, templates.size());
      for (size_t i = start; i < end; ++i) {
        if (templates[i]->empty()) continue;
        float score = CompareImageWithBiiTemplate(templates[i]->data(), probe.pixels()).fS;
        ++mine.comparisons;
        if (mine.index == SIZE_MAX || score > mine.score) mine = {score, i, mine.comparisons};
      }
    }
    std::lock_guard guard(bestLock);
    best.comparisons += mine.comparisons;
    if (mine.index != SIZE_MAX && (best.index == SIZE_MAX || mine.score > best.score ||
                                   (mine.score == best.score && mine.index < best.index))) {
      best.score = mine.score;
      best.index = mine.index;
    }
  };
  unsigned helpers = std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()) - 1,
                                      templates.size() / kMatchBlock);
  std::vector<std::thread> threads;
  for (unsigned i = 0; i < helpers; ++i) threads.emplace_back(search);
  search();
  for (std::thread& thread : threads) thread.join();
  return best;
}

MatchDetails DetailsOf(const Best& best, int16_t finger) {
  MatchDetails details{};
  float score = best.index == SIZE_MAX ? 0.0f : best.score;
  StoreU16(details.data() + kMatchDetailsScore,
           static_cast<uint16_t>(std::lround(std::clamp(score, 0.0f, 65.0f) * 1000)));
  StoreI16(details.data() + kMatchDetailsFinger, best.index == SIZE_MAX ? -1 : finger);
  StoreU16(details.data() + kMatchDetailsConfidence, WGScoreToConfidence(score).uiRising);
  StoreU16(details.data() + kMatchDetailsComparisons,
           static_cast<uint16_t>(std::min<size_t>(best.comparisons, UINT16_MAX)));
  return details;
}

// Where the print lies in a view: the share of 16 x 16 blocks with ridges in them, and their
// centre.
struct Placement {
  float cover;
  float offCentre;
};

Placement PlacementOf(const Frame& frame) {
  constexpr int kBlock = 16;
  constexpr int kBlocks = wg_fingers::kImageSide / kBlock;
  constexpr float kRidgeSpread = 12.0f;  // grey levels of standard deviation
  int printed = 0;
  float sumX = 0, sumY = 0;
  for (int by = 0; by < kBlocks; ++by) {
    for (int bx = 0; bx < kBlocks; ++bx) {
      float sum = 0, squares = 0;
      for (int y = by * kBlock; y < (by + 1) * kBlock; ++y) {
        for (int x = bx * kBlock; x < (bx + 1) * kBlock; ++x) {
          float v = frame.pixels[y * wg_fingers::kImageSide + x];
          sum += v;
          squares += v * v;
        }
      }
      float mean = sum / (kBlock * kBlock);
      if (squares / (kBlock * kBlock) - mean * mean > kRidgeSpread * kRidgeSpread) {
        ++printed;
        sumX += (bx + 0.5f) * kBlock;
        sumY += (by + 0.5f) * kBlock;
      }
    }
  }
  if (printed == 0) return {0, 0};
  float centre = wg_fingers::kImageSide / 2.0f;
  return {static_cast<float>(printed) / (kBlocks * kBlocks),
          std::hypot(sumX / printed - centre, sumY / printed - centre)};
}

void TraceSensor(uint32_t type, const char* text, int32_t value) {
  TraceValue(TRACE_WHERE_SENSOR, type, text, value);
}

// One capture on the worker thread: its events go straight into the client's pipe.
class Capture {
 public:
  Capture(const CaptureOrder& order, const std::atomic<bool>& stop, SimulatedSensor& sensor,
          UserStore& store, std::string source)
      : order_(order), stop_(stop), sensor_(sensor), store_(store), source_(std::move(source)) {}
  ~Capture() { WGCloseMessagePipe(&pipe_); }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Runs the capture to its end; true when it came to a result (in *result) rather than being
  // stopped, timed out or abandoned by its client. A blocking call has had its answer then.
  bool run(CaptureResult* result);
  // Tells a transaction's client that its result can be collected.
  void announce() { event(completion_); }

 private:
  enum class Taken : uint8_t { kView, kTimedOut, kStopped };

  bool blocking() const { return !order_.blockingRequest.empty(); }
  bool stopped() const { return stop_ || gone_; }
  void event(uint16_t type, int16_t subCode = 0, const void* data = nullptr, uint16_t length = 0);
  void status(int16_t code) { event(WG_MSG_STATUS, code); }
  void prompt(int16_t code) { event(WG_MSG_PROMPT, code); }
  void text(uint16_t type, int16_t subCode, const char* text) {
    event(type, subCode, text, static_cast<uint16_t>(strlen(text) + 1));
  }
  void image(const Frame& frame);
  Taken takeView(uint8_t stableFrames, Frame* view);
  void awaitLift();
  // The end of a capture that came to a result: a blocking call is answered, a transaction's
  // client is told how it went (and, by announce, that it may collect it).
  void finish(const Outcome& outcome, uint16_t completion, CaptureResult* result);

  bool enroll(CaptureResult* result);
  bool validateId(CaptureResult* result);
  bool identify(CaptureResult* result);
  bool verify(CaptureResult* result);
  bool acquire(CaptureResult* result);
  using Templates = std::vector<const std::vector<uint8_t>*>;
  enum class Searched : uint8_t { kBest, kFinished, kStopped };
  // Takes the probe (prompt, view, the status of the search) and compares it with every
  // template: kBest with the best comparison in *best; kFinished when the capture already came
  // to its result (no memory for the probe); kStopped when it was stopped or timed out.
  Searched search(int16_t searchStatus, uint16_t completion, const Templates& templates,
                  CaptureResult* result, Best* best);
  bool matched(const Best& best) const;
  void answerBlocking(const Outcome& outcome, const CaptureResult& result);

  const CaptureOrder& order_;
  const std::atomic<bool>& stop_;
  SimulatedSensor& sensor_;
  UserStore& store_;
  std::string source_;  // what the simulated user presented, kept with an enrollment
  PipeCntl pipe_{};
  uint16_t completion_ = 0;
  bool gone_ = false;
  bool timedOut_ = false;
  bool imageShown_ = false;
};

void Capture::event(uint16_t type, int16_t subCode, const void* data, uint16_t length) {
  if (blocking() || gone_) return;
  std::vector<uint8_t> message(kEventMsgData + length);
  StoreU32(message.data() + kApiMsgSize, static_cast<uint32_t>(message.size()));
  StoreU32(message.data() + kApiMsgProcessId, order_.processId);
  StoreU16(message.data() + kApiMsgType, WG_API_EVENT);
  StoreU16(message.data() + kEventMsgEventType, type);
  StoreI16(message.data() + kEventMsgSubCode, subCode);
  StoreU16(message.data() + kEventMsgDataLength, length);
  if (length) memcpy(message.data() + kEventMsgData, data, length);
  if (WGSendPipeMessage(&pipe_, message.data(), static_cast<uint32_t>(message.size())) != 0) {
    // A client that takes no events has gone or hung: the sensor is not kept for it.
    gone_ = true;
    TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING,
               "Client does not take its events, capture stopped: client",
               static_cast<int32_t>(order_.processId));
  }
}

void Capture::image(const Frame& frame) {
  // A client that has not yet taken the last message misses this picture rather than holding
  // up the sensor: pictures come again with the next frame, the other events do not.
  if (blocking() || platform::IsEventSet(pipe_.hMsgRdy)) return;
  uint8_t buffer[WG_IMAGE_BUFFER_SIZE];
  frame.toImageBuffer(buffer);
  event(WG_MSG_IMAGE, 0, buffer, sizeof buffer);
  imageShown_ = true;
}

Capture::Taken Capture::takeView(uint8_t stableFrames, Frame* view) {
  uint32_t start = platform::GetTickCount();
  uint32_t timeout = sensor_.pace().timeoutMs;
  sensor_.askToPlace();
  bool seen = sensor_.fingerDown();
  while (!stopped()) {
    Frame frame = sensor_.capture();
    if (frame.fingerPresent) {
      if (!seen) status(kStatusFingerDetected);
      seen = true;
      image(frame);
      if (frame.stability >= stableFrames) {
        *view = frame;
        return Taken::kView;
      }
    } else if (seen) {
      seen = false;
      status(kStatusFingerRemoved);
    }
    if (platform::TickBudgetSpent(start, timeout)) {
      TraceSensor(TRACE_TYPE_WARNING, "No finger within the time-out (ms):",
                  static_cast<int32_t>(timeout));
      event(WG_MSG_TIMEOUT);
      timedOut_ = true;
      return Taken::kTimedOut;
    }
  }
  return Taken::kStopped;
}

void Capture::awaitLift() {
  sensor_.askToLift();
  while (!stopped() && sensor_.capture().fingerPresent) {
  }
  if (imageShown_) event(WG_MSG_CLEAR_IMAGE);
  imageShown_ = false;
}

void Capture::finish(const Outcome& outcome, uint16_t completion, CaptureResult* result) {
  result->result = outcome.result;
  result->flags = outcome.flags;
  result->text = outcome.text;
  if (blocking()) {
    answerBlocking(outcome, *result);
    return;
  }
  order_.details->record(outcome.result, outcome.flags, outcome.text);
  event(WG_MSG_CLEAR_PROMPT);
  status(order_.kind == CaptureKind::kEnroll && outcome.result != WG_OK ? kStatusEnrollFailed
                                                                        : kStatusThankYou);
  completion_ = completion;
}

bool Capture::run(CaptureResult* result) {
  result->kind = order_.kind;
  {
    if (WGOpenOutputMessagePipe(&pipe_, static_cast<int32_t>(order_.processId)) != 0) {
      TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING,
                 "Capture dropped, the client's pipe does not open: client",
                 static_cast<int32_t>(order_.processId));
      return false;
    }
  }
  bool done = false;
  switch (order_.kind) {
    case CaptureKind::kEnroll:
      done = enroll(result);
      break;
    case CaptureKind::kValidateId:
      done = validateId(result);
      break;
    case CaptureKind::kIdentify:
      done = identify(result);
      break;
    case CaptureKind::kVerify:
      done = verify(result);
      break;
    case CaptureKind::kAcquire:
      done = acquire(result);
      break;
  }
  if (timedOut_ && blocking()) answerBlocking(kTimedOut, *result);
  return done && !stopped();
}

bool Capture::enroll(CaptureResult* result) {
  const CaptureSettings& settings = order_.settings;
  status(kStatusStartingEnroll);
  prompt(kPromptPlace);
  std::vector<uint8_t> first(WG_REFERENCE_TEMPLATE_SIZE);
  std::vector<uint8_t> best(WG_REFERENCE_TEMPLATE_SIZE);
  Frame bestView;
  float bestQuality = -1;
  for (int view = 1; view <= settings.views; ++view) {
    bool taken = false;
    for (int attempt = 1; attempt <= kViewAttempts && !taken; ++attempt) {
      Frame frame;
      if (takeView(settings.stableEnroll, &frame) != Taken::kView) return false;
      status(kStatusAnalyzing);
      std::vector<uint8_t> record(WG_REFERENCE_TEMPLATE_SIZE);
      uint8_t buffer[WG_IMAGE_BUFFER_SIZE];
      frame.toImageBuffer(buffer);
      BuildFigures figures{};
      if (WGSBuildReferenceTemplate(buffer, record.data(), &figures) != WG_OK) {
        finish(kNoMemory, kEnrollComplete, result);
        return true;
      }
      bool clear = figures.fFirst * 100 >= settings.minimumClarity;
      bool agrees = true;
      if (clear && view > 1) {
        Probe probe(frame);
        agrees = probe && CompareImageWithBiiTemplate(first.data() + kRecMatcherTemplate,
                                                      probe.pixels())
                                  .fS * 100 >= settings.minimumAgreement;
      }
      if (!clear || !agrees) {
        TraceSensor(TRACE_TYPE_INFO, clear ? "Enrollment view disagrees with the first, view"
                                           : "Enrollment view is not clear enough, view",
                    view);
        status(clear ? kStatusNoCore : kStatusNoPrint);
        prompt(clear ? kPromptLiftAndMove : kPromptLiftAndReplace);
        awaitLift();
        continue;
      }
      taken = true;
      if (view == 1) first = record;
      float quality = figures.fFirst * figures.fSecond;
      if (quality > bestQuality) {
        bestQuality = quality;
        best = record;
        bestView = frame;
      }
      status(kStatusImageGood);
      if (view == settings.views) {
        event(WG_API_END_OF_VIEW, kViewsDone);
        break;
      }
      Placement placement = PlacementOf(frame);
      int16_t next = placement.cover < kPartialCover     ? kViewFuller
                     : placement.offCentre > kOffCentre ? kViewCenter
                                                         : kViewReplace;
      char line[64];
      snprintf(line, sizeof line, "View %d of %d taken", view, settings.views);
      text(WG_API_END_OF_VIEW, next, line);
      awaitLift();
    }
    if (stopped()) return false;
    if (!taken) {
      finish(kBadViews, kEnrollComplete, result);
      return true;
    }
  }
  awaitLift();
  if (stopped()) return false;

  // A finger enrolled already, under any user, is not enrolled twice.
  std::shared_ptr<const Gallery> gallery = store_.gallery();
  std::vector<const std::vector<uint8_t>*> templates;
  for (const auto& finger : *gallery) templates.push_back(&finger->matcherTemplate);
  Probe probe(bestView);
  if (!probe) {
    finish(kNoMemory, kEnrollComplete, result);
    return true;
  }
  Best duplicate = BestOf(probe, templates, stop_);
  if (stopped()) return false;
  if (duplicate.index != SIZE_MAX && ScoreExceedsMinimum(duplicate.score, settings.minimumScore)) {
    const EnrolledFinger& taken = *(*gallery)[duplicate.index];
    TraceSensor(TRACE_TYPE_INFO, "Finger enrolled already, as the finger numbered", taken.finger);
    status(kStatusAlreadyEnrolled);
    finish(kDuplicate, kEnrollComplete, result);
    return true;
  }

  WGEncryptIOTemplateRecForExport(best.data());
  Outcome outcome = blocking() ? kEnrolledBasic : kEnrolled;
  if (order_.hasUser) {
    StoreOutcome stored = store_.addFinger(order_.userId, order_.displayName, order_.finger,
                                           best.data(), WG_REFERENCE_TEMPLATE_SIZE, source_);
    if (stored != StoreOutcome::kDone) outcome = StoreResult(stored);
  } else {
    outcome = kTemplateBuilt;
  }
  if (outcome.result == WG_OK || outcome.result == kEnrolledBasic.result) {
    result->record = std::move(best);
    result->user = {order_.userId, order_.displayName};
    text(WG_MSG_PLAY_SOUND, 0, "enroll.wav");
  }
  finish(outcome, kEnrollComplete, result);
  return true;
}

Capture::Searched Capture::search(int16_t searchStatus, uint16_t completion,
                                  const Templates& templates, CaptureResult* result, Best* best) {
  prompt(kPromptPlace);
  Frame frame;
  if (takeView(order_.settings.stableMatch, &frame) != Taken::kView) return Searched::kStopped;
  status(searchStatus);
  Probe probe(frame);
  if (!probe) {
    finish(kNoMemory, completion, result);
    return Searched::kFinished;
  }
  uint32_t start = platform::GetTickCount();
  *best = BestOf(probe, templates, stop_);
  if (stopped()) return Searched::kStopped;
  char line[kTraceTextLength];
  snprintf(line, sizeof line, "Compared the finger with %zu templates in (ms):", best->comparisons);
  TraceValue(TRACE_WHERE_EXTRACT, TRACE_TYPE_INFO, line,
             static_cast<int32_t>(platform::GetTickCount() - start));
  return Searched::kBest;
}

bool Capture::matched(const Best& best) const {
  return best.index != SIZE_MAX && ScoreExceedsMinimum(best.score, order_.settings.minimumScore);
}

bool Capture::validateId(CaptureResult* result) {
  std::shared_ptr<const Gallery> gallery = store_.gallery();
  std::vector<const EnrolledFinger*> fingers;
  Templates templates;
  for (const auto& finger : *gallery) {
    if (finger->userId != order_.userId) continue;
    fingers.push_back(finger.get());
    templates.push_back(&finger->matcherTemplate);
  }
  Best best;
  Searched searched = search(kStatusVerifyingUser, kValidateIdComplete, templates, result, &best);
  if (searched != Searched::kBest) return searched == Searched::kFinished;
  result->matchDetails = DetailsOf(best, best.index == SIZE_MAX ? -1 : fingers[best.index]->finger);
  finish(matched(best) ? kMatched : kNotMatched, kValidateIdComplete, result);
  return true;
}

bool Capture::identify(CaptureResult* result) {
  std::shared_ptr<const Gallery> gallery = store_.gallery();
  Templates templates;
  templates.reserve(gallery->size());
  for (const auto& finger : *gallery) templates.push_back(&finger->matcherTemplate);
  Best best;
  Searched searched = search(kStatusIdentifying, kIdentifyComplete, templates, result, &best);
  if (searched != Searched::kBest) return searched == Searched::kFinished;
  const EnrolledFinger* finger = best.index == SIZE_MAX ? nullptr : (*gallery)[best.index].get();
  result->matchDetails = DetailsOf(best, finger ? finger->finger : -1);
  if (matched(best)) result->user = {finger->userId, store_.displayName(finger->userId).value_or("")};
  finish(matched(best) ? kMatched : kNotMatched, kIdentifyComplete, result);
  return true;
}

bool Capture::verify(CaptureResult* result) {
  Templates templates;
  for (const auto& reference : order_.references) templates.push_back(&reference);
  Best best;
  Searched searched = search(kStatusVerifyingTemplate, kVerifyComplete, templates, result, &best);
  if (searched != Searched::kBest) return searched == Searched::kFinished;
  result->matchDetails = DetailsOf(best, -1);
  result->matchValue = matched(best) ? static_cast<int16_t>(best.index + 1) : 0;
  finish(matched(best) ? kMatched : kNotMatched, kVerifyComplete, result);
  return true;
}

bool Capture::acquire(CaptureResult* result) {
  status(kStatusBeginningCapture);
  prompt(kPromptPlace);
  Frame frame;
  if (takeView(order_.settings.stableMatch, &frame) != Taken::kView) return false;
  result->imageBuffer.resize(WG_IMAGE_BUFFER_SIZE);
  frame.toImageBuffer(result->imageBuffer.data());
  finish(kAcquired, WG_MSG_ACQUIRE_COMPLETE, result);
  return true;
}

void Capture::answerBlocking(const Outcome& outcome, const CaptureResult& result) {
  const std::vector<uint8_t>& request = order_.blockingRequest;
  uint16_t type = LoadU16(request.data() + kApiMsgType);
  std::vector<uint8_t> reply;
  uint32_t resultAt = 0;
  switch (type) {
    case WG_API_ENROLL: {
      uint16_t size = static_cast<uint16_t>(result.record.size());
      reply.assign(request.begin(), request.begin() + kEnrollMsgTemplate);
      reply.insert(reply.end(), result.record.begin(), result.record.end());
      StoreI16(reply.data() + kEnrollMsgTemplateSize, static_cast<int16_t>(size));
      resultAt = kEnrollMsgResult;
      break;
    }
    case WG_API_VALIDATE_ID:
      reply.assign(request.begin(), request.begin() + kValidateIdMsgSize);
      resultAt = kValidateIdMsgResult;
      break;
    case WG_API_VALIDATE_FINGERS:
      reply.assign(request.begin(), request.begin() + kValidateFingersMsgRecord);
      resultAt = kValidateFingersMsgResult;
      break;
    case WG_API_IDENTIFY:
      reply.assign(request.begin(), request.begin() + kIdentifyMsgSize);
      memset(reply.data() + kIdentifyMsgUser, 0, WG_USER_RECORD_SIZE);
      if (outcome.result == WG_MATCH) PutUser(reply.data() + kIdentifyMsgUser, result.user);
      resultAt = kIdentifyMsgResult;
      break;
    default:
      return;
  }
  StoreU32(reply.data() + kApiMsgSize, static_cast<uint32_t>(reply.size()));
  StoreI16(reply.data() + resultAt, outcome.result);
  order_.details->record(outcome.result, outcome.flags, outcome.text);
  if (WGSendPipeMessage(&pipe_, reply.data(), static_cast<uint32_t>(reply.size())) != 0) {
    TraceValue(TRACE_WHERE_SRVR_INTERFACE, TRACE_TYPE_WARNING, "Reply not taken by client",
               static_cast<int32_t>(order_.processId));
  }
}

// The finger the server knows a subject by.
Subject SubjectOf(const EnrolledFinger& finger) {
  if (finger.source.empty()) return FingerSubject(finger.userId + "/" + std::to_string(finger.finger));
  return SubjectOfSource(finger.source);
}

// Whether a reference is the record of an enrolled finger, or its small form: the small form is
// the start of the template with one byte changed.
bool SameTemplate(const std::vector<uint8_t>& reference, const std::vector<uint8_t>& enrolled) {
  size_t length = std::min(reference.size(), enrolled.size());
  if (length < kSmallMatcherTemplateSize) return false;
  for (size_t i = 0; i < kSmallMatcherTemplateSize; ++i) {
    if (i != kSmallRecMark - kRecMatcherTemplate && reference[i] != enrolled[i]) return false;
  }
  return true;
}

// Someone nobody enrolled, for captures with nothing better to present.
constexpr const char* kStranger = "guest/1";

}  // namespace

CaptureEngine::CaptureEngine(UserStore& store) : store_(store) {}

CaptureEngine::~CaptureEngine() { stop(); }

void CaptureEngine::start() {
  std::optional<std::map<std::string, std::string>> values = store_.sensorValues();
  if (values) {
    Pace pace;
    auto number = [&](const char* name, uint32_t fallback) {
      auto it = values->find(name);
      return it == values->end() ? fallback : static_cast<uint32_t>(strtoul(it->second.c_str(), nullptr, 10));
    };
    pace.frameMs = number("frame_ms", pace.frameMs);
    pace.userDelayMs = number("delay_ms", pace.userDelayMs);
    pace.timeoutMs = number("timeout_ms", pace.timeoutMs);
    pace_ = ClampedPace(pace);
    auto presented = values->find("presentation");
    std::string reason;
    if (presented != values->end() && !setPresentation(presented->second, &reason)) {
      TraceMsg(TRACE_WHERE_SENSOR, TRACE_TYPE_WARNING,
               "What the sensor was shown before cannot be shown again, presenting auto", nullptr);
    }
  }
  worker_ = std::thread(&CaptureEngine::work, this);
}

void CaptureEngine::stop() {
  {
    std::lock_guard guard(lock_);
    quit_ = true;
    if (running_) running_->stop = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

bool CaptureEngine::begin(CaptureOrder order) {
  std::unique_lock lock(lock_);
  if (running_) {
    if (running_->order.processId != order.processId) return false;
    running_->stop = true;
    wake_.notify_all();
    settled_.wait(lock, [&] { return !running_; });
  }
  finished_.erase(order.processId);
  running_ = std::make_unique<Running>();
  running_->order = std::move(order);
  return true;
}

void CaptureEngine::go(uint32_t processId) {
  std::lock_guard guard(lock_);
  if (running_ && running_->order.processId == processId) running_->ready = true;
  wake_.notify_all();
}

void CaptureEngine::abort(uint32_t processId) {
  std::unique_lock lock(lock_);
  if (running_ && running_->order.processId == processId) {
    running_->stop = true;
    wake_.notify_all();
    settled_.wait(lock, [&] { return !running_ || running_->order.processId != processId; });
  }
  finished_.erase(processId);
}

CaptureEngine::Collected CaptureEngine::collect(uint32_t processId, CaptureKind kind,
                                                CaptureResult* result) {
  std::unique_lock lock(lock_);
  auto it = finished_.find(processId);
  if (it != finished_.end() && it->second.kind == kind) {
    *result = std::move(it->second);
    finished_.erase(it);
    return Collected::kResult;
  }
  if (running_ && running_->order.processId == processId && running_->order.kind == kind) {
    lock.unlock();
    abort(processId);
    return Collected::kUnfinished;
  }
  return Collected::kNone;
}

void CaptureEngine::setStreamsOpen(bool open) {
  std::lock_guard guard(lock_);
  streamsOpen_ = open;
  wake_.notify_all();
}

void CaptureEngine::noteStateAsked() {
  std::lock_guard guard(lock_);
  stateAsked_ = true;
  stateAskedAt_ = platform::GetTickCount();
  wake_.notify_all();
}

bool CaptureEngine::currentFrame(uint32_t maxAgeMs, Frame* frame) const {
  return sensor_.lastFrame(maxAgeMs, frame);
}

bool CaptureEngine::sensorWanted() const {
  return streamsOpen_ || (stateAsked_ && !platform::TickBudgetSpent(stateAskedAt_, kStateInterestMs));
}

bool CaptureEngine::setPresentation(const std::string& text, std::string* reason) {
  Subject subject;
  bool automatic = false;
  constexpr size_t kMaxName = 100;
  if (text == "auto") {
    automatic = true;
  } else if (text == "nothing") {
  } else if (text.rfind("finger ", 0) == 0) {
    std::string name = text.substr(7);
    if (name.empty() || name.size() > kMaxName ||
        !std::all_of(name.begin(), name.end(), [](unsigned char c) { return c > ' ' && c < 127; })) {
      *reason = "a finger's name is 1 to 100 printable characters without blanks";
      return false;
    }
    subject = FingerSubject(name);
  } else if (text.rfind("image ", 0) == 0) {
    std::optional<Subject> picture = ImageSubject(text.substr(6), reason);
    if (!picture) return false;
    subject = *picture;
  } else {
    *reason = "say auto, nothing, finger NAME or image PATH";
    return false;
  }
  {
    std::lock_guard guard(lock_);
    automatic_ = automatic;
    fixed_ = subject;
    presentation_ = text;
    ++presentationChanges_;
  }
  TraceMsg(TRACE_WHERE_SENSOR, TRACE_TYPE_INFO, ("Simulated user presents: " + text).c_str(), nullptr);
  store_.storeSensorValue("presentation", text);
  return true;
}

std::string CaptureEngine::presentation() const {
  std::lock_guard guard(lock_);
  return presentation_;
}

void CaptureEngine::setPace(const Pace& pace) {
  Pace clamped = ClampedPace(pace);
  {
    std::lock_guard guard(lock_);
    pace_ = clamped;
  }
  store_.storeSensorValue("frame_ms", std::to_string(clamped.frameMs));
  store_.storeSensorValue("delay_ms", std::to_string(clamped.userDelayMs));
  store_.storeSensorValue("timeout_ms", std::to_string(clamped.timeoutMs));
}

Pace CaptureEngine::pace() const {
  std::lock_guard guard(lock_);
  return pace_;
}

Subject CaptureEngine::automaticSubject(const CaptureOrder& order) {
  std::shared_ptr<const Gallery> gallery = store_.gallery();
  switch (order.kind) {
    case CaptureKind::kEnroll:
      return FingerSubject(order.hasUser ? order.userId + "/" + std::to_string(order.finger)
                                         : kStranger);
    case CaptureKind::kValidateId: {
      std::vector<const EnrolledFinger*> own;
      for (const auto& finger : *gallery) {
        if (finger->userId == order.userId) own.push_back(finger.get());
      }
      if (own.empty()) return FingerSubject(kStranger);
      return SubjectOf(*own[std::uniform_int_distribution<size_t>(0, own.size() - 1)(random_)]);
    }
    case CaptureKind::kVerify:
    case CaptureKind::kAcquire:
      for (const auto& reference : order.references) {
        for (const auto& finger : *gallery) {
          if (SameTemplate(reference, finger->matcherTemplate)) return SubjectOf(*finger);
        }
      }
      break;
    case CaptureKind::kIdentify:
      break;
  }
  return gallery->empty() ? FingerSubject(kStranger) : SubjectOf(*gallery->back());
}

void CaptureEngine::runOrder(Running& running) {
  const CaptureOrder& order = running.order;
  Subject subject;
  bool automatic;
  {
    std::lock_guard guard(lock_);
    sensor_.setPace(pace_);
    automatic = automatic_;
    subject = fixed_;
  }
  if (automatic) subject = automaticSubject(order);
  sensor_.present(subject);
  TraceValue(TRACE_WHERE_SENSOR, TRACE_TYPE_INFO, "Capture begins for client",
             static_cast<int32_t>(order.processId));
  Capture capture(order, running.stop, sensor_, store_, subject.source());
  CaptureResult result;
  bool done = capture.run(&result);
  // The capture is over: the user takes the finger away.
  sensor_.withdraw();
  TraceValue(TRACE_WHERE_SENSOR, TRACE_TYPE_INFO, "Capture ended for client",
             static_cast<int32_t>(order.processId));
  if (!done || !order.blockingRequest.empty()) return;
  {
    std::lock_guard guard(lock_);
    if (running.stop) return;
    finished_[order.processId] = std::move(result);
  }
  capture.announce();
}

void CaptureEngine::keepStreaming() {
  bool changed;
  {
    std::lock_guard guard(lock_);
    changed = presented_ != presentationChanges_;
    presented_ = presentationChanges_;
  }
  // A stream that starts, or a new presentation, finds the finger off the sensor and the user
  // about to put it down.
  if (changed || platform::TickBudgetSpent(lastStreamFrame_, kStreamUpMs)) {
    sensor_.withdraw();
    streamAsked_ = false;
    streamSince_ = platform::GetTickCount() - kStreamUpMs - 1;
  }
  bool down = sensor_.fingerDown();
  if (!streamAsked_ && platform::TickBudgetSpent(streamSince_, down ? kStreamDownMs : kStreamUpMs)) {
    if (down) {
      sensor_.askToLift();
    } else {
      Subject subject;
      bool automatic;
      {
        std::lock_guard guard(lock_);
        sensor_.setPace(pace_);
        automatic = automatic_;
        subject = fixed_;
      }
      if (automatic) subject = automaticSubject(CaptureOrder{});
      sensor_.present(subject);
      sensor_.askToPlace();
    }
    streamAsked_ = true;
  }
  sensor_.capture();
  lastStreamFrame_ = platform::GetTickCount();
  if (sensor_.fingerDown() != down) {
    streamAsked_ = false;
    streamSince_ = platform::GetTickCount();
  }
}

void CaptureEngine::work() {
  std::unique_lock lock(lock_);
  while (!quit_) {
    if (running_ && running_->ready && !running_->started) {
      running_->started = true;
      Running& running = *running_;
      lock.unlock();
      runOrder(running);
      lock.lock();
      running_.reset();
      settled_.notify_all();
      continue;
    }
    if (sensorWanted()) {
      lock.unlock();
      keepStreaming();
      lock.lock();
      continue;
    }
    wake_.wait_for(lock, std::chrono::milliseconds(500));
  }
}
