// Simulated media.
#include "sim/media.h"

namespace tovanel::sim {

using namespace platform;

namespace {

bool isTargetLayout(const AudioFormat& format) {
    return format.commonFormat() == CommonFormat::float32 && !format.isInterleaved() &&
           format.channelCount() == 2 && format.sampleRate() == 48000.0;
}

// Wraps a real converter to fail or to hold back everything on demand.
class FaultyConverter final : public AudioConverter {
  public:
    FaultyConverter(std::shared_ptr<AudioConverter> real, SimMedia::Faults faults)
        : real_(std::move(real)), faults_(std::move(faults)) {}

    ConverterOutputStatus convertToBuffer(PCMBuffer& output, std::optional<PlatformError>& error,
                                          const ConverterInputBlock& input) override {
        if (faults_.converterError) {
            error = faults_.converterError;
            return ConverterOutputStatus::error;
        }
        if (faults_.converterHoldsEverything) {
            ConverterInputStatus status = ConverterInputStatus::haveData;
            while (status == ConverterInputStatus::haveData) {
                (void)input(1024, status);
            }
            output.setFrameLength(0);
            return ConverterOutputStatus::inputRanDry;
        }
        return real_->convertToBuffer(output, error, input);
    }

  private:
    std::shared_ptr<AudioConverter> real_;
    SimMedia::Faults faults_;
};

} // namespace

void SimMedia::setFaults(const Faults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

SimMedia::Faults SimMedia::faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

std::size_t SimMedia::convertersMade() const {
    std::lock_guard lock(mutex_);
    return convertersMade_;
}

std::vector<std::uint32_t> SimMedia::outputCapacities() const {
    std::lock_guard lock(mutex_);
    return outputCapacities_;
}

std::shared_ptr<AudioFormat> SimMedia::makeFormat(const AudioStreamBasicDescription& asbd) {
    return real_.makeFormat(asbd);
}

std::shared_ptr<AudioFormat> SimMedia::makeFormat(CommonFormat format, double sampleRate,
                                                  std::uint32_t channels, bool interleaved) {
    if (faults().failTargetFormat) {
        return nullptr;
    }
    return real_.makeFormat(format, sampleRate, channels, interleaved);
}

std::shared_ptr<PCMBuffer> SimMedia::makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                                   std::uint32_t frameCapacity) {
    const bool output = format && isTargetLayout(*format);
    const Faults current = faults();
    if (output) {
        std::lock_guard lock(mutex_);
        outputCapacities_.push_back(frameCapacity);
    }
    if ((output && current.failOutputBuffer) || (!output && current.failCopyBuffer)) {
        return nullptr;
    }
    return real_.makePCMBuffer(format, frameCapacity);
}

std::shared_ptr<AudioConverter> SimMedia::makeConverter(const std::shared_ptr<AudioFormat>& from,
                                                        const std::shared_ptr<AudioFormat>& to) {
    const Faults current = faults();
    {
        std::lock_guard lock(mutex_);
        ++convertersMade_;
    }
    if (current.failConverter) {
        return nullptr;
    }
    auto real = real_.makeConverter(from, to);
    if (!real) {
        return nullptr;
    }
    return std::make_shared<FaultyConverter>(std::move(real), current);
}

} // namespace tovanel::sim
