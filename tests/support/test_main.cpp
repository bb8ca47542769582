// Shared main of the GoogleTest binaries: a QApplication on the offscreen platform unless the
// caller chose another one, Brazilian locale, then every test.
#include "support/testenv.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    fis::test::prepareEnvironment();
    QApplication app(argc, argv);
    fis::test::prepareApplication();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
