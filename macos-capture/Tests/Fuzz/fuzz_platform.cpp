// The fuzz targets' platform: forwarding facilities in front of per-input simulations.
#include "fuzz_platform.h"

#include "sim/sim_platform.h"

#include <map>
#include <memory>
#include <tuple>

namespace tovanel::fuzz {

namespace {

using namespace platform;

// A queue that runs each job at once on the caller's thread: nothing in the targets queues work,
// and a thread per queue would cost more than the input it serves.
class InlineQueue final : public SerialQueue {
  public:
    explicit InlineQueue(std::string label) : label_(std::move(label)) {}
    const std::string& label() const override { return label_; }
    void async(std::function<void()> job) override {
        const bool outer = running_;
        running_ = true;
        job();
        running_ = outer;
    }
    bool isCurrent() const override { return running_; }

  private:
    std::string label_;
    bool running_ = false;
};

class InlineDispatch final : public Dispatch {
  public:
    std::shared_ptr<SerialQueue> makeSerialQueue(std::string label) override {
        return std::make_shared<InlineQueue>(std::move(label));
    }
    // Timers never tick: no target waits for a status line.
    std::unique_ptr<RepeatingTimer> startRepeatingTimer(std::shared_ptr<SerialQueue>,
                                                        std::chrono::nanoseconds,
                                                        std::function<void()>) override {
        return std::make_unique<RepeatingTimer>();
    }
    void asyncOnMain(std::function<void()> job) override { job(); }
    void runMainLoop() override {}
};

using Key = std::tuple<AudioObjectID, std::uint32_t, std::uint32_t, std::uint32_t>;

Key keyOf(AudioObjectID object, const AudioObjectPropertyAddress& address) {
    return {object, address.mSelector, address.mScope, address.mElement};
}

// The installed hardware: the current input's simulated table, with announced sizes on demand.
class ForwardingHardware final : public AudioHardware {
  public:
    void reset() {
        table = std::make_unique<sim::SimAudioHardware>();
        announcedSizes.clear();
    }

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& outDataSize) override {
        const OSStatus status = table->getPropertyDataSize(object, address, outDataSize);
        if (const auto found = announcedSizes.find(keyOf(object, address));
            status == 0 && found != announcedSizes.end()) {
            outDataSize = found->second;
        }
        return status;
    }
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t& ioDataSize, void* outData) override {
        return table->getPropertyData(object, address, ioDataSize, outData);
    }
    OSStatus getStringPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                   std::string& outValue) override {
        return table->getStringPropertyData(object, address, outValue);
    }
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override {
        return table->hasProperty(object, address);
    }
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& outIsSettable) override {
        return table->isPropertySettable(object, address, outIsSettable);
    }
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             std::uint32_t dataSize, const void* data) override {
        return table->setPropertyData(object, address, dataSize, data);
    }

    std::unique_ptr<sim::SimAudioHardware> table;
    std::map<Key, std::uint32_t> announcedSizes;
};

// The installed media: the current input's simulated media (the real portable media beneath).
class ForwardingMedia final : public Media {
  public:
    void reset() { media = std::make_unique<sim::SimMedia>(); }

    std::shared_ptr<AudioFormat> makeFormat(const AudioStreamBasicDescription& asbd) override {
        return media->makeFormat(asbd);
    }
    std::shared_ptr<AudioFormat> makeFormat(CommonFormat format, double sampleRate,
                                            std::uint32_t channels, bool interleaved) override {
        return media->makeFormat(format, sampleRate, channels, interleaved);
    }
    std::shared_ptr<PCMBuffer> makePCMBuffer(const std::shared_ptr<AudioFormat>& format,
                                             std::uint32_t frameCapacity) override {
        return media->makePCMBuffer(format, frameCapacity);
    }
    std::shared_ptr<AudioConverter> makeConverter(const std::shared_ptr<AudioFormat>& from,
                                                  const std::shared_ptr<AudioFormat>& to) override {
        return media->makeConverter(from, to);
    }

    std::unique_ptr<sim::SimMedia> media;
};

// Never destroyed, like every installed facility. The simulated platform lends the facilities
// that keep no per-input state; it is never installed itself.
struct Installed {
    sim::SimPlatform simulated;
    InlineDispatch dispatch;
    ForwardingHardware hardware;
    ForwardingMedia media;
};

Installed& installed() {
    static Installed* const once = [] {
        auto* made = new Installed;
        made->hardware.reset();
        made->media.reset();
        platform::install(Platform{made->dispatch, made->simulated.files, made->simulated.processes,
                                   made->simulated.application, made->hardware,
                                   made->simulated.text, made->simulated.screenCapture, made->media,
                                   made->simulated.audioQueues});
        return made;
    }();
    return *once;
}

} // namespace

FuzzPlatform& FuzzPlatform::forNextInput() {
    static FuzzPlatform handle;
    Installed& platform = installed();
    platform.hardware.reset();
    platform.media.reset();
    return handle;
}

sim::SimAudioHardware& FuzzPlatform::audioHardware() {
    return *installed().hardware.table;
}

sim::SimMedia& FuzzPlatform::media() {
    return *installed().media.media;
}

void FuzzPlatform::announceSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                std::uint32_t size) {
    installed().hardware.announcedSizes[keyOf(object, address)] = size;
}

} // namespace tovanel::fuzz
