// Sounds of the desktop programs: a sound file played by name without waiting for it.
#pragma once

#include <string>

namespace desktop {

// Starts playing the sound file and returns at once. Silent when the file is missing, when no
// player program is installed, or when the machine has no sound device.
void PlaySoundFile(const std::string& fileName);

}  // namespace desktop
