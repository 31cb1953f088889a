// QS_SANITIZER_ALLOCATOR: this translation unit is compiled with a sanitizer whose runtime owns
// the allocator (address, thread, memory). Asked of the compiler itself, so that a build
// sanitized through any flags, not only the project's cache variable, is recognised. Such a
// runtime cannot run under valgrind, and it has its own global operator new.
#ifndef QS_TESTS_SANITIZER_BUILD_H_
#define QS_TESTS_SANITIZER_BUILD_H_

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(__SANITIZE_HWADDRESS__)
#define QS_SANITIZER_ALLOCATOR 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer) || __has_feature(hwaddress_sanitizer)
#define QS_SANITIZER_ALLOCATOR 1
#endif
#endif

#endif  // QS_TESTS_SANITIZER_BUILD_H_
