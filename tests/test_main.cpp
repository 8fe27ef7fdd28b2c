// Every test runs on the virtual clock: protocol waits take no real time.
//
// Tests keep the console of the code they run (CaptureStdout/Stderr) to
// check it or to keep the output readable. GoogleTest prints a failed
// check's reason on standard output the moment it fails, so a check that
// fails while the console is kept would lose its reason to the capture: the
// reasons go to the terminal the tests started with instead, whatever is
// being captured meanwhile.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/clock.h"

namespace {

// GoogleTest's own printer, but with the failures' reasons written to the
// original standard output.
class ReasonsPastCaptures : public testing::TestEventListener {
 public:
  ReasonsPastCaptures(testing::TestEventListener* printer, int terminal)
      : printer(printer), terminal(terminal) {}

  void OnTestPartResult(const testing::TestPartResult& r) override {
    if (!r.failed()) return;
    fflush(stdout);
    const std::string text = std::string(r.file_name() ? r.file_name() : "unknown file") + ":" +
                             std::to_string(r.line_number()) + ": Failure\n" + r.message() + "\n";
    if (write(terminal, text.data(), text.size()) < 0) printer->OnTestPartResult(r);
  }
  void OnTestProgramStart(const testing::UnitTest& u) override { printer->OnTestProgramStart(u); }
  void OnTestIterationStart(const testing::UnitTest& u, int i) override {
    printer->OnTestIterationStart(u, i);
  }
  void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override {
    printer->OnEnvironmentsSetUpStart(u);
  }
  void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override { printer->OnEnvironmentsSetUpEnd(u); }
  void OnTestSuiteStart(const testing::TestSuite& s) override { printer->OnTestSuiteStart(s); }
  void OnTestStart(const testing::TestInfo& t) override { printer->OnTestStart(t); }
  void OnTestEnd(const testing::TestInfo& t) override { printer->OnTestEnd(t); }
  void OnTestSuiteEnd(const testing::TestSuite& s) override { printer->OnTestSuiteEnd(s); }
  void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override {
    printer->OnEnvironmentsTearDownStart(u);
  }
  void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override {
    printer->OnEnvironmentsTearDownEnd(u);
  }
  void OnTestIterationEnd(const testing::UnitTest& u, int i) override { printer->OnTestIterationEnd(u, i); }
  void OnTestProgramEnd(const testing::UnitTest& u) override { printer->OnTestProgramEnd(u); }

 private:
  std::unique_ptr<testing::TestEventListener> printer;
  int terminal;
};

}  // namespace

int main(int argc, char** argv) {
  clock_useVirtual(1000000);
  testing::InitGoogleTest(&argc, argv);
  testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
  testing::TestEventListener* printer = listeners.Release(listeners.default_result_printer());
  const int terminal = dup(STDOUT_FILENO);
  if (printer && terminal >= 0) listeners.Append(new ReasonsPastCaptures(printer, terminal));
  else if (printer) listeners.Append(printer);
  return RUN_ALL_TESTS();
}
