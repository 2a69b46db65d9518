// check-macos-probe: what scripts/check-macos asks the Mac itself, built there with one c++
// command. Objective-C++ with ARC; exits 0 done, 1 failed, 2 misused.
//
//   permissions          screen=allowed|missing microphone=authorized|not-determined|denied|
//                        restricted|unavailable, for the application that started this probe
//   request-screen       asks for Screen & System Audio Recording (a prompt, or the pane in
//                        System Settings); the answer counts only once that application restarts
//   request-microphone   asks for the Microphone and waits (up to 5 minutes) for the answer:
//                        granted or refused
//   defaults             the default input, output and system output: selector, UID and name,
//                        tab-separated, one line each
//   restore-defaults F   makes the devices in F (as `defaults` printed them) the defaults again
//   play DEVICE FILE     plays an audio file into the output device of that name
//
// The capture-device authorization is reached as the program reaches it: AVFoundation loaded
// from its fixed path, AVCaptureDevice through declarations of our own.
#import <AVFAudio/AVFAudio.h>
#import <CoreAudio/CoreAudio.h>
#import <CoreGraphics/CoreGraphics.h>
#import <Foundation/Foundation.h>

#include <dlfcn.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

@protocol ProbeCaptureDeviceAuthorization
+ (NSInteger)authorizationStatusForMediaType:(NSString*)mediaType;
+ (void)requestAccessForMediaType:(NSString*)mediaType
                completionHandler:(void (^)(BOOL granted))handler;
@end

namespace {

NSString* const kAudioMediaType = @"soun"; // AVMediaTypeAudio

Class<ProbeCaptureDeviceAuthorization> captureDevice() {
    if (::dlopen("/System/Library/Frameworks/AVFoundation.framework/AVFoundation", RTLD_LAZY) ==
        nullptr) {
        return nil;
    }
    Class device = NSClassFromString(@"AVCaptureDevice");
    return [device respondsToSelector:@selector(authorizationStatusForMediaType:)] ? device : nil;
}

const char* microphoneStatus() {
    Class<ProbeCaptureDeviceAuthorization> device = captureDevice();
    if (device == nil) {
        return "unavailable";
    }
    switch ([device authorizationStatusForMediaType:kAudioMediaType]) {
    case 0:
        return "not-determined";
    case 1:
        return "restricted";
    case 2:
        return "denied";
    case 3:
        return "authorized";
    default:
        return "unavailable";
    }
}

int requestMicrophone() {
    Class<ProbeCaptureDeviceAuthorization> device = captureDevice();
    if (device == nil) {
        std::puts("unavailable");
        return 1;
    }
    __block int answer = 0; // set on AVFoundation's queue, read here once it has signalled
    dispatch_semaphore_t answered = dispatch_semaphore_create(0);
    [device requestAccessForMediaType:kAudioMediaType
                    completionHandler:^(BOOL granted) {
                      answer = granted ? 1 : 0;
                      dispatch_semaphore_signal(answered);
                    }];
    // The prompt needs the main run loop: run it until the answer is in.
    NSDate* deadline = [NSDate dateWithTimeIntervalSinceNow:300];
    bool answeredInTime = false;
    while (!(answeredInTime = dispatch_semaphore_wait(answered, DISPATCH_TIME_NOW) == 0) &&
           [deadline timeIntervalSinceNow] > 0) {
        [NSRunLoop.currentRunLoop runUntilDate:[NSDate dateWithTimeIntervalSinceNow:0.2]];
    }
    std::puts(!answeredInTime ? "no answer" : answer == 1 ? "granted" : "refused");
    return answeredInTime && answer == 1 ? 0 : 1;
}

// Invalid UTF-8 (never in a name we are given) becomes the empty string rather than nil.
NSString* text(const char* utf8) {
    NSString* string = [NSString stringWithUTF8String:utf8];
    return string != nil ? string : @"";
}

AudioObjectPropertyAddress globalAddress(AudioObjectPropertySelector selector) {
    return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

NSString* stringProperty(AudioObjectID object, AudioObjectPropertySelector selector) {
    const AudioObjectPropertyAddress address = globalAddress(selector);
    CFStringRef value = nullptr;
    UInt32 size = sizeof value;
    if (AudioObjectGetPropertyData(object, &address, 0, nullptr, &size, &value) != noErr ||
        value == nullptr) {
        return nil;
    }
    return CFBridgingRelease(value);
}

std::vector<AudioObjectID> devices() {
    const AudioObjectPropertyAddress address = globalAddress(kAudioHardwarePropertyDevices);
    UInt32 size = 0;
    if (AudioObjectGetPropertyDataSize(kAudioObjectSystemObject, &address, 0, nullptr, &size) !=
        noErr) {
        return {};
    }
    std::vector<AudioObjectID> list(size / sizeof(AudioObjectID));
    if (AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr, &size,
                                   list.data()) != noErr) {
        return {};
    }
    list.resize(size / sizeof(AudioObjectID));
    return list;
}

AudioObjectID deviceWith(AudioObjectPropertySelector selector, NSString* value) {
    for (AudioObjectID device : devices()) {
        if ([stringProperty(device, selector) isEqualToString:value]) {
            return device;
        }
    }
    return kAudioObjectUnknown;
}

struct Default {
    const char* name;
    AudioObjectPropertySelector selector;
};
constexpr Default kDefaults[] = {
    {"input", kAudioHardwarePropertyDefaultInputDevice},
    {"output", kAudioHardwarePropertyDefaultOutputDevice},
    {"system-output", kAudioHardwarePropertyDefaultSystemOutputDevice}};

int printDefaults() {
    for (const Default& entry : kDefaults) {
        const AudioObjectPropertyAddress address = globalAddress(entry.selector);
        AudioObjectID device = kAudioObjectUnknown;
        UInt32 size = sizeof device;
        AudioObjectGetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr, &size, &device);
        NSString* uid = stringProperty(device, kAudioDevicePropertyDeviceUID);
        NSString* name = stringProperty(device, kAudioObjectPropertyName);
        std::printf("%s\t%s\t%s\n", entry.name, uid != nil ? uid.UTF8String : "",
                    name != nil ? name.UTF8String : "none");
    }
    return 0;
}

int restoreDefaults(const char* path) {
    std::ifstream in(path);
    int failures = 0;
    for (std::string line; std::getline(in, line);) {
        const auto tab = line.find('\t'), next = line.find('\t', tab + 1);
        if (tab == std::string::npos || next == std::string::npos) {
            continue;
        }
        const std::string which = line.substr(0, tab), uid = line.substr(tab + 1, next - tab - 1);
        for (const Default& entry : kDefaults) {
            if (which != entry.name || uid.empty()) {
                continue;
            }
            AudioObjectID device = deviceWith(kAudioDevicePropertyDeviceUID, text(uid.c_str()));
            const AudioObjectPropertyAddress address = globalAddress(entry.selector);
            if (device == kAudioObjectUnknown ||
                AudioObjectSetPropertyData(kAudioObjectSystemObject, &address, 0, nullptr,
                                           sizeof device, &device) != noErr) {
                std::fprintf(stderr, "cannot make %s the default %s again\n", uid.c_str(),
                             entry.name);
                ++failures;
            }
        }
    }
    return failures == 0 ? 0 : 1;
}

int play(const char* deviceName, const char* file) {
    NSString* uid = stringProperty(deviceWith(kAudioObjectPropertyName, text(deviceName)),
                                   kAudioDevicePropertyDeviceUID);
    NSURL* url = [NSURL fileURLWithPath:text(file)];
    AVAudioPlayer* player = [[AVAudioPlayer alloc] initWithContentsOfURL:url error:nil];
    if (uid == nil || player == nil) {
        std::fprintf(stderr, "cannot play %s into %s\n", file, deviceName);
        return 1;
    }
    player.currentDevice = uid;
    if (![player play]) {
        return 1;
    }
    [NSRunLoop.currentRunLoop
        runUntilDate:[NSDate dateWithTimeIntervalSinceNow:player.duration + 0.5]];
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    @autoreleasepool {
        const std::string command = argc > 1 ? argv[1] : "";
        if (command == "permissions" && argc == 2) {
            std::printf("screen=%s microphone=%s\n",
                        CGPreflightScreenCaptureAccess() ? "allowed" : "missing",
                        microphoneStatus());
            return 0;
        }
        if (command == "request-screen" && argc == 2) {
            std::puts(CGRequestScreenCaptureAccess() ? "allowed" : "missing");
            return 0;
        }
        if (command == "request-microphone" && argc == 2) {
            return requestMicrophone();
        }
        if (command == "defaults" && argc == 2) {
            return printDefaults();
        }
        if (command == "restore-defaults" && argc == 3) {
            return restoreDefaults(argv[2]);
        }
        if (command == "play" && argc == 4) {
            return play(argv[2], argv[3]);
        }
        std::fputs("usage: check-macos-probe permissions | request-screen | request-microphone | "
                   "defaults | restore-defaults FILE | play DEVICE FILE\n",
                   stderr);
        return 2;
    }
}
