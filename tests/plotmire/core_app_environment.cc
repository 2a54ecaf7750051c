#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

// The local-socket tests need an application object for the receiving side's event loop.
class CoreAppEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { app_ = new QCoreApplication(argc_, argv_); }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[16] = "plotmire_test";
  char* argv_[2] = {name_, nullptr};
  QCoreApplication* app_ = nullptr;
};

const ::testing::Environment* const kEnvironment = ::testing::AddGlobalTestEnvironment(new CoreAppEnvironment);

}  // namespace
