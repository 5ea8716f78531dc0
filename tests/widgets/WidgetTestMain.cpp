#include <QApplication>
#include <gtest/gtest.h>

// The widget tests draw on Qt's offscreen platform: no display, the same pixels on
// every machine. The HiDPI tests are built with a screen scale factor of their own.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef KESTREL_TEST_SCALE_FACTOR
    qputenv("QT_SCALE_FACTOR", KESTREL_TEST_SCALE_FACTOR);
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
