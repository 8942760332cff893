// Everything that needs a finger on the sensor: enrollment, validation of a claimed user,
// identification, verification against the client's records and plain image acquisition. One
// worker thread owns the simulated sensor and runs one capture at a time; the request loop
// hands it orders and collects what they came to, and goes on serving every other request
// meanwhile. While no capture runs the worker keeps the sensor going for open image streams.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "server/session.h"
#include "server/simulated_sensor.h"
#include "server/user_store.h"

enum class CaptureKind : uint8_t { kEnroll, kValidateId, kIdentify, kVerify, kAcquire };

// The settings a capture runs under, read when it begins.
struct CaptureSettings {
  uint8_t views = 5;          // "EnrollPhaseLimit": views an enrollment takes
  uint8_t stableEnroll = 5;   // "StableEnroll": stable frames before an enrollment view is taken
  uint8_t stableMatch = 3;    // "StableMatch": the same for every other capture
  uint16_t minimumScore = 50;    // "CorMtchNA": hundredths a match score must exceed
  uint16_t minimumClarity = 40;  // "CorMtchEnrollQ": hundredths of clear print an enrollment view needs
  uint16_t minimumAgreement = 40;  // "CorMtchEnrollC": hundredths of score a view must reach
                                   // against the enrollment's first view
};

// WGServerMatchDetails as this server fills it (little-endian).
inline constexpr uint32_t kMatchDetailsScore = 0;        // u16: best score, thousandths
inline constexpr uint32_t kMatchDetailsFinger = 2;       // i16: its finger number, -1 for none
inline constexpr uint32_t kMatchDetailsConfidence = 4;   // u16: 0 to 10000, rising with the score
inline constexpr uint32_t kMatchDetailsComparisons = 6;  // u16: comparisons made, at most 65535
using MatchDetails = std::array<uint8_t, 8>;

struct CaptureOrder {
  CaptureKind kind = CaptureKind::kAcquire;
  uint32_t processId = 0;
  std::shared_ptr<ResultDetails> details;
  // A blocking call of the basic API: the worker answers with this request's message once the
  // capture is over and sends no events. Empty for a transaction.
  std::vector<uint8_t> blockingRequest;
  // Enrollment without a user builds a template for the client and stores nothing.
  bool hasUser = false;
  std::string userId;
  std::string displayName;
  int16_t finger = 0;
  // Verification (and acquisition with a record): the matcher templates of the client's
  // records, in the order given.
  std::vector<std::vector<uint8_t>> references;
  CaptureSettings settings;
};

// What a transaction's End call hands back.
struct CaptureResult {
  CaptureKind kind = CaptureKind::kAcquire;
  // How it went, as the client's result details explain it.
  int16_t result = 0;
  uint32_t flags = 0;
  const char* text = "";
  StoredUser user;                   // enrolled or identified
  std::vector<uint8_t> record;       // enrollment: the sealed reference template record
  MatchDetails matchDetails{};
  int16_t matchValue = 0;            // verification: 1 + the index of the matching record
  std::vector<uint8_t> imageBuffer;  // acquisition: the image and its trailer
};

class CaptureEngine {
 public:
  explicit CaptureEngine(UserStore& store);
  ~CaptureEngine();
  CaptureEngine(const CaptureEngine&) = delete;
  CaptureEngine& operator=(const CaptureEngine&) = delete;

  // Takes what the sensor was told before from the store and starts the worker.
  void start();
  // Stops the capture under way and the worker.
  void stop();

  // Takes the sensor for the client's capture, which starts at go(): a transaction's client
  // hears that it has begun before its first event. False when the sensor is busy with
  // another client's capture.
  bool begin(CaptureOrder order);
  void go(uint32_t processId);
  // Stops the client's capture and forgets what it came to; returns once it has stopped.
  void abort(uint32_t processId);
  enum class Collected : uint8_t { kResult, kUnfinished, kNone };
  // What the client's capture of `kind` came to. A capture still running is stopped
  // (kUnfinished); kNone when there was none.
  Collected collect(uint32_t processId, CaptureKind kind, CaptureResult* result);

  // Image streams and image state: the sensor keeps taking frames while a stream is open and
  // for a few seconds after the image state was asked for.
  void setStreamsOpen(bool open);
  void noteStateAsked();
  bool currentFrame(uint32_t maxAgeMs, Frame* frame) const;

  // What the simulated user presents: "auto", "nothing", "finger NAME", "image PATH". False,
  // with the reason, when it cannot be done. Kept in the store.
  bool setPresentation(const std::string& text, std::string* reason);
  std::string presentation() const;
  void setPace(const Pace& pace);
  Pace pace() const;

 private:
  struct Running {
    CaptureOrder order;
    std::atomic<bool> stop{false};
    bool ready = false;  // go() was called
    bool started = false;
  };
  void work();
  void runOrder(Running& running);
  void keepStreaming();
  Subject automaticSubject(const CaptureOrder& order);
  bool sensorWanted() const;  // under lock_

  UserStore& store_;
  SimulatedSensor sensor_;
  std::thread worker_;

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::condition_variable settled_;  // a capture has ended
  bool quit_ = false;
  std::unique_ptr<Running> running_;
  std::map<uint32_t, CaptureResult> finished_;
  bool streamsOpen_ = false;
  uint32_t stateAskedAt_ = 0;
  bool stateAsked_ = false;
  bool automatic_ = true;
  Subject fixed_;
  std::string presentation_ = "auto";
  Pace pace_;
  std::mt19937 random_{std::random_device{}()};  // the worker's
  // The simulated user at an open stream: since when the finger is down (or up), and whether it
  // was asked to change. The worker's.
  uint32_t streamSince_ = 0;
  uint32_t lastStreamFrame_ = 0;
  bool streamAsked_ = false;
  // Bumped by every change of what is presented: the user then takes away what was on the
  // sensor. presented_ is the worker's.
  uint32_t presentationChanges_ = 0;
  uint32_t presented_ = 0;
};
