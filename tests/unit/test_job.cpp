// The job runner: every background job holds its lock bit from before its
// thread exists until its body has returned, whatever happens; a thread
// that cannot start is said once and leaves nothing locked; a stop request
// reaches the body; the body's message is posted as it ends.
#include <gtest/gtest.h>

#include <cstring>

#include "device/bridge.h"
#include "device/job.h"
#include "link/timer.h"
#include "platform/thread.h"
#include "../support/bridge_messages.h"
#include "../support/held_job.h"

namespace {

struct Seen {
  bool lockedInBody = false;
  bool stopInBody = false;
  int runs = 0;
};

void body(void* arg) {
  Seen* s = (Seen*)arg;
  s->runs++;
  s->lockedInBody = job_running(LOCK_COMMISSION);
  s->stopInBody = job_stopRequested(LOCK_COMMISSION);
  pStatusTop.store(7);
  pStatusSt.store(7);
  job_setMessage(LOCK_COMMISSION, false, "done here");
}

class Job : public testing::Test {
 protected:
  void SetUp() override {
    shown.clear();
    takeMessages();
    shown.clear();
    job_setStarter(heldjob::hold);
  }
  void TearDown() override { job_setStarter(nullptr); }
};

}  // namespace

TEST_F(Job, HoldsItsLockFromTheStartToTheEndAndPostsItsMessageLast) {
  Seen seen;
  ASSERT_EQ(job_start(LOCK_COMMISSION, "The run", body, &seen), JOB_STARTED);
  EXPECT_TRUE(job_running(LOCK_COMMISSION)) << "locked before the thread runs";
  EXPECT_EQ(job_start(LOCK_COMMISSION, "The run", body, &seen), JOB_BUSY) << "one job per lock bit";
  EXPECT_EQ(job_start(LOCK_FIRMWARE | LOCK_DISCOVERY, "Two", body, &seen), JOB_BUSY) << "one bit names a job";
  job_requestStop(LOCK_COMMISSION);
  heldjob::run();
  EXPECT_EQ(seen.runs, 1);
  EXPECT_TRUE(seen.lockedInBody);
  EXPECT_TRUE(seen.stopInBody);
  EXPECT_FALSE(job_running(LOCK_COMMISSION));
  EXPECT_FALSE(job_alive(LOCK_COMMISSION));
  EXPECT_EQ(pStatusTop.load(), 100) << "the bar is left idle";
  EXPECT_EQ(pStatusSt.load(), 0);
  takeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, BRIDGE_INFO);
  EXPECT_EQ(shown[0].second, "done here");

  // The next job starts without the old stop request, and a stop asked
  // while nothing runs reaches nobody.
  job_requestStop(LOCK_COMMISSION);
  ASSERT_EQ(job_start(LOCK_COMMISSION, "The run", body, &seen), JOB_STARTED);
  heldjob::run();
  EXPECT_FALSE(seen.stopInBody);
  takeMessages();
}

TEST_F(Job, AThreadThatCannotStartIsSaidOnceAndLeavesNothingLocked) {
  job_setStarter(heldjob::fail);
  Seen seen;
  testing::internal::CaptureStderr();
  EXPECT_EQ(job_start(LOCK_DISCOVERY, "Discovery", body, &seen), JOB_FAILED);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(seen.runs, 0) << "nothing runs on the caller's thread instead";
  EXPECT_FALSE(job_running(LOCK_DISCOVERY));
  EXPECT_FALSE(job_alive(LOCK_DISCOVERY));
  takeMessages();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].first, BRIDGE_ERROR);
  EXPECT_EQ(shown[0].second, std::string("Discovery could not be started: ") + strerror(EAGAIN) + ".");
}

namespace {

// A body that stops at its checkpoint and counts how far it got.
std::atomic<int> passed{0};
void checkpointBody(void*) {
  job_checkpoint(LOCK_COMMISSION);
  passed.fetch_add(1);
}

}  // namespace

// The same, under the name the ThreadSanitizer run picks.
class JobThreads : public Job {};

TEST_F(JobThreads, APausedJobWaitsAtItsCheckpointUntilLetGoOrStopped) {
  for (bool stop : {false, true}) {
    passed.store(0);
    ASSERT_EQ(job_start(LOCK_COMMISSION, "The run", checkpointBody, nullptr), JOB_STARTED);
    job_pause(LOCK_COMMISSION, true);
    // The body's thread starts only now, paused from the first.
    ASSERT_EQ(thread_start(heldjob::fn, heldjob::arg), 0);
    mySleep(200);
    EXPECT_TRUE(job_running(LOCK_COMMISSION));
    EXPECT_EQ(passed.load(), 0) << "held while paused";
    if (stop)
      job_requestStop(LOCK_COMMISSION);
    else
      job_pause(LOCK_COMMISSION, false);
    while (job_alive(LOCK_COMMISSION)) mySleep(10);
    EXPECT_EQ(passed.load(), 1) << (stop ? "a stop lets it go" : "let go");
  }
}
