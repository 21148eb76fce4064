#pragma once

#include "drives/Failure.h"

#include <array>

// A fixed array indexed from First to Last, as the window's control arrays and the
// slot table are. Every access checks its index.
template<typename T, int First, int Last>
class IndexedArray
{
public:
    T &operator[](int index) { return m_items[slot(index)]; }
    const T &operator[](int index) const { return m_items[slot(index)]; }

    static constexpr int first() { return First; }
    static constexpr int last() { return Last; }

private:
    static std::size_t slot(int index)
    {
        if (index < First || index > Last)
            throw failureFor(FailureNumber::IndexOutOfRange);
        return std::size_t(index - First);
    }

    std::array<T, Last - First + 1> m_items{};
};

// Slot 0 is the source side; 1 to 8 are the destination slots.
constexpr int FirstSlot = 1;
constexpr int LastSlot = 8;

template<typename T>
using SlotArray = IndexedArray<T, 0, LastSlot>;
