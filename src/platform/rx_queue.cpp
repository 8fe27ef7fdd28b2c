#include "platform/rx_queue.h"

#include <chrono>

RxQueue::RxQueue(size_t cap) : capacity(cap ? cap : 1), ring(new uint8_t[cap ? cap : 1]) {}

size_t RxQueue::rxq_put(const uint8_t* data, size_t n) {
  size_t kept = 0;
  {
    std::lock_guard<std::mutex> lock(mu);
    kept = capacity - count < n ? capacity - count : n;
    for (size_t i = 0; i < kept; i++) ring[(head + count + i) % capacity] = data[i];
    count += kept;
    dropped += n - kept;
  }
  if (kept) arrived.notify_all();
  return kept;
}

int RxQueue::rxq_take(uint8_t* buf, size_t n, uint64_t timeoutUs, size_t& got) {
  got = 0;
  std::unique_lock<std::mutex> lock(mu);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeoutUs);
  arrived.wait_until(lock, deadline, [&] { return count >= n || failure != 0; });
  if (failure) return failure;
  got = count < n ? count : n;
  for (size_t i = 0; i < got; i++) buf[i] = ring[(head + i) % capacity];
  head = (head + got) % capacity;
  count -= got;
  return 0;
}

size_t RxQueue::rxq_size(int& fail) {
  std::lock_guard<std::mutex> lock(mu);
  fail = failure;
  return count;
}

void RxQueue::rxq_fail(int code) {
  {
    std::lock_guard<std::mutex> lock(mu);
    failure = code ? code : -1;
  }
  arrived.notify_all();
}

void RxQueue::rxq_reset() {
  std::lock_guard<std::mutex> lock(mu);
  head = count = 0;
  failure = 0;
  dropped = 0;
}

void RxQueue::rxq_clear() {
  std::lock_guard<std::mutex> lock(mu);
  head = count = 0;
}

uint64_t RxQueue::rxq_dropped() {
  std::lock_guard<std::mutex> lock(mu);
  return dropped;
}
