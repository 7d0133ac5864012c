#pragma once
// Lets the compiler check the arguments of the project's printf-style functions. They format
// with the C library's printf family, which on MinGW is MinGW's own, standard one (%zu, %lld),
// not the Microsoft run-time's that GCC assumes there for plain "printf".

#if defined(__MINGW32__)
#define VYX_PRINTF_FORMAT(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define VYX_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#endif
