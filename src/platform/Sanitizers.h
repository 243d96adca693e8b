#pragma once
// Which sanitizer a build runs under. GCC names it with __SANITIZE_*__, Clang through
// __has_feature; the code asks these names instead.
//   LUMORA_UNDER_TSAN, LUMORA_UNDER_ASAN  defined to 1 under that sanitizer
//   LUMORA_UNDER_SANITIZER                defined to 1 under either
//   LUMORA_NOT_RACE_CHECKED               on a function the race detector leaves uninstrumented

#if defined(__SANITIZE_THREAD__)
#define LUMORA_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define LUMORA_UNDER_TSAN 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__)
#define LUMORA_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LUMORA_UNDER_ASAN 1
#endif
#endif

#if defined(LUMORA_UNDER_TSAN) || defined(LUMORA_UNDER_ASAN)
#define LUMORA_UNDER_SANITIZER 1
#endif

#if defined(LUMORA_UNDER_TSAN)
#define LUMORA_NOT_RACE_CHECKED __attribute__((no_sanitize("thread")))
#else
#define LUMORA_NOT_RACE_CHECKED
#endif
