// One application object, offscreen, for a whole widget test program that needs
// no main window. Linked into each such program (not part of test_support,
// which has no Qt).
#include <gtest/gtest.h>

#include <QApplication>
#include <cerrno>
#include <memory>

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The program's own name, as the application's name shows in boxes.
        static int argc = 1;
        static char* argv[] = {program_invocation_short_name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
