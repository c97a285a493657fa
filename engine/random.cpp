#include "engine/random.h"

#include <chrono>

namespace tsx {

void Random::seedFromClock()
{
    using namespace std::chrono;
    const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const auto perDay = int64_t(24) * 60 * 60 * 1000;
    m_state = uint32_t(((now % perDay) + perDay) % perDay);
}

}  // namespace tsx
