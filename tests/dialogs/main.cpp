// The dialogs' tests run the real widgets; Qt's offscreen platform stands in for a display.
#include <gtest/gtest.h>

#include <QApplication>

// Qt's offscreen platform keeps its screen objects until the process ends.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libqoffscreen\nleak:QScreen::QScreen\nleak:QPlatformScreen::QPlatformScreen\n"
         "leak:QWindowSystemInterface::handleScreenAdded\nleak:QtSharedPointer::ExternalRefCountData::getAndRef\n"
         "leak:QObject::QObject\n";
}

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  if (testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
