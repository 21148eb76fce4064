#pragma once

#include <QtGlobal>

// A broken invariant aborts: libFuzzer then keeps the input that led here, in the run's crash folder.
#define FUZZ_EXPECT(condition) ((condition) ? void() : qFatal("%s:%d: broken: %s", __FILE__, __LINE__, #condition))
