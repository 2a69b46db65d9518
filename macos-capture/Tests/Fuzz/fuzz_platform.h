// The simulated platform as the fuzz targets run on it: installed once per process, with a fresh
// simulated hardware table and fresh simulated media for every input, so nothing one input leaves
// behind reaches the next and no record of calls grows from input to input; and serial queues
// that start no threads, since the targets call the handlers themselves.
#pragma once

#include "platform/audio_hardware.h"
#include "sim/audio_hardware.h"
#include "sim/media.h"

#include <cstdint>

namespace tovanel::fuzz {

class FuzzPlatform {
  public:
    // Installs the platform on the first call; every call starts a fresh table and fresh media.
    static FuzzPlatform& forNextInput();

    sim::SimAudioHardware& audioHardware();
    sim::SimMedia& media();
    // Makes the size query of this property answer `size`, whatever value it delivers.
    void announceSize(platform::AudioObjectID object,
                      const platform::AudioObjectPropertyAddress& address, std::uint32_t size);

  private:
    FuzzPlatform() = default;
};

} // namespace tovanel::fuzz
