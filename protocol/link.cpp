#include "link.h"

#include <chrono>

LinkTime linkNow()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}
