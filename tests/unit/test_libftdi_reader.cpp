// The background reader's parts that need no USB: unpacking the chip's
// transfers and the bounded receive queue with its wait, across threads.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/libftdi_reader.h"
#include "platform/rx_queue.h"

namespace {

using Clock = std::chrono::steady_clock;
const uint64_t kLongUs = 10u * 1000u * 1000u;  // a wait that must never run out here

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

TEST(LibftdiReader, UnpackDropsTheStatusBytesOfEveryPacket) {
  // Two full 64-byte packets and a short one, each led by modem and line status.
  std::vector<uint8_t> in;
  std::vector<uint8_t> expect;
  const uint8_t lines[3] = {0x60, 0x62, 0x70};
  const int sizes[3] = {64, 64, 10};
  uint8_t next = 1;
  for (int k = 0; k < 3; k++) {
    in.push_back(0x11);
    in.push_back(lines[k]);
    for (int i = 2; i < sizes[k]; i++) {
      in.push_back(next);
      expect.push_back(next++);
    }
  }
  uint8_t out[256];
  uint8_t line = 0;
  int n = libftdi_unpack(in.data(), (int)in.size(), 64, out, sizeof out, line);
  ASSERT_EQ(n, 62 + 62 + 8);
  EXPECT_EQ(std::vector<uint8_t>(out, out + n), expect);
  EXPECT_EQ(line, 0x72) << "every packet's line status counts, the overrun bit included";
  EXPECT_TRUE(line & LIBFTDI_LINE_OVERRUN);

  // A status-only packet carries no data; a short output buffer is never overrun.
  line = 0;
  EXPECT_EQ(libftdi_unpack(in.data(), 2, 64, out, sizeof out, line), 0);
  EXPECT_EQ(line, 0x60);
  EXPECT_EQ(libftdi_unpack(in.data(), (int)in.size(), 64, out, 70, line), 70);
  EXPECT_EQ(out[69], 70);
}

TEST(RxQueue, ReadWaitsForItsCountWhileAThreadDeliversPieces) {
  RxQueue q(1024);
  std::thread producer([&] {
    for (int piece = 0; piece < 3; piece++) {
      // Paced so that the reader finds the queue short of its count.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      uint8_t bytes[100];
      for (int i = 0; i < 100; i++) bytes[i] = (uint8_t)(piece * 100 + i);
      q.rxq_put(bytes, sizeof bytes);
    }
  });
  uint8_t buf[300];
  size_t got = 0;
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(q.rxq_take(buf, sizeof buf, kLongUs, got), 0);
  producer.join();
  EXPECT_LT(secondsSince(start), 5.0) << "the last piece must end the wait";
  ASSERT_EQ(got, 300u);
  for (int i = 0; i < 300; i++) ASSERT_EQ(buf[i], (uint8_t)i) << i;
  int failure = -1;
  EXPECT_EQ(q.rxq_size(failure), 0u);
  EXPECT_EQ(failure, 0);
}

TEST(RxQueue, TimeoutReturnsWhatArrived) {
  RxQueue q(64);
  uint8_t buf[10];
  size_t got = 99;
  EXPECT_EQ(q.rxq_take(buf, sizeof buf, 0, got), 0);
  EXPECT_EQ(got, 0u);
  const uint8_t three[3] = {7, 8, 9};
  q.rxq_put(three, 3);
  EXPECT_EQ(q.rxq_take(buf, sizeof buf, 2000, got), 0);
  ASSERT_EQ(got, 3u);
  EXPECT_EQ(buf[0], 7);
  EXPECT_EQ(buf[2], 9);
}

TEST(RxQueue, FullQueueKeepsTheOldestAndCountsTheDropped) {
  RxQueue q(8);
  const uint8_t a[5] = {1, 2, 3, 4, 5};
  const uint8_t b[5] = {6, 7, 8, 9, 10};
  EXPECT_EQ(q.rxq_put(a, 5), 5u);
  EXPECT_EQ(q.rxq_put(b, 5), 3u);
  EXPECT_EQ(q.rxq_dropped(), 2u);
  int failure = 0;
  EXPECT_EQ(q.rxq_size(failure), 8u);
  uint8_t buf[8];
  size_t got = 0;
  ASSERT_EQ(q.rxq_take(buf, 6, 0, got), 0);
  ASSERT_EQ(got, 6u);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[5], 6);
  // Room again, and the ring wraps around its end.
  EXPECT_EQ(q.rxq_put(b + 3, 2), 2u);
  EXPECT_EQ(q.rxq_put(a, 4), 4u);
  ASSERT_EQ(q.rxq_take(buf, 8, 0, got), 0);
  ASSERT_EQ(got, 8u);
  const uint8_t expect[8] = {7, 8, 9, 10, 1, 2, 3, 4};
  for (int i = 0; i < 8; i++) EXPECT_EQ(buf[i], expect[i]) << i;
  EXPECT_EQ(q.rxq_dropped(), 2u);
  q.rxq_reset();
  EXPECT_EQ(q.rxq_dropped(), 0u);
}

TEST(RxQueue, FailureEndsAWaitingReadAtOnceAndLastsUntilReset) {
  RxQueue q(64);
  const uint8_t one = 0x55;
  q.rxq_put(&one, 1);
  int result = 0;
  size_t got = 99;
  const Clock::time_point start = Clock::now();
  std::thread reader([&] {
    uint8_t buf[10];
    result = q.rxq_take(buf, sizeof buf, kLongUs, got);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  q.rxq_fail(4);
  reader.join();
  EXPECT_LT(secondsSince(start), 5.0) << "an unplugged converter must not hold the read";
  EXPECT_EQ(result, 4);
  EXPECT_EQ(got, 0u);
  int failure = 0;
  q.rxq_size(failure);
  EXPECT_EQ(failure, 4);
  uint8_t buf[1];
  EXPECT_EQ(q.rxq_take(buf, 1, 0, got), 4);
  q.rxq_reset();
  q.rxq_size(failure);
  EXPECT_EQ(failure, 0);
}
