// The host-side receive queue of a converter: a bounded byte ring that a
// background reader fills and FT_Read empties. A full queue keeps what it
// holds and drops the newest bytes, counting them, as a full chip buffer
// does. A reader that fails (converter unplugged) marks the queue failed,
// which wakes a waiting read at once.
//
// The wait is on the real clock: the bytes come from real hardware.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

class RxQueue {
 public:
  explicit RxQueue(size_t capacity);

  // Producer: appends what fits and drops the rest. Returns the bytes kept.
  size_t rxq_put(const uint8_t* data, size_t n);
  // Consumer: waits until `n` bytes are queued, the queue fails, or
  // `timeoutUs` has passed, then takes up to `n` bytes. Returns 0, or the
  // failure code once the queue has failed (nothing is taken then).
  int rxq_take(uint8_t* buf, size_t n, uint64_t timeoutUs, size_t& got);
  // Bytes queued; sets `failure` to the failure code (0 while healthy).
  size_t rxq_size(int& failure);

  // Marks the queue failed with `code` (non-zero) and wakes waiters.
  void rxq_fail(int code);
  // Empties the queue, clears the failure and the drop count: a new session.
  void rxq_reset();
  // Discards the queued bytes only.
  void rxq_clear();
  uint64_t rxq_dropped();
  size_t rxq_capacity() const { return capacity; }

 private:
  const size_t capacity;
  std::unique_ptr<uint8_t[]> ring;
  std::mutex mu;
  std::condition_variable arrived;
  size_t head = 0;   // index of the oldest byte
  size_t count = 0;  // bytes queued
  int failure = 0;
  uint64_t dropped = 0;
};
