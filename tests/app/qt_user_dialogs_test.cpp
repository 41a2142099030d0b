#include "app/qt_user_dialogs.h"

#include <gtest/gtest.h>

namespace {

TEST(ToQtFileFilter, ConvertsDescriptionPatternPairs)
{
    EXPECT_EQ(toQtFileFilter("Ostrel Resources|*.dir;*.txd").toStdString(), "Ostrel Resources (*.dir *.txd)");
    EXPECT_EQ(toQtFileFilter("Targa Image|*.tga").toStdString(), "Targa Image (*.tga)");
    // Descriptions that already show their own patterns do not get them twice.
    EXPECT_EQ(toQtFileFilter("All (*.png;*.jpg)|*.png;*.jpg|Portable Network Graphic (*.png)|*.png").toStdString(),
              "All (*.png *.jpg);;Portable Network Graphic (*.png)");
    EXPECT_EQ(toQtFileFilter("").toStdString(), "");
}

} // namespace
