// How a per-sample kernel is built for the widest vector unit of the CPU it runs on. On x86-64
// systems with ELF binaries (Linux, with GCC or clang) the kernel is compiled once for AVX-512,
// once for AVX2 and once for the baseline (SSE2), and the dynamic loader binds the widest one the
// CPU has (an ifunc), once per process. On arm64 the baseline is NEON, which every arm64 CPU has
// and the vectoriser uses without being asked. The x86-64 slice of the Apple build stays on the
// baseline: Mach-O has no ifunc.
#pragma once

// ThreadSanitizer instruments the resolver too, which the loader runs before the sanitizer's
// runtime is up: such builds take the baseline.
#if defined(__SANITIZE_THREAD__)
#define TOVANEL_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOVANEL_THREAD_SANITIZER 1
#endif
#endif

#if defined(__x86_64__) && defined(__ELF__) && defined(__has_attribute) &&                         \
    !defined(TOVANEL_THREAD_SANITIZER)
#if __has_attribute(target_clones)
#define TOVANEL_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
#endif

#ifndef TOVANEL_VECTOR_CLONES
#define TOVANEL_VECTOR_CLONES
#endif
