// Whether this build runs under ThreadSanitizer, for the few places that must do without what it
// cannot follow: TOVANEL_THREAD_SANITIZER is defined then.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define TOVANEL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOVANEL_THREAD_SANITIZER 1
#endif
#endif
