// How a per-sample kernel is built for the widest vector unit of the CPU it runs on. On x86-64
// systems with ELF binaries (Linux, with GCC or clang) the kernel is compiled once for AVX-512,
// once for AVX2 and once for the baseline (SSE2), and the dynamic loader binds the widest one the
// CPU has (an ifunc), once per process. On arm64 the baseline is NEON, which every arm64 CPU has
// and the vectoriser uses without being asked. The x86-64 slice of the Apple build stays on the
// baseline: Mach-O has no ifunc.
//
// A kernel that the tests must run at every width is built the other way below: one function
// per width around one always-inline body, and the kernel's own code picks the widest that
// cpuRunsAvx512() and cpuRunsAvx2() allow, once per process. Each version can then be called by
// name, which the loader's choice of a clone does not allow.
#pragma once

#include "platform/thread_sanitizer.h"

// ThreadSanitizer instruments the resolver too, which the loader runs before the sanitizer's
// runtime is up: such builds take the baseline.

#if defined(__x86_64__) && defined(__ELF__) && defined(__has_attribute) &&                         \
    !defined(TOVANEL_THREAD_SANITIZER)
#if __has_attribute(target_clones)
#define TOVANEL_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#endif
#endif

#ifndef TOVANEL_VECTOR_CLONES
#define TOVANEL_VECTOR_CLONES
#endif

#if defined(__x86_64__) && defined(__ELF__) && defined(__has_attribute)
#if __has_attribute(target)
#define TOVANEL_VECTOR_WIDTHS 1
// The AVX-512 subset of x86-64-v4 and AVX2 alone: exactly what the two checks below ask the CPU
// for, spelled so that GCC and clang both accept them.
#define TOVANEL_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512cd,avx512dq,avx512vl")))
#define TOVANEL_TARGET_AVX2 __attribute__((target("avx2")))

namespace tovanel::platform {

inline bool cpuRunsAvx512() {
    __builtin_cpu_init(); // may run before the runtime's own constructor has
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq") &&
           __builtin_cpu_supports("avx512vl");
}

inline bool cpuRunsAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

} // namespace tovanel::platform
#endif
#endif
