#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant aborts: libFuzzer then keeps the input that led here, in the run's crash folder.
#define FUZZ_EXPECT(condition) ((condition) ? void() : (std::fprintf(stderr, "%s:%d: broken: %s\n", __FILE__, __LINE__, #condition), std::abort()))
