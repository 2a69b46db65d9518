// Simulated media: the real portable formats, buffers and converter, each way of making them able
// to fail, converters that fail or hold everything back, and a record of what was made.
#pragma once

#include "platform/portable/media.h"

#include <mutex>
#include <optional>
#include <vector>

namespace tovanel::sim {

using namespace platform;

class SimMedia : public Media {
  public:
    struct Faults {
        bool targetFormat = false; // makeFormat(common format) answers none
        bool converter = false;    // makeConverter answers none
        int pcmBufferCall = 0;     // the n-th makePCMBuffer call from now answers none
        std::optional<PlatformError> convertError; // set after a conversion that made frames
        bool holdEverything = false; // conversions take their input and put out nothing
    };

    void setFaults(Faults faults) {
        std::lock_guard lock(mutex_);
        faults_ = std::move(faults);
    }
    int convertersMade() const {
        std::lock_guard lock(mutex_);
        return convertersMade_;
    }
    std::vector<std::uint32_t> capacities() const { // of every PCM buffer made, in order
        std::lock_guard lock(mutex_);
        return capacities_;
    }

    std::shared_ptr<AudioFormat> makeFormat(const AudioStreamBasicDescription& asbd) override {
        return real_.makeFormat(asbd);
    }
    std::shared_ptr<AudioFormat> makeFormat(CommonFormat format, double rate,
                                            std::uint32_t channels, bool interleaved) override {
        std::lock_guard lock(mutex_);
        return faults_.targetFormat ? nullptr
                                    : real_.makeFormat(format, rate, channels, interleaved);
    }
    std::shared_ptr<PCMBuffer> makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                             std::uint32_t capacity) override {
        std::lock_guard lock(mutex_);
        capacities_.push_back(capacity);
        const bool fails = faults_.pcmBufferCall > 0 && --faults_.pcmBufferCall == 0;
        return fails ? nullptr : real_.makePCMBuffer(format, capacity);
    }
    std::shared_ptr<AudioConverter> makeConverter(const std::shared_ptr<AudioFormat>& from,
                                                  const std::shared_ptr<AudioFormat>& to) override {
        struct Faulty final : AudioConverter {
            std::shared_ptr<AudioConverter> real;
            Faults faults;
            ConverterOutputStatus convertToBuffer(PCMBuffer& output,
                                                  std::optional<PlatformError>& error,
                                                  const ConverterInputBlock& input) override {
                if (faults.holdEverything) {
                    ConverterInputStatus status{};
                    (void)input(1, status);
                    output.setFrameLength(0);
                    return ConverterOutputStatus::inputRanDry;
                }
                const auto status = real->convertToBuffer(output, error, input);
                error = faults.convertError ? faults.convertError : error;
                return status; // a status that may claim success beside the error
            }
        };
        std::lock_guard lock(mutex_);
        ++convertersMade_;
        auto converter = faults_.converter ? nullptr : std::make_shared<Faulty>();
        if (converter && !(converter->real = real_.makeConverter(from, to))) {
            return nullptr;
        }
        if (converter) {
            converter->faults = faults_;
        }
        return converter;
    }

  private:
    portable::PortableMedia real_;
    mutable std::mutex mutex_;
    Faults faults_;
    int convertersMade_ = 0;
    std::vector<std::uint32_t> capacities_;
};

} // namespace tovanel::sim
