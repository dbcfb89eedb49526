// Clang thread-safety annotations (-Wthread-safety). They expand to nothing
// on other compilers, so code may annotate freely.
#ifndef TEV_SUPPORT_PTHREADANNOTATIONS_H_
#define TEV_SUPPORT_PTHREADANNOTATIONS_H_

#if defined(__clang__)
#define TEV_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TEV_THREAD_ANNOTATION(x)
#endif

#define TEV_CAPABILITY(x) TEV_THREAD_ANNOTATION(capability(x))
#define TEV_SCOPED_CAPABILITY TEV_THREAD_ANNOTATION(scoped_lockable)
#define TEV_GUARDED_BY(x) TEV_THREAD_ANNOTATION(guarded_by(x))
#define TEV_REQUIRES(...) TEV_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define TEV_EXCLUDES(...) TEV_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define TEV_ACQUIRE(...) TEV_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define TEV_RELEASE(...) TEV_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define TEV_ASSERT_CAPABILITY(x) TEV_THREAD_ANNOTATION(assert_capability(x))
#define TEV_TRY_ACQUIRE(...) TEV_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TEV_NO_THREAD_SAFETY_ANALYSIS TEV_THREAD_ANNOTATION(no_thread_safety_analysis)
#define TEV_RETURN_CAPABILITY(x) TEV_THREAD_ANNOTATION(lock_returned(x))

#endif  // TEV_SUPPORT_PTHREADANNOTATIONS_H_
