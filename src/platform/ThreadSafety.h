#pragma once
// Annotations for Clang's thread-safety analysis (-Wthread-safety): which lock guards a field,
// which lock a function needs or takes. The `clang` preset builds with the analysis on and its
// findings as errors; other compilers see nothing.
//
//   int count_ LUMORA_GUARDED_BY(mutex_);
//   void TrimLocked() LUMORA_REQUIRES(mutex_);
//
// A lock class is a LUMORA_CAPABILITY; a guard object that holds one for its scope is a
// LUMORA_SCOPED_CAPABILITY whose constructor acquires and destructor releases it.
#if defined(__clang__)
#define LUMORA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define LUMORA_THREAD_ANNOTATION(x)
#endif

#define LUMORA_CAPABILITY(name) LUMORA_THREAD_ANNOTATION(capability(name))
#define LUMORA_SCOPED_CAPABILITY LUMORA_THREAD_ANNOTATION(scoped_lockable)
#define LUMORA_GUARDED_BY(lock) LUMORA_THREAD_ANNOTATION(guarded_by(lock))
#define LUMORA_PT_GUARDED_BY(lock) LUMORA_THREAD_ANNOTATION(pt_guarded_by(lock))
#define LUMORA_ACQUIRED_BEFORE(...) LUMORA_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define LUMORA_REQUIRES(...) LUMORA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define LUMORA_ACQUIRE(...) LUMORA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define LUMORA_RELEASE(...) LUMORA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define LUMORA_TRY_ACQUIRE(...) LUMORA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define LUMORA_EXCLUDES(...) LUMORA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define LUMORA_ASSERT_CAPABILITY(x) LUMORA_THREAD_ANNOTATION(assert_capability(x))
#define LUMORA_RETURN_CAPABILITY(x) LUMORA_THREAD_ANNOTATION(lock_returned(x))
#define LUMORA_NO_THREAD_SAFETY_ANALYSIS LUMORA_THREAD_ANNOTATION(no_thread_safety_analysis)
