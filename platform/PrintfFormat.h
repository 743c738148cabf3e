#pragma once

// Marks a function that takes a printf format and its arguments, so the compiler checks them. On
// Windows the build uses the C library's standard printf (__USE_MINGW_ANSI_STDIO), whose formats
// are the GNU ones (%zu, %lld), not the system library's.
#ifdef _WIN32
#define QOR_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(gnu_printf, formatIndex, firstArgument)))
#else
#define QOR_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#endif
