#include <gtest/gtest.h>

#include <QApplication>

namespace {

// Window tests draw offscreen unless a display platform is asked for.
class GuiAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[20] = "plotmire_gui_test";
  char* argv_[2] = {name_, nullptr};
  QApplication* app_ = nullptr;
};

const ::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new GuiAppEnvironment);

}  // namespace
