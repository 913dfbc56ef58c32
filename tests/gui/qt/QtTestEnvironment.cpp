// Destroys the test program's QApplication after the last test, so that the
// toolkit (fonts, platform) lets go of everything it took.

#include <gtest/gtest.h>

#include <QApplication>

namespace {

class QtEnvironment : public ::testing::Environment {
  public:
    void TearDown() override { delete QApplication::instance(); }
};

[[maybe_unused]] const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
