#pragma once

#include "platform/runtimeerror.h"

#include <cmath>
#include <cstdint>
#include <limits>

// Whole numbers that the commands compute or store are 32-bit signed, and a
// result outside that range is the run-time error "Overflow" rather than a
// silent wrap. These helpers are the only arithmetic the commands do on them.
namespace checked {

[[noreturn]] inline void overflow()
{
    throw RuntimeError(QStringLiteral("Overflow"));
}

inline std::int32_t add(std::int32_t a, std::int32_t b)
{
    std::int32_t r;
    if (__builtin_add_overflow(a, b, &r))
        overflow();
    return r;
}

inline std::int32_t sub(std::int32_t a, std::int32_t b)
{
    std::int32_t r;
    if (__builtin_sub_overflow(a, b, &r))
        overflow();
    return r;
}

// Rounds to the nearest whole number, a half to the even neighbour, as the
// platform's conversion to an integer does.
inline std::int32_t round(double v)
{
    if (!std::isfinite(v))
        overflow();
    const double r = std::nearbyint(v); // default rounding mode: ties to even
    if (r < double(std::numeric_limits<std::int32_t>::min())
        || r > double(std::numeric_limits<std::int32_t>::max()))
        overflow();
    return static_cast<std::int32_t>(r);
}

inline std::int32_t fromSize(qsizetype n)
{
    if (n > std::numeric_limits<std::int32_t>::max())
        overflow();
    return static_cast<std::int32_t>(n);
}

} // namespace checked
