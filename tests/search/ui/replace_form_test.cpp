// SPDX-License-Identifier: GPL-2.0-or-later
#include "search/ui/replace_form.h"

#include "tests/search/ui/ui_test_app.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Records the keys its preview saw.
class RecordingReplaceForm : public TFormReplace {
public:
    using TFormReplace::TFormReplace;
    std::vector<int> previewed;
    void FormKeyDown(int key, Qt::KeyboardModifiers shift) override
    {
        previewed.push_back(key);
        TFormReplace::FormKeyDown(key, shift);
    }
};

class ReplaceFormTest : public ::testing::Test {
protected:
    void open(QWidget* owner = nullptr)
    {
        searchtest::app();
        form = std::make_unique<RecordingReplaceForm>(owner);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    std::vector<QWidget*> tabOrder() const
    {
        return {form->EditFrom, form->EditTo, form->cbCase, form->BtnReplaceAll, form->BtnCancel};
    }
    std::unique_ptr<RecordingReplaceForm> form;
};

TEST_F(ReplaceFormTest, ControlsWhereTheDesignPutsThem)
{
    open();
    EXPECT_EQ(form->windowTitle().toStdString(), "Replace");
    EXPECT_EQ(form->size(), QSize(352, 105));
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
    EXPECT_FALSE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinMaxButtonsHint);

    const struct {
        QWidget* control;
        QRect geometry;
        const char* text;
    } layout[] = {
        {form->LabelReplace, {14, 17, 40, 13}, "Replace"},   {form->EditFrom, {63, 13, 121, 21}, ""},
        {form->LabelWith, {190, 17, 19, 13}, "with"},        {form->EditTo, {217, 13, 121, 21}, ""},
        {form->cbCase, {128, 40, 97, 17}, "Case sensitive"}, {form->BtnReplaceAll, {87, 64, 75, 25}, "Replace all"},
        {form->BtnCancel, {191, 64, 75, 25}, "Cancel"},
    };
    for (const auto& c : layout) {
        EXPECT_EQ(c.control->geometry(), c.geometry) << c.text;
        QString text;
        if (auto* label = qobject_cast<QLabel*>(c.control))
            text = label->text();
        else if (auto* edit = qobject_cast<QLineEdit*>(c.control))
            text = edit->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(c.control))
            text = button->text();
        EXPECT_EQ(text.toStdString(), c.text);
    }
    EXPECT_FALSE(form->cbCase->isChecked());
    EXPECT_TRUE(form->BtnReplaceAll->isFlat());
    EXPECT_TRUE(form->BtnCancel->isFlat());
}

TEST_F(ReplaceFormTest, TheFlatButtonsShowAFrameThatDarkensOnFocus)
{
    open();
    // The colour of a button's left edge, half way down, as painted.
    const auto edge = [](QPushButton* button) {
        const QImage image = button->grab().toImage();
        return image.pixelColor(0, image.height() / 2);
    };
    const QColor window = form->palette().color(QPalette::Window);
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    for (QPushButton* button : {form->BtnReplaceAll, form->BtnCancel}) {
        SCOPED_TRACE(button->text().toStdString());
        form->EditFrom->setFocus();
        const QColor resting = edge(button);
        EXPECT_NE(resting, window);
        button->setFocus();
        ASSERT_TRUE(button->hasFocus());
        const QColor focused = edge(button);
        EXPECT_NE(focused, window);
        EXPECT_LT(focused.lightness(), resting.lightness());
    }
}

TEST_F(ReplaceFormTest, CentredOverItsOwner)
{
    searchtest::app();
    QWidget owner;
    owner.setGeometry(40, 60, 700, 450);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    open(&owner);
    // Centred by its client area: the window frame may shift it by its margins.
    EXPECT_LE((form->frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 4);
    form.reset();
}

TEST_F(ReplaceFormTest, TabOrderStartsAtTheTextToFind)
{
    open();
    const std::vector<QWidget*> order = tabOrder();
    EXPECT_EQ(form->focusWidget(), order[0]);
    for (size_t i = 0; i < order.size(); ++i) {
        QTest::keyClick(order[i], Qt::Key_Tab);
        EXPECT_EQ(form->focusWidget(), order[(i + 1) % order.size()]) << i;
    }
    EXPECT_EQ(form->LabelReplace->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(form->LabelWith->focusPolicy(), Qt::NoFocus);
}

TEST_F(ReplaceFormTest, EnterClosesNothingEscCancelsFromEveryControl)
{
    open();
    for (QWidget* control : tabOrder()) {
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Return);
        QTest::keyClick(control, Qt::Key_Enter);
        EXPECT_TRUE(form->isVisible()) << control->metaObject()->className();
    }
    EXPECT_FALSE(form->BtnReplaceAll->isDefault());
    EXPECT_FALSE(form->BtnCancel->isDefault());

    for (size_t i = 0; i < tabOrder().size(); ++i) {
        open();
        QWidget* control = tabOrder()[i];
        control->setFocus();
        QTest::keyClick(control, Qt::Key_Escape);
        EXPECT_FALSE(form->isVisible()) << i;
        EXPECT_EQ(form->result(), QDialog::Rejected) << i;
        EXPECT_EQ(form->previewed.back(), Qt::Key_Escape);
    }
}

TEST_F(ReplaceFormTest, KeyPreviewSeesKeysBeforeTheControls)
{
    open();
    QTest::keyClicks(form->EditFrom, QStringLiteral("ab"));
    EXPECT_EQ(form->EditFrom->text().toStdString(), "ab");  // the edit still got them
    EXPECT_EQ(form->previewed, (std::vector<int>{Qt::Key_A, Qt::Key_B}));
}

TEST_F(ReplaceFormTest, ButtonsSetTheResult)
{
    open();
    form->BtnReplaceAll->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
    open();
    form->BtnCancel->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
}

}  // namespace
