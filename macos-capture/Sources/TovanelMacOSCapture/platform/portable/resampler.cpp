// libsoxr as a streaming resampler into the converter's frame queue.
#include "platform/portable/resampler.h"

#include "platform/portable/converter_status.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace tovanel::platform::portable {

namespace {

// Output room beyond the frames the input alone yields: libsoxr releases its held-back output
// in blocks, so one call can put out more than its input's share.
constexpr std::size_t kExtraRoom = 1024;

PlatformError soxrError(const char* call, soxr_error_t error) {
    return PlatformError{call, kAudioConverterErr_UnspecifiedError,
                         std::string("sample-rate conversion failed: ") + soxr_strerror(error)};
}

} // namespace

void Resampler::Delete::operator()(soxr* resampler) const {
    soxr_delete(resampler);
}

std::optional<Resampler> Resampler::make(double inputRate, double outputRate,
                                         std::uint32_t channels) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_S, SOXR_FLOAT32_S);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    std::unique_ptr<soxr, Delete> resampler(
        soxr_create(inputRate, outputRate, channels, &error, &io, &quality, &runtime));
    if (!resampler || error != nullptr) {
        return std::nullopt;
    }
    return Resampler(std::move(resampler), outputRate / inputRate, channels);
}

Resampler::Resampler(std::unique_ptr<soxr, Delete> resampler, double ratio, std::uint32_t channels)
    : soxr_(std::move(resampler)), ratio_(ratio), cursor_(channels), outputCursor_(channels) {}

std::optional<PlatformError> Resampler::process(const std::vector<const float*>& input,
                                                std::size_t frames, FrameQueue& output) {
    return run(&input, frames, output);
}

std::optional<PlatformError> Resampler::flush(FrameQueue& output) {
    return run(nullptr, 0, output);
}

double Resampler::delay() const {
    return soxr_delay(soxr_.get());
}

// libsoxr takes only as much input as the output room given can absorb, and keeps output it
// had no room for: call again until all the input is in and the room was not filled.
std::optional<PlatformError> Resampler::run(const std::vector<const float*>* input,
                                            std::size_t frames, FrameQueue& output) {
    std::size_t consumed = 0;
    while (true) {
        const std::size_t remaining = frames - consumed;
        const std::size_t room =
            static_cast<std::size_t>(std::ceil(static_cast<double>(remaining) * ratio_)) +
            kExtraRoom;
        const std::vector<float*>& back = output.reserveBack(room);
        std::copy(back.begin(), back.end(), outputCursor_.begin());
        if (input != nullptr) {
            for (std::size_t c = 0; c < cursor_.size(); ++c) {
                cursor_[c] = (*input)[c] + consumed;
            }
        }
        std::size_t taken = 0;
        std::size_t made = 0;
        // A null input tells libsoxr the signal has ended.
        const soxr_error_t error =
            soxr_process(soxr_.get(), input != nullptr ? cursor_.data() : nullptr, remaining,
                         &taken, outputCursor_.data(), room, &made);
        if (error != nullptr) {
            return soxrError("soxr_process", error);
        }
        output.commitBack(made);
        consumed += taken;
        if (consumed >= frames && made < room) {
            return std::nullopt;
        }
        if (taken == 0 && made == 0) {
            return soxrError("soxr_process", "the resampler took no input and made no output");
        }
    }
}

} // namespace tovanel::platform::portable
