// The main of every test program.
//
// On Windows GoogleTest's printer hands each failure and skip message to
// OutputDebugStringA as well as to standard output. Wine raises an exception
// for that call, and in 32-bit Wine under qemu-i386 the raised exception
// brings the process down ("wine client error", "stack smashing detected")
// right after the first skipped or failed test. This main prints those
// messages to standard output only, in GoogleTest's own words, and leaves
// every other event to GoogleTest's printer.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

namespace {

using testing::TestPartResult;

class TestPartPrinter : public testing::TestEventListener {
  public:
    explicit TestPartPrinter(testing::TestEventListener* printer) : printer_(printer) {}

    void OnTestPartResult(const TestPartResult& result) override {
        if (result.type() == TestPartResult::kSuccess) {
            return;
        }
        const char* kind = result.type() == TestPartResult::kSkip ? "Skipped\n" : "Failure\n";
        std::printf("%s %s%s\n",
                    testing::internal::FormatFileLocation(result.file_name(), result.line_number())
                        .c_str(),
                    kind, result.message());
        std::fflush(stdout);
    }

    void OnTestProgramStart(const testing::UnitTest& u) override { printer_->OnTestProgramStart(u); }
    void OnTestIterationStart(const testing::UnitTest& u, int i) override {
        printer_->OnTestIterationStart(u, i);
    }
    void OnEnvironmentsSetUpStart(const testing::UnitTest& u) override {
        printer_->OnEnvironmentsSetUpStart(u);
    }
    void OnEnvironmentsSetUpEnd(const testing::UnitTest& u) override {
        printer_->OnEnvironmentsSetUpEnd(u);
    }
    void OnTestSuiteStart(const testing::TestSuite& s) override { printer_->OnTestSuiteStart(s); }
    // GoogleTest's printer still prints the suite lines through the older names.
    void OnTestCaseStart(const testing::TestCase& s) override { printer_->OnTestCaseStart(s); }
    void OnTestCaseEnd(const testing::TestCase& s) override { printer_->OnTestCaseEnd(s); }
    void OnTestStart(const testing::TestInfo& t) override { printer_->OnTestStart(t); }
    void OnTestDisabled(const testing::TestInfo& t) override { printer_->OnTestDisabled(t); }
    void OnTestEnd(const testing::TestInfo& t) override { printer_->OnTestEnd(t); }
    void OnTestSuiteEnd(const testing::TestSuite& s) override { printer_->OnTestSuiteEnd(s); }
    void OnEnvironmentsTearDownStart(const testing::UnitTest& u) override {
        printer_->OnEnvironmentsTearDownStart(u);
    }
    void OnEnvironmentsTearDownEnd(const testing::UnitTest& u) override {
        printer_->OnEnvironmentsTearDownEnd(u);
    }
    void OnTestIterationEnd(const testing::UnitTest& u, int i) override {
        printer_->OnTestIterationEnd(u, i);
    }
    void OnTestProgramEnd(const testing::UnitTest& u) override { printer_->OnTestProgramEnd(u); }

  private:
    std::unique_ptr<testing::TestEventListener> printer_;
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::TestEventListeners& listeners = testing::UnitTest::GetInstance()->listeners();
    if (testing::TestEventListener* printer = listeners.default_result_printer()) {
        // Released from GoogleTest's list, then owned by the one that replaces it.
        listeners.Release(printer);
        listeners.Append(new TestPartPrinter(printer));
    }
    return RUN_ALL_TESTS();
}
