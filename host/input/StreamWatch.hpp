// A watch a stream consults as it reads: it ends the stream's delivery once a document's
// time is up, and publishes how far the stream has got for a progress display.
#ifndef WQHOST_STREAM_WATCH_HPP
#define WQHOST_STREAM_WATCH_HPP

#include <atomic>
#include <cstdint>

namespace wqhost {

// Shared by a document's streams (the plug-in's and the host reader's). Not copyable: the
// streams hold its address.
class StreamWatch {
  public:
    StreamWatch() = default;
    StreamWatch(const StreamWatch&) = delete;
    StreamWatch& operator=(const StreamWatch&) = delete;

    // Time allowed from now; 0 or less means no limit.
    void limitTo(double seconds);
    // Where the bytes-read high-water mark is added as it grows (may be null). The
    // counter is only ever increased, so one counter can sum many documents.
    void reportTo(std::atomic<int64_t>* counter) { progress_ = counter; }

    // Called by a stream before each read, with the offset the read starts at. False once
    // the time is up: the stream then delivers nothing more. The clock is read only every
    // few hundred calls, because the reader reads once per line.
    bool allow(int64_t position) {
        lastRead_ = position;
        if (expired_) return false;
        if (--countdown_ > 0) return true;
        return check(position);
    }
    bool expired() const { return expired_; }
    // As allow(), but reads the clock now: for a caller that waits rather than reads.
    bool allowNow(int64_t position) {
        lastRead_ = position;
        return !expired_ && check(position);
    }
    // The offset the latest read started at. A reader that fails again with this unmoved
    // failed at the same place, and will again.
    int64_t lastRead() const { return lastRead_; }
    // Where lastRead() is kept, for whoever must read it at a moment of its own choosing
    // (the services stamping a record as the reader makes it).
    const int64_t* lastReadAddress() const { return &lastRead_; }
    // Adds what is left up to `position` to the progress counter: a document that ends
    // early, or whose last reads fell between two checks, still counts in full.
    void publishUpTo(int64_t position);

  private:
    bool check(int64_t position);

    int64_t deadlineNs_ = 0;  // CLOCK_MONOTONIC; 0: no limit
    std::atomic<int64_t>* progress_ = nullptr;
    int64_t published_ = 0;  // part of the high-water mark already added to progress_
    int64_t lastRead_ = -1;  // where the latest read started; -1 before any read
    int32_t countdown_ = 0;
    bool expired_ = false;
};

}  // namespace wqhost

#endif
