#pragma once

// The hot loops built several times over, one picked by the processor when
// the program loads (GCC's function multiversioning, Linux x86-64 only).
// Not under ThreadSanitizer: the loader runs the picking code before the
// sanitizer's runtime is there to take its instrumented calls.

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define KOVA_TARGET_CLONES(...) __attribute__((target_clones(__VA_ARGS__)))
#else
#define KOVA_TARGET_CLONES(...)
#endif
