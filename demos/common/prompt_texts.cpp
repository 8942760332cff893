#include "demos/common/prompt_texts.h"

#include <iterator>

namespace demo {
namespace {

struct Texts {
  const char* demo;     // the transaction and extended demos
  const char* capture;  // the image capture tool
};

constexpr Texts kPrompts[] = {
    {"Please Lift and Replace this finger on the Whorlgate Sensor",
     "Please lift and replace this finger on the Whorlgate sensor."},
    {"Please Lift and Move this finger on the Whorlgate Sensor",
     "Please lift and move this finger on the Whorlgate sensor."},
    {"Please Place a finger on the Whorlgate Sensor",
     "Please place a finger on the Whorlgate sensor."},
    {"Please Lift and Center this finger on the Whorlgate Sensor",
     "Please lift and center this finger on the Whorlgate sensor."},
};
constexpr Texts kInvalidPrompt = {"Invalid Prompt", "ERROR - Invalid prompt."};

// Codes without a sentence of their own (9, 12 to 16, 21 to 24) are known and empty.
constexpr Texts kStatuses[] = {
    {"Finger detected", "Finger detected."},
    {"Finger removed", "Finger removed."},
    {"Starting Enroll", "Starting enroll."},
    {"Image is good", "Image is good."},
    {"Unable to find fingerprint core", "Unable to find fingerprint core."},
    {"Unable to find a fingerprint on this finger", "Unable to find a fingerprint on this finger."},
    {"Thank You", "Thank you."},
    {"Would you like to enroll another finger?", "Would you like to enroll another finger?"},
    {"This finger has already been enrolled in the Whorlgate System",
     "This finger has already been enrolled in the Whorlgate system."},
    {"", ""},
    {"Welcome", "Welcome."},
    {"Analyzing fingerprint", "Analyzing fingerprint."},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"Beginning image capture", "Beginning image capture."},
    {"Verifying template", "Verifying template."},
    {"Identifying user from database", "Identifying user from database."},
    {"Verifying user", "Verifying user."},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"Enroll Failed", "Enroll failed."},
};
constexpr Texts kInvalidStatus = {"Invalid Message", "Invalid message."};
constexpr uint16_t kFingerRemoved = 1;

const char* Pick(const Texts& texts, TextStyle style) {
  return style == TextStyle::kCaptureTool ? texts.capture : texts.demo;
}

}  // namespace

const char* PromptText(TextStyle style, uint16_t code) {
  return Pick(code < std::size(kPrompts) ? kPrompts[code] : kInvalidPrompt, style);
}

const char* StatusText(TextStyle style, uint16_t code) {
  bool known = code < std::size(kStatuses) &&
               !(style == TextStyle::kExtendedDemo && code == kFingerRemoved);
  return Pick(known ? kStatuses[code] : kInvalidStatus, style);
}

}  // namespace demo
