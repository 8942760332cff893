#include "platform/desktop/sound.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/process.h"

namespace desktop {
namespace {

struct Player {
  const char* program;
  const char* quietOption;  // null: none needed
};

// The sound servers' own players first, so that the sound goes where the desktop sends it;
// the plain ALSA player on machines without one.
constexpr Player kPlayers[] = {
    {"pw-play", nullptr},
    {"paplay", nullptr},
    {"aplay", "-q"},
};

std::string FindInPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t colon = folders.find(':', start);
    if (colon == std::string::npos) colon = folders.size();
    std::string candidate = folders.substr(start, colon - start) + "/" + program;
    if (colon > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = colon + 1;
  }
  return std::string();
}

}  // namespace

void PlaySoundFile(const std::string& fileName) {
  std::error_code error;
  // The player runs in its own folder, so it gets the full path.
  std::filesystem::path file = std::filesystem::absolute(fileName, error);
  if (error || !std::filesystem::is_regular_file(file, error)) return;
  for (const Player& player : kPlayers) {
    std::string program = FindInPath(player.program);
    if (program.empty()) continue;
    std::vector<std::string> args;
    if (player.quietOption) args.push_back(player.quietOption);
    args.push_back(file.string());
    platform::StartDetachedProcess(program, args);
    return;
  }
}

}  // namespace desktop
