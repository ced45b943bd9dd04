#include "recording/RecordingPage.h"
#include "recording/UnitVideoSize.h"
#include "state/SpinEdit.h"
#include "support/Sandbox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

// The custom-size dialog over a 320 × 240 recording rectangle.
class VideoSizeTest : public ::testing::Test {
protected:
    QComboBox SizeBox;
    std::unique_ptr<TFmVideoSize> Dialog;

    void SetUp() override {
        SizeBox.addItems({QStringLiteral("原始尺寸(默认)"), QStringLiteral("320*200"),
                          QStringLiteral("640*480"), QStringLiteral("自定义")});
        Dialog = std::make_unique<TFmVideoSize>(nullptr, &SizeBox, 320, 240);
    }
    TSpinEdit* Box(const char* name) const {
        return Dialog->findChild<TSpinEdit*>(QString::fromLatin1(name));
    }
    int Per() const { return Box("SpinEditPer")->value(); }
    int Width() const { return Box("SpinEditWidth")->value(); }
    int Height() const { return Box("SpinEditHeight")->value(); }
    void SetProportion(bool on) {
        Dialog->findChild<QCheckBox*>(QStringLiteral("CheckBoxProportion"))->setChecked(on);
    }
};

TEST_F(VideoSizeTest, StartsFromTheRectangleWhoseSizeIsTheLimit) {
    EXPECT_EQ(Per(), 100);
    EXPECT_EQ(Width(), 320);
    EXPECT_EQ(Height(), 240);
    Box("SpinEditWidth")->SetValue(5000);
    EXPECT_EQ(Width(), 320);
}

TEST_F(VideoSizeTest, TypedWidthKeepsTheProportionThroughTheTruncatedPercentage) {
    Box("SpinEditWidth")->setValue(200);
    EXPECT_EQ(Per(), 62);
    EXPECT_EQ(Height(), 148);

    Box("SpinEditHeight")->setValue(120);
    EXPECT_EQ(Per(), 50);
    EXPECT_EQ(Width(), 160);
}

TEST_F(VideoSizeTest, PercentageScalesBothSides) {
    Box("SpinEditPer")->setValue(50);
    EXPECT_EQ(Width(), 160);
    EXPECT_EQ(Height(), 120);

    // 33 % gives width 105, which is only 32.8 % of the rectangle: the width box pulls
    // the percentage to 32 and the height follows it.
    Box("SpinEditPer")->setValue(33);
    EXPECT_EQ(Width(), 105);
    EXPECT_EQ(Per(), 32);
    EXPECT_EQ(Height(), 76);
}

TEST_F(VideoSizeTest, ZeroPercentStopsAtTheMinimums) {
    SetProportion(false);
    Box("SpinEditPer")->setValue(0);
    EXPECT_EQ(Width(), 8);
    EXPECT_EQ(Height(), 2);

    Box("SpinEditPer")->setValue(100);
    SetProportion(true);
    Box("SpinEditPer")->setValue(0);
    EXPECT_EQ(Width(), 8);
    EXPECT_EQ(Per(), 2);
    EXPECT_EQ(Height(), 4);
}

TEST_F(VideoSizeTest, UntickedProportionLeavesTheOtherSideAlone) {
    SetProportion(false);
    Box("SpinEditWidth")->setValue(200);
    EXPECT_EQ(Height(), 240);
    EXPECT_EQ(Per(), 100);
}

TEST_F(VideoSizeTest, OkSelectsAnExistingEntryOrAppendsANewOne) {
    auto dialog640 = std::make_unique<TFmVideoSize>(nullptr, &SizeBox, 640, 480);
    dialog640->findChild<QPushButton*>(QStringLiteral("BtnOk"))->click();
    EXPECT_EQ(dialog640->result(), QDialog::Accepted);
    EXPECT_EQ(SizeBox.count(), 4);
    EXPECT_EQ(SizeBox.currentText(), QStringLiteral("640*480"));

    Box("SpinEditPer")->setValue(50);
    Dialog->findChild<QPushButton*>(QStringLiteral("BtnOk"))->click();
    EXPECT_EQ(SizeBox.count(), 5);
    EXPECT_EQ(SizeBox.currentIndex(), 4);
    EXPECT_EQ(SizeBox.currentText(), QStringLiteral("160*120"));
}

// Choosing "自定义" on the page opens the dialog from the page's rectangle; cancel
// returns to the entry chosen before, OK makes the new entry the one to return to.
TEST(VideoSizeSelectTest, CustomEntryOpensTheDialogAndCancelGoesBack) {
    TSandbox box;
    TRecordingPage page;
    page.RBtnRectCaptureClick();
    page.SpinEditWidth()->SetValue(400);
    page.SpinEditHeight()->SetValue(300);
    QComboBox* sizes = page.ComboBoxVideoSize();
    const int custom = sizes->findText(QStringLiteral("自定义"));
    ASSERT_GT(custom, 0);

    sizes->setCurrentIndex(3);
    page.ComboBoxVideoSizeSelect();
    EXPECT_EQ(page.OldIndex, 3);

    int reference = 0;
    {
        TModalHandler cancel([&](QWidget* w) {
            if (auto* d = qobject_cast<TFmVideoSize*>(w)) {
                reference = d->findChild<TSpinEdit*>(QStringLiteral("SpinEditWidth"))->value();
                d->reject();
            }
        });
        sizes->setCurrentIndex(custom);
        page.ComboBoxVideoSizeSelect();
        EXPECT_EQ(cancel.Handled(), 1);
    }
    EXPECT_EQ(reference, 400);
    EXPECT_EQ(sizes->currentIndex(), 3);

    {
        TModalHandler ok([](QWidget* w) {
            if (auto* d = qobject_cast<TFmVideoSize*>(w)) {
                d->findChild<TSpinEdit*>(QStringLiteral("SpinEditPer"))->setValue(50);
                d->findChild<QPushButton*>(QStringLiteral("BtnOk"))->click();
            }
        });
        sizes->setCurrentIndex(custom);
        page.ComboBoxVideoSizeSelect();
    }
    EXPECT_EQ(sizes->currentText(), QStringLiteral("200*150"));
    EXPECT_EQ(page.OldIndex, sizes->currentIndex());
}

} // namespace
