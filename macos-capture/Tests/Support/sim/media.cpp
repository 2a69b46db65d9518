// Simulated media.
#include "sim/media.h"

namespace tovanel::sim {

using namespace platform;

namespace {

class FaultyConverter final : public AudioConverter {
  public:
    FaultyConverter(std::shared_ptr<AudioConverter> real, SimMedia::Faults faults)
        : real_(std::move(real)), faults_(std::move(faults)) {}

    ConverterOutputStatus convertToBuffer(PCMBuffer& output, std::optional<PlatformError>& error,
                                          const ConverterInputBlock& input) override {
        if (faults_.convertError) { // set under a status that claims success, frames made
            const auto status = real_->convertToBuffer(output, error, input);
            error = faults_.convertError;
            return status;
        }
        if (faults_.holdEverything) {
            ConverterInputStatus status{};
            (void)input(1, status);
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

void SimMedia::setFaults(Faults faults) {
    std::lock_guard lock(mutex_);
    faults_ = std::move(faults);
}

int SimMedia::convertersMade() const {
    std::lock_guard lock(mutex_);
    return convertersMade_;
}

std::vector<std::uint32_t> SimMedia::capacities() const {
    std::lock_guard lock(mutex_);
    return capacities_;
}

std::shared_ptr<AudioFormat> SimMedia::makeFormat(const AudioStreamBasicDescription& asbd) {
    return real_.makeFormat(asbd);
}

std::shared_ptr<AudioFormat> SimMedia::makeFormat(CommonFormat format, double sampleRate,
                                                  std::uint32_t channels, bool interleaved) {
    std::lock_guard lock(mutex_);
    return faults_.targetFormat ? nullptr
                                : real_.makeFormat(format, sampleRate, channels, interleaved);
}

std::shared_ptr<PCMBuffer> SimMedia::makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                                   std::uint32_t frameCapacity) {
    std::lock_guard lock(mutex_);
    capacities_.push_back(frameCapacity);
    if (faults_.pcmBufferCall > 0 && --faults_.pcmBufferCall == 0) {
        return nullptr;
    }
    return real_.makePCMBuffer(format, frameCapacity);
}

std::shared_ptr<AudioConverter> SimMedia::makeConverter(const std::shared_ptr<AudioFormat>& from,
                                                        const std::shared_ptr<AudioFormat>& to) {
    std::lock_guard lock(mutex_);
    ++convertersMade_;
    if (faults_.converter) {
        return nullptr;
    }
    auto real = real_.makeConverter(from, to);
    return real ? std::make_shared<FaultyConverter>(std::move(real), faults_) : nullptr;
}

} // namespace tovanel::sim
