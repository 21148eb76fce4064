#pragma once

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

// A broken invariant aborts: libFuzzer then keeps the input that led here.
#define FUZZ_EXPECT(condition, input) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "%s:%d: broken: %s\ninput: %s\n", __FILE__, __LINE__, #condition, \
                         QByteArray(input).toPercentEncoding().constData()); \
            std::abort(); \
        } \
    } while (false)
