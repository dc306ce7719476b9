#ifndef WEBSETUP_COMMON_THREAD_ANNOTATIONS_H_
#define WEBSETUP_COMMON_THREAD_ANNOTATIONS_H_

// Clang's -Wthread-safety annotations; GCC ignores them.
#if defined(__clang__)
#define WS_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define WS_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) WS_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY WS_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) WS_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) WS_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRE(...) WS_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) WS_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define RELEASE(...) WS_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUSIVE_LOCKS_REQUIRED(...) \
  WS_THREAD_ANNOTATION(exclusive_locks_required(__VA_ARGS__))
#define LOCKS_EXCLUDED(...) WS_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

#endif  // WEBSETUP_COMMON_THREAD_ANNOTATIONS_H_
