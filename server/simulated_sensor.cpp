#include "server/simulated_sensor.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/time.h"
#include "shared/little_endian.h"
#include "shared/trace.h"

namespace {

using wg_fingers::kImagePixels;
using wg_fingers::kImageSide;

constexpr const char* kFingerSource = "finger:";
constexpr const char* kImageSource = "image:";

// Nothing touching the sensor reads as a light, slightly noisy grey.
constexpr int kEmptyLevel = 232;
constexpr int kEmptyNoise = 3;
// The first frame of a placement sees the skin still settling: half the contrast, and the
// picture is not yet stable.
constexpr float kSettlingContrast = 0.5f;
// Every frame has a little noise of its own, so no two frames are the same bytes.
constexpr int kFrameNoise = 2;

constexpr uint8_t kTrailerDpi = 250;

// The simulated user is a cooperative one: the finger lands near where the sensor asks, turned
// a little, pressed fully down. Placements are drawn as the standard database draws them and
// then gentled by these factors.
constexpr float kUserSteadiness = 0.5f;
// Every server run draws the same placements one after another, so that a run can be repeated.
constexpr uint64_t kPlacementSeed = 0x5345'4E53'4F52'0001ull;

wg_fingers::ImpressionParams CooperativePlacement(uint64_t seed) {
  wg_fingers::ImpressionParams params = wg_fingers::MakeImpressionParams(seed);
  params.fOffsetX *= kUserSteadiness;
  params.fOffsetY *= kUserSteadiness;
  params.fRotation *= kUserSteadiness;
  params.fDistortion *= kUserSteadiness;
  params.fContact = 1;
  return params;
}

uint64_t NameSeed(const std::string& name) {
  // FNV-1a: the same name gives the same finger on every machine and in every run.
  uint64_t hash = 0xcbf29ce484222325ull;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  return hash;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

uint8_t Clamp(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

// A picture of the sensor is small; anything much larger is not one.
constexpr uintmax_t kMaxPictureFile = 1 << 20;

std::optional<std::vector<uint8_t>> ReadFile(const std::string& path, std::string* error) {
  // Only a plain file is read, and only when it is small: a client may name /dev/zero or a
  // pipe that never ends.
  std::error_code failure;
  if (!std::filesystem::is_regular_file(path, failure)) {
    *error = failure ? "cannot open " + path : path + " is not a plain file";
    return std::nullopt;
  }
  uintmax_t size = std::filesystem::file_size(path, failure);
  if (failure || size > kMaxPictureFile) {
    *error = path + " is too large for a 128 x 128 picture";
    return std::nullopt;
  }
  std::ifstream file(path, std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!file || !file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    *error = "cannot read " + path;
    return std::nullopt;
  }
  return bytes;
}

// Binary PGM ("P5"), one byte per pixel.
bool ParsePgm(const std::vector<uint8_t>& bytes, wg_fingers::Image* image, std::string* error) {
  size_t at = 2;
  int fields[3] = {};
  for (int& field : fields) {
    while (at < bytes.size() && (isspace(bytes[at]) || bytes[at] == '#')) {
      if (bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
      } else {
        ++at;
      }
    }
    size_t digits = 0;
    while (at < bytes.size() && isdigit(bytes[at]) && digits < 6) {
      field = field * 10 + (bytes[at++] - '0');
      ++digits;
    }
    if (digits == 0) {
      *error = "the PGM header is malformed";
      return false;
    }
  }
  if (fields[0] != kImageSide || fields[1] != kImageSide) {
    *error = "the picture is " + std::to_string(fields[0]) + " x " + std::to_string(fields[1]) +
             " pixels, the sensor's are 128 x 128";
    return false;
  }
  if (fields[2] < 1 || fields[2] > 255) {
    *error = "the PGM has more than 8 bits per pixel";
    return false;
  }
  ++at;  // the single white space that ends the header
  if (bytes.size() < at + kImagePixels) {
    *error = "the PGM ends before its pixels do";
    return false;
  }
  for (int i = 0; i < kImagePixels; ++i) {
    (*image)[i] = static_cast<uint8_t>(bytes[at + i] * 255 / fields[2]);
  }
  return true;
}

// Uncompressed 8-bit BMP with a palette, rows bottom-up or top-down.
bool ParseBmp(const std::vector<uint8_t>& bytes, wg_fingers::Image* image, std::string* error) {
  constexpr size_t kFileHeader = 14;
  constexpr size_t kInfoHeader = 40;
  if (bytes.size() < kFileHeader + kInfoHeader) {
    *error = "the BMP is shorter than its headers";
    return false;
  }
  const uint8_t* info = bytes.data() + kFileHeader;
  uint32_t pixelOffset = LoadU32(bytes.data() + 10);
  uint32_t infoSize = LoadU32(info);
  int32_t width = LoadI32(info + 4);
  int32_t height = LoadI32(info + 8);
  uint16_t bits = LoadU16(info + 14);
  uint32_t compression = LoadU32(info + 16);
  uint32_t colours = LoadU32(info + 32);
  if (bits != 8 || compression != 0) {
    *error = "the BMP is not an uncompressed 8-bit picture";
    return false;
  }
  if (width != kImageSide || (height != kImageSide && height != -kImageSide)) {
    *error = "the picture is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels, the sensor's are 128 x 128";
    return false;
  }
  if (colours == 0) colours = 256;
  size_t palette = kFileHeader + infoSize;
  if (infoSize < kInfoHeader || colours > 256 || palette + 4 * colours > bytes.size() ||
      pixelOffset > bytes.size() || bytes.size() - pixelOffset < size_t{kImagePixels}) {
    *error = "the BMP's palette or pixels lie outside the file";
    return false;
  }
  uint8_t grey[256] = {};
  for (uint32_t i = 0; i < colours; ++i) {
    const uint8_t* entry = bytes.data() + palette + 4 * i;  // blue, green, red, unused
    grey[i] = static_cast<uint8_t>((entry[0] * 114 + entry[1] * 587 + entry[2] * 299) / 1000);
  }
  bool bottomUp = height > 0;
  for (int row = 0; row < kImageSide; ++row) {
    const uint8_t* source = bytes.data() + pixelOffset +
                            static_cast<size_t>(bottomUp ? kImageSide - 1 - row : row) * kImageSide;
    for (int column = 0; column < kImageSide; ++column) {
      (*image)[row * kImageSide + column] = grey[source[column]];
    }
  }
  return true;
}

}  // namespace

std::string Subject::source() const {
  switch (kind) {
    case Kind::kFinger:
      return kFingerSource + name;
    case Kind::kImage:
      return kImageSource + name;
    case Kind::kNothing:
      break;
  }
  return {};
}

Subject FingerSubject(const std::string& name) {
  Subject subject;
  subject.kind = Subject::Kind::kFinger;
  subject.name = name;
  subject.seed = NameSeed(name);
  return subject;
}

std::optional<Subject> ImageSubject(const std::string& path, std::string* error) {
  std::optional<std::vector<uint8_t>> bytes = ReadFile(path, error);
  if (!bytes) return std::nullopt;
  auto picture = std::make_shared<wg_fingers::Image>();
  bool parsed = false;
  if (bytes->size() >= 2 && (*bytes)[0] == 'P' && (*bytes)[1] == '5') {
    parsed = ParsePgm(*bytes, picture.get(), error);
  } else if (bytes->size() >= 2 && (*bytes)[0] == 'B' && (*bytes)[1] == 'M') {
    parsed = ParseBmp(*bytes, picture.get(), error);
  } else {
    *error = "the file is neither a binary PGM nor a BMP";
  }
  if (!parsed) return std::nullopt;
  Subject subject;
  subject.kind = Subject::Kind::kImage;
  subject.name = path;
  subject.picture = std::move(picture);
  return subject;
}

Subject SubjectOfSource(const std::string& source) {
  if (StartsWith(source, kFingerSource)) {
    return FingerSubject(source.substr(strlen(kFingerSource)));
  }
  if (StartsWith(source, kImageSource)) {
    std::string error;
    if (std::optional<Subject> subject = ImageSubject(source.substr(strlen(kImageSource)), &error)) {
      return *subject;
    }
    TraceMsg(TRACE_WHERE_SENSOR, TRACE_TYPE_WARNING, "The picture of an enrollment cannot be read",
             nullptr);
  }
  return {};
}

Pace ClampedPace(Pace pace) {
  pace.frameMs = std::clamp<uint32_t>(pace.frameMs, 10, 1000);
  pace.userDelayMs = std::min<uint32_t>(pace.userDelayMs, 10000);
  pace.timeoutMs = std::clamp<uint32_t>(pace.timeoutMs, 1000, 300000);
  return pace;
}

uint16_t Frame::stateWord() const {
  return static_cast<uint16_t>((fingerPresent ? kStateFingerPresent : 0) |
                               (stability & kStateStabilityMask));
}

void Frame::toImageBuffer(uint8_t* buffer) const {
  memcpy(buffer, pixels.data(), WG_RAW_IMAGE_SIZE);
  uint8_t* trailer = buffer + offsetof(WGImageBuffer, trailer);
  StoreU32(trailer + offsetof(WGImageTrailer, uiWord1), number);
  StoreU32(trailer + offsetof(WGImageTrailer, uiWord2), tick);
  StoreU32(trailer + offsetof(WGImageTrailer, uiWord3), stateWord());
  trailer[offsetof(WGImageTrailer, ucByte)] = kTrailerDpi;
  StoreU16(trailer + offsetof(WGImageTrailer, usWord1), kImageSide);
  StoreU16(trailer + offsetof(WGImageTrailer, usWord2), kImageSide);
}

SimulatedSensor::SimulatedSensor() : random_(kPlacementSeed) {}

void SimulatedSensor::setPace(const Pace& pace) { pace_ = ClampedPace(pace); }

Pace SimulatedSensor::pace() const { return pace_; }

void SimulatedSensor::present(const Subject& subject) {
  subject_ = subject;
  master_ = subject.kind == Subject::Kind::kFinger ? masters_.Get(subject.seed) : nullptr;
}

void SimulatedSensor::askToPlace() {
  if (down_ || intent_ == Intent::kPlace) return;
  intent_ = Intent::kPlace;
  intentAt_ = platform::GetTickCount() + pace_.userDelayMs;
}

void SimulatedSensor::askToLift() {
  if (!down_ && intent_ != Intent::kPlace) return;
  intent_ = Intent::kLift;
  intentAt_ = platform::GetTickCount() + pace_.userDelayMs;
}

void SimulatedSensor::withdraw() {
  down_ = false;
  intent_ = Intent::kNone;
  // What was on the sensor is gone: no stream gets the last picture of it.
  std::lock_guard guard(lastLock_);
  last_ = Frame{};
}

void SimulatedSensor::followIntent(uint32_t now) {
  if (intent_ == Intent::kNone || static_cast<int32_t>(now - intentAt_) < 0) return;
  if (intent_ == Intent::kLift) {
    down_ = false;
    TraceMsg(TRACE_WHERE_SENSOR, TRACE_TYPE_INFO, "Simulated user lifted the finger", nullptr);
  } else if (subject_.kind != Subject::Kind::kNothing) {
    down_ = true;
    framesDown_ = 0;
    if (subject_.kind == Subject::Kind::kImage) {
      impression_ = *subject_.picture;
    } else {
      impression_ = wg_fingers::RenderImpression(*master_, CooperativePlacement(random_()));
    }
    TraceMsg(TRACE_WHERE_SENSOR, TRACE_TYPE_INFO, "Simulated user placed the finger", nullptr);
  }
  intent_ = Intent::kNone;
}

void SimulatedSensor::render(Frame* frame) {
  std::uniform_int_distribution<int> noise(-kFrameNoise, kFrameNoise);
  std::uniform_int_distribution<int> emptyNoise(-kEmptyNoise, kEmptyNoise);
  if (!down_) {
    for (uint8_t& pixel : frame->pixels) pixel = Clamp(kEmptyLevel + emptyNoise(random_));
    return;
  }
  float contrast = framesDown_ == 0 ? kSettlingContrast : 1.0f;
  for (int i = 0; i < kImagePixels; ++i) {
    float settled = kEmptyLevel + (impression_[i] - kEmptyLevel) * contrast;
    frame->pixels[i] = Clamp(static_cast<int>(settled) + noise(random_));
  }
}

Frame SimulatedSensor::capture() {
  uint32_t now = platform::GetTickCount();
  int32_t wait = static_cast<int32_t>(nextFrameAt_ - now);
  if (wait > 0 && static_cast<uint32_t>(wait) <= pace_.frameMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(wait));
    now = platform::GetTickCount();
  }
  nextFrameAt_ = now + pace_.frameMs;
  followIntent(now);
  Frame frame;
  render(&frame);
  frame.fingerPresent = down_;
  frame.stability = down_ ? static_cast<uint8_t>(std::min<uint32_t>(framesDown_, kStateStabilityMask))
                          : 0;
  frame.number = ++frameNumber_;
  frame.tick = now;
  if (down_) ++framesDown_;
  std::lock_guard guard(lastLock_);
  last_ = frame;
  return frame;
}

bool SimulatedSensor::lastFrame(uint32_t maxAgeMs, Frame* frame) const {
  std::lock_guard guard(lastLock_);
  if (last_.number == 0 || platform::TickBudgetSpent(last_.tick, maxAgeMs)) return false;
  *frame = last_;
  return true;
}
