// The pseudo-random generator that placement and rendering draw from. Its
// sequence is part of what a seed reproduces: the same state gives the same
// placement and the same flips, so the arithmetic below never changes.
#pragma once

#include <cstdint>

namespace tsx {

class Random {
public:
    /// Milliseconds since midnight, universal time.
    void seedFromClock();
    /// 0 .. n-1; next(0) is 0 and still advances the state.
    int next(int n)
    {
        m_state = m_state * 134775813u + 1u;
        if (n <= 0)
            return 0;
        // high half of state * n: uniform in [0, n) without a division
        return int((uint64_t(m_state) * uint64_t(uint32_t(n))) >> 32);
    }
    uint32_t state() const { return m_state; }
    void setState(uint32_t state) { m_state = state; }

private:
    uint32_t m_state = 0;
};

}  // namespace tsx
