// gtest entry for shell tests that need a plain application object.
#include "test_support.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    tesmo::test::isolateEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
