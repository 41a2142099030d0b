// SPDX-License-Identifier: GPL-2.0-or-later
#include "search/ui/find_input_box.h"

#include "tests/search/ui/ui_test_app.h"

#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class FindInputBoxTest : public ::testing::Test {
protected:
    void open(const QString& text)
    {
        searchtest::app();
        box = std::make_unique<FindInputBox>(text);
        box->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box.get()));
    }
    std::unique_ptr<FindInputBox> box;
};

TEST(DialogUnits, QuarterAverageWidthAndEighthHeightRounded)
{
    struct Case {
        int baseX, baseY, units;
        int x, y;
    };
    const Case cases[] = {
        {6, 13, 180, 270, 293},  // 1080/4, 2340/8 = 292.5 rounds up
        {6, 13, 63, 95, 102},    // 94.5 -> 95, 102.375 -> 102
        {7, 13, 50, 88, 81},     // 87.5 -> 88, 81.25 -> 81
        {7, 16, 14, 25, 28},     // 24.5 -> 25, 28
        {5, 13, 8, 10, 13},
    };
    for (const Case& c : cases) {
        const DialogUnits du{c.baseX, c.baseY};
        EXPECT_EQ(du.x(c.units), c.x) << c.baseX << " " << c.units;
        EXPECT_EQ(du.y(c.units), c.y) << c.baseY << " " << c.units;
    }
}

TEST(DialogUnits, FollowTheFontsSize)
{
    searchtest::app();
    QFont small(QStringLiteral("Arial"));
    small.setPixelSize(11);
    QFont large = small;
    large.setPixelSize(22);
    const DialogUnits s = DialogUnits::of(small);
    const DialogUnits l = DialogUnits::of(large);
    EXPECT_GT(s.baseX, 0);
    EXPECT_GT(s.baseY, 0);
    EXPECT_GT(l.baseX, s.baseX);
    EXPECT_GT(l.baseY, s.baseY);
}

TEST_F(FindInputBoxTest, LaidOutInDialogUnitsOfItsFont)
{
    open(QStringLiteral("abc"));
    const DialogUnits du = DialogUnits::of(box->font());
    EXPECT_EQ(box->windowTitle().toStdString(), "Find");
    EXPECT_EQ(box->Prompt->text().toStdString(), "String");
    EXPECT_EQ(box->BtnOK->text().toStdString(), "OK");
    EXPECT_EQ(box->BtnCancel->text().toStdString(), "Cancel");
    // A tool-window border: caption and close button, no minimise or maximise.
    const Qt::WindowFlags flags = box->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(box->size(), QSize(du.x(180), du.y(63)));
    EXPECT_EQ(box->Prompt->pos(), QPoint(du.x(8), du.y(8)));
    EXPECT_EQ(box->Edit->pos(), QPoint(du.x(8), du.y(19)));
    EXPECT_EQ(box->Edit->width(), du.x(164));
    EXPECT_EQ(box->BtnOK->geometry(), QRect(du.x(38), du.y(41), du.x(50), du.y(14)));
    EXPECT_EQ(box->BtnCancel->geometry(), QRect(du.x(92), du.y(41), du.x(50), du.y(14)));

    // Centred on the screen by its client area: the window frame may shift it by its margins.
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((box->frameGeometry().center() - screenCentre).manhattanLength(), 4);
}

TEST_F(FindInputBoxTest, OpensWithTheTextSelectedAndLimitsItsLength)
{
    open(QStringLiteral("abc"));
    EXPECT_EQ(box->focusWidget(), box->Edit);
    EXPECT_EQ(box->Edit->selectedText().toStdString(), "abc");
    EXPECT_EQ(box->Edit->maxLength(), 255);

    // Typing replaces the selection.
    QTest::keyClicks(box->Edit, QStringLiteral("xy"));
    EXPECT_EQ(box->text().toStdString(), "xy");

    QTest::keyClicks(box->Edit, QString(300, u'q'));
    EXPECT_EQ(box->text().size(), 255);
}

TEST_F(FindInputBoxTest, EnterIsOkEscIsCancelTabOrderEditOkCancel)
{
    open(QStringLiteral("abc"));
    EXPECT_TRUE(box->BtnOK->isDefault());
    EXPECT_FALSE(box->BtnCancel->isDefault());
    QTest::keyClick(box->Edit, Qt::Key_Tab);
    EXPECT_EQ(box->focusWidget(), box->BtnOK);
    QTest::keyClick(box->BtnOK, Qt::Key_Tab);
    EXPECT_EQ(box->focusWidget(), box->BtnCancel);
    QTest::keyClick(box->BtnCancel, Qt::Key_Tab);
    EXPECT_EQ(box->focusWidget(), box->Edit);

    QTest::keyClick(box->Edit, Qt::Key_Return);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->result(), QDialog::Accepted);

    open(QStringLiteral("abc"));
    QTest::keyClick(box->Edit, Qt::Key_Escape);
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(box->result(), QDialog::Rejected);

    open(QStringLiteral("abc"));
    box->BtnCancel->click();
    EXPECT_EQ(box->result(), QDialog::Rejected);
}

}  // namespace
