// Simulated media: the real portable formats, buffers and converter, with a record of what was
// made (converters, PCM buffer capacities) and faults on demand for each way making them fails.
#pragma once

#include "platform/media.h"
#include "platform/portable/media.h"

#include <mutex>
#include <optional>
#include <vector>

namespace tovanel::sim {

class SimMedia : public platform::Media {
  public:
    struct Faults {
        bool failTargetFormat = false; // makeFormat(common format) answers none
        bool failConverter = false;    // makeConverter answers none
        bool failCopyBuffer = false;   // the PCM buffer in the source format answers none
        bool failOutputBuffer = false; // the PCM buffer in the target format answers none
        std::optional<platform::PlatformError> converterError; // every conversion fails so
        bool converterHoldsEverything = false; // conversions take the input and put out nothing
    };

    void setFaults(const Faults& faults);
    std::size_t convertersMade() const;
    // The capacity of every PCM buffer made in a float32 planar format (the output buffers).
    std::vector<std::uint32_t> outputCapacities() const;

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
    Faults faults() const;

    platform::portable::PortableMedia real_;
    mutable std::mutex mutex_;
    Faults faults_;
    std::size_t convertersMade_ = 0;
    std::vector<std::uint32_t> outputCapacities_;
};

} // namespace tovanel::sim
