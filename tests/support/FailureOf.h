#pragma once

#include "drives/Failure.h"

// The failure the call throws, one numbered 0 when it returns.
template<typename Call>
Failure thrownBy(Call &&call)
try {
    call();
    return Failure(0, {});
} catch (const Failure &failure) {
    return failure;
}

// The number of the failure the call throws, 0 when it returns.
template<typename Call>
int failureOf(Call &&call)
{
    return thrownBy(call).number();
}
