// The sensor of the server stand-in: a 128 x 128 capacitive sensor at 250 dpi and the person
// in front of it. The person follows the prompts, a little slowly: told to place a finger, it
// lands after the user delay; told to lift, it goes after the same delay. Every placement is a
// fresh impression of what the person presents: a synthetic finger, a picture from a file, or
// nothing at all. The sensor takes a frame every frame period.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>

#include "fingers/synthetic_finger.h"
#include "whorlgate/wg_image.h"

// What the simulated user puts on the sensor.
struct Subject {
  enum class Kind : uint8_t { kNothing, kFinger, kImage };
  Kind kind = Kind::kNothing;
  std::string name;  // the finger's name ("alice/7") or the picture's path
  uint64_t seed = 0;                                 // kFinger: the master fingertip
  std::shared_ptr<const wg_fingers::Image> picture;  // kImage

  // How an enrollment remembers the subject, and how it is told again: "finger:alice/7",
  // "image:/path/to/file.pgm", or "" for nothing.
  std::string source() const;
};

// The synthetic finger of that name: the same name is the same finger, on every machine.
Subject FingerSubject(const std::string& name);
// The picture in the file: an 8-bit grey PGM or BMP of 128 x 128 pixels. Nothing, with the
// reason in *error, for anything else.
std::optional<Subject> ImageSubject(const std::string& path, std::string* error);
// The subject a source names; a picture that can no longer be read gives nothing (traced).
Subject SubjectOfSource(const std::string& source);

// How quickly things happen.
struct Pace {
  uint32_t frameMs = 66;        // about 15 frames a second
  uint32_t userDelayMs = 500;   // how long the user takes to follow a prompt
  uint32_t timeoutMs = 20000;   // how long a capture waits for a finger before giving up
};
// The limits a pace is held to: a frame period from 10 ms to 1 s, a delay up to 10 s, a time-out
// from 1 s to 5 minutes (the client waits no longer than that).
Pace ClampedPace(Pace pace);

// The image state word: finger present, and how many frames the picture has stayed the same.
inline constexpr uint16_t kStateFingerPresent = 0x4000;
inline constexpr uint16_t kStateStabilityMask = 0x1F;

struct Frame {
  wg_fingers::Image pixels{};
  bool fingerPresent = false;
  uint8_t stability = 0;  // 0 to 31
  uint32_t number = 0;
  uint32_t tick = 0;  // GetTickCount when taken

  uint16_t stateWord() const;
  // The image buffer the clients receive: the raw image and its trailer.
  void toImageBuffer(uint8_t* buffer) const;
};

// Used by one thread, the capture worker; only lastFrame may be called from any thread.
class SimulatedSensor {
 public:
  SimulatedSensor();

  void setPace(const Pace& pace);
  Pace pace() const;

  // Who or what the user puts down at the next placement. A synthetic finger's fingertip is
  // made here, before any capture's time-out runs.
  void present(const Subject& subject);
  // The user places the finger (after the delay) when it is not on the sensor already.
  void askToPlace();
  // The user lifts the finger (after the delay) when it is on the sensor.
  void askToLift();
  bool fingerDown() const { return down_; }
  // The user takes the finger away at once and forgets what was asked: the capture is over.
  void withdraw();

  // Waits for the next frame time and takes the frame.
  Frame capture();
  // The last frame, when it was taken in the last `maxAgeMs`.
  bool lastFrame(uint32_t maxAgeMs, Frame* frame) const;

 private:
  enum class Intent : uint8_t { kNone, kPlace, kLift };
  void followIntent(uint32_t now);
  void render(Frame* frame);

  Pace pace_;
  Subject subject_;
  std::shared_ptr<const wg_fingers::Master> master_;  // the finger's, for kFinger
  Intent intent_ = Intent::kNone;
  uint32_t intentAt_ = 0;
  bool down_ = false;
  uint32_t framesDown_ = 0;
  wg_fingers::Image impression_{};
  uint32_t nextFrameAt_ = 0;
  uint32_t frameNumber_ = 0;
  std::mt19937_64 random_;
  wg_fingers::MasterCache masters_;

  mutable std::mutex lastLock_;
  Frame last_;
};
