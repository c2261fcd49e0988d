#pragma once

// DOORWARDEN_ASSERT_ON(runner) stops the process with a message when called off the thread of
// `runner` (a TaskRunner). Checks are on in debug builds and in sanitizer builds (which define
// DOORWARDEN_THREAD_CHECKS); otherwise the macro compiles to nothing and `runner` is not
// evaluated.

#if !defined(NDEBUG) || defined(DOORWARDEN_THREAD_CHECKS)
#define DOORWARDEN_THREAD_CHECKS_ON 1
#else
#define DOORWARDEN_THREAD_CHECKS_ON 0
#endif

#if DOORWARDEN_THREAD_CHECKS_ON

#include <cstdio>
#include <cstdlib>

namespace doorwarden::detail {

[[noreturn]] inline void wrongThread(const char* runner, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: called off the thread of %s\n", file, line, runner);
    std::fflush(stderr);
    std::abort();
}

} // namespace doorwarden::detail

#define DOORWARDEN_ASSERT_ON(runner)                                                                \
    ((runner).isCurrent() ? static_cast<void>(0) : ::doorwarden::detail::wrongThread(#runner, __FILE__, __LINE__))

#else

#define DOORWARDEN_ASSERT_ON(runner) static_cast<void>(0)

#endif
