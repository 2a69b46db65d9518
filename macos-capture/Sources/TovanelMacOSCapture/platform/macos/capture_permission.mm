// AVCaptureDevice's authorization for the audio media type. The class is looked up at run time in
// AVFoundation, loaded from its fixed path, and called through declarations of our own: the SDK
// the cross build uses carries neither AVFoundation's headers nor its link stub, and the product
// must not fail to launch where the framework cannot be loaded, only say so.
#include "platform/macos/capture_permission.h"

#import <Foundation/Foundation.h>

#include <dlfcn.h>

#include <string>

// The two class methods of AVCaptureDevice we call, as AVFoundation declares them (macOS 10.14+):
// AVMediaType is an NSString, AVAuthorizationStatus an NSInteger.
@protocol TovanelCaptureDeviceAuthorization
+ (NSInteger)authorizationStatusForMediaType:(NSString*)mediaType;
+ (void)requestAccessForMediaType:(NSString*)mediaType
                completionHandler:(void (^)(BOOL granted))handler;
@end

namespace tovanel::platform::macos {

namespace {

// Always this path on macOS 10.14 and later; since macOS 11 the library lives only in the shared
// cache, where dlopen still finds it by this path.
constexpr const char* kAVFoundationPath =
    "/System/Library/Frameworks/AVFoundation.framework/AVFoundation";

// AVMediaTypeAudio.
NSString* const kAudioMediaType = @"soun";

// AVCaptureDevice, once AVFoundation is loaded, or why it cannot be had. The library stays
// loaded for the life of the process.
Result<Class> captureDeviceClass() {
    if (::dlopen(kAVFoundationPath, RTLD_LAZY | RTLD_LOCAL) == nullptr) {
        const char* reason = ::dlerror();
        return PlatformError{"dlopen", 0,
                             std::string("AVFoundation cannot be loaded from ") +
                                 kAVFoundationPath + ": " +
                                 (reason != nullptr ? reason : "no reason given")};
    }
    Class device = NSClassFromString(@"AVCaptureDevice");
    if (device == nil || ![device respondsToSelector:@selector(authorizationStatusForMediaType:)] ||
        ![device respondsToSelector:@selector(requestAccessForMediaType:completionHandler:)]) {
        return PlatformError{"NSClassFromString", 0,
                             std::string("AVCaptureDevice with its authorization methods is not "
                                         "in ") +
                                 kAVFoundationPath};
    }
    return device;
}

} // namespace

Result<AudioAuthorization> MacCapturePermission::audioAuthorizationStatus() {
    @autoreleasepool {
        Result<Class> loaded = captureDeviceClass();
        if (!loaded.ok()) {
            return loaded.error();
        }
        Class<TovanelCaptureDeviceAuthorization> device = loaded.value();
        const NSInteger status = [device authorizationStatusForMediaType:kAudioMediaType];
        switch (status) {
        case 0:
            return AudioAuthorization::notDetermined;
        case 1:
            return AudioAuthorization::restricted;
        case 2:
            return AudioAuthorization::denied;
        case 3:
            return AudioAuthorization::authorized;
        default:
            return PlatformError{"authorizationStatusForMediaType:", status,
                                 "AVCaptureDevice answered an unknown authorization status " +
                                     std::to_string(status)};
        }
    }
}

void MacCapturePermission::requestAudioAccess(std::function<void(bool granted)> completion) {
    @autoreleasepool {
        Result<Class> loaded = captureDeviceClass();
        if (!loaded.ok()) {
            completion(false); // nothing to ask; the status already said why
            return;
        }
        Class<TovanelCaptureDeviceAuthorization> device = loaded.value();
        [device requestAccessForMediaType:kAudioMediaType
                        completionHandler:^(BOOL granted) {
                          completion(granted == YES);
                        }];
    }
}

} // namespace tovanel::platform::macos
