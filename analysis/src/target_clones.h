#pragma once

// The hot loops built several times over, one picked by the processor when
// the program loads (GCC's function multiversioning, Linux x86-64 only).
// Not under ThreadSanitizer: the loader runs the picking code before the
// sanitizer's runtime is there to take its instrumented calls.
//
// KOVA_TARGET_WIDE marks a version of its own for AVX-512, for loops in
// lanes of eight doubles, which GCC splits into scalars on narrower units;
// KOVA_TARGET_DEFAULT marks the version beside it that every build has.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define KOVA_TARGET_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#define KOVA_TARGET_WIDE __attribute__((target("arch=x86-64-v4")))
#define KOVA_TARGET_DEFAULT __attribute__((target("default")))
#else
#define KOVA_TARGET_CLONES(...)
#define KOVA_TARGET_DEFAULT
#endif
