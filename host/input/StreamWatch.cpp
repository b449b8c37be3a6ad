// The clock and progress side of a stream's watch.
#include "StreamWatch.hpp"

#include <time.h>

namespace wqhost {
namespace {

// Reads between two looks at the clock: about a tenth of a millisecond of reading.
constexpr int32_t kReadsPerCheck = 256;

int64_t nowNs() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

}  // namespace

void StreamWatch::limitTo(double seconds) {
    deadlineNs_ = seconds > 0 ? nowNs() + static_cast<int64_t>(seconds * 1e9) : 0;
    expired_ = false;
    countdown_ = 0;
}

void StreamWatch::publishUpTo(int64_t position) {
    if (progress_ != nullptr && position > published_) {
        progress_->fetch_add(position - published_, std::memory_order_relaxed);
        published_ = position;
    }
}

bool StreamWatch::check(int64_t position) {
    countdown_ = kReadsPerCheck;
    publishUpTo(position);
    if (deadlineNs_ != 0 && nowNs() >= deadlineNs_) expired_ = true;
    return !expired_;
}

}  // namespace wqhost
