// The compiler checks every printf-style call against its format.
#pragma once

#ifndef PRINTF_LIKE
#define PRINTF_LIKE(fmt, args) __attribute__((format(printf, fmt, args)))
#endif
