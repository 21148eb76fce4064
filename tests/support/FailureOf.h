#pragma once

#include "drives/Failure.h"

// The number of the failure the call throws, 0 when it returns.
template<typename Call>
int failureOf(Call &&call)
try {
    call();
    return 0;
} catch (const Failure &failure) {
    return failure.number();
}
