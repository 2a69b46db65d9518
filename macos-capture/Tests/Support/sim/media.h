// Simulated media: the real portable formats, buffers and converter underneath, with each way of
// making them able to fail, converters that fail or hold everything back, and a record of the
// converters and buffers made.
#pragma once

#include "platform/portable/media.h"

#include <mutex>
#include <optional>
#include <vector>

namespace tovanel::sim {

class SimMedia : public platform::Media {
  public:
    struct Faults {
        bool targetFormat = false; // makeFormat(common format) answers none
        bool converter = false;    // makeConverter answers none
        int pcmBufferCall = 0;     // the n-th makePCMBuffer call from now answers none
        std::optional<platform::PlatformError> convertError; // set after a real conversion
        bool holdEverything = false; // conversions take their input and put out nothing
    };

    void setFaults(Faults faults);
    int convertersMade() const;
    std::vector<std::uint32_t> capacities() const; // of every PCM buffer made, in order

    std::shared_ptr<platform::AudioFormat>
    makeFormat(const platform::AudioStreamBasicDescription& asbd) override;
    std::shared_ptr<platform::AudioFormat> makeFormat(platform::CommonFormat format,
                                                      double sampleRate, std::uint32_t channels,
                                                      bool interleaved) override;
    std::shared_ptr<platform::PCMBuffer>
    makePCMBuffer(const std::shared_ptr<platform::AudioFormat>& format,
                  std::uint32_t frameCapacity) override;
    std::shared_ptr<platform::AudioConverter>
    makeConverter(const std::shared_ptr<platform::AudioFormat>& from,
                  const std::shared_ptr<platform::AudioFormat>& to) override;

  private:
    platform::portable::PortableMedia real_;
    mutable std::mutex mutex_;
    Faults faults_;
    int convertersMade_ = 0;
    std::vector<std::uint32_t> capacities_;
};

} // namespace tovanel::sim
