#include "state/SpinEdit.h"
#include "videomaker/UnitLineSpacing.h"
#include "videomaker/UnitLyricsVideoSize.h"
#include "videomaker/UnitMargins.h"
#include "videomaker/UnitNumberOfRows.h"
#include "videomaker/UnitPictureSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

template <typename T> T* Find(QWidget* dialog, const char* name) {
    T* w = dialog->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void Click(QWidget* dialog, const char* name) {
    Find<QAbstractButton>(dialog, name)->click();
}

void Type(TSpinEdit* box, const QString& text) {
    box->findChild<QLineEdit*>()->setText(text);
}

} // namespace

TEST(SizeDialog, FillsFromAStandardOrACustomSize) {
    TVideoMakeSettings s;
    {
        TFmLyricsVideoSize d(nullptr, s);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("视频尺寸"));
        EXPECT_TRUE(Find<QRadioButton>(&d, "RBtnStandard")->isChecked());
        EXPECT_EQ(Find<QComboBox>(&d, "ComboBoxSize")->currentText(), QStringLiteral("320*240"));
        EXPECT_TRUE(Find<QComboBox>(&d, "ComboBoxSize")->isEnabled());
        EXPECT_FALSE(Find<TSpinEdit>(&d, "SpinEditWidth")->isEnabled());
        EXPECT_FALSE(Find<QLabel>(&d, "LabelHeight")->isEnabled());
    }
    s.LyricsVideoWidth = 333;
    s.LyricsVideoHeight = 222;
    TFmLyricsVideoSize d(nullptr, s);
    EXPECT_TRUE(Find<QRadioButton>(&d, "RBtnCustom")->isChecked());
    EXPECT_EQ(Find<TSpinEdit>(&d, "SpinEditWidth")->Value(), 333);
    EXPECT_EQ(Find<TSpinEdit>(&d, "SpinEditHeight")->Value(), 222);
    EXPECT_FALSE(Find<QComboBox>(&d, "ComboBoxSize")->isEnabled());
    EXPECT_TRUE(Find<QLabel>(&d, "LabelWidth")->isEnabled());
    // Switching back to the list disables the two boxes and their labels again.
    Click(&d, "RBtnStandard");
    EXPECT_TRUE(Find<QComboBox>(&d, "ComboBoxSize")->isEnabled());
    EXPECT_FALSE(Find<TSpinEdit>(&d, "SpinEditHeight")->isEnabled());
    EXPECT_FALSE(Find<QLabel>(&d, "LabelWidth")->isEnabled());
}

TEST(SizeDialog, OkWritesTheEntryOrTheClampedCustomValuesAndCancelNothing) {
    TVideoMakeSettings s;
    {
        TFmLyricsVideoSize d(nullptr, s);
        Find<QComboBox>(&d, "ComboBoxSize")->setCurrentText(QStringLiteral("640*360"));
        Click(&d, "BtnCancel");
        EXPECT_EQ(d.result(), QDialog::Rejected);
        EXPECT_EQ(s.LyricsVideoWidth, 320);
    }
    {
        TFmLyricsVideoSize d(nullptr, s);
        Find<QComboBox>(&d, "ComboBoxSize")->setCurrentText(QStringLiteral("640*360"));
        Click(&d, "BtnOk");
        EXPECT_EQ(d.result(), QDialog::Accepted);
        EXPECT_EQ(s.LyricsVideoWidth, 640);
        EXPECT_EQ(s.LyricsVideoHeight, 360);
    }
    s.LyricsMarginLeft = 300;
    TFmLyricsVideoSize d(nullptr, s);
    Click(&d, "RBtnCustom");
    TSpinEdit* width = Find<TSpinEdit>(&d, "SpinEditWidth");
    EXPECT_EQ(width->findChild<QLineEdit*>()->maxLength(), 4);
    Type(width, QStringLiteral("5000"));
    Type(Find<TSpinEdit>(&d, "SpinEditHeight"), QStringLiteral("10"));
    Click(&d, "BtnOk");
    EXPECT_EQ(s.LyricsVideoWidth, 1920);
    EXPECT_EQ(s.LyricsVideoHeight, 45);
    // A margin too wide for the new size is brought within half of it.
    EXPECT_EQ(s.LyricsMarginLeft, 300);
    TVideoMakeSettings small;
    small.LyricsMarginLeft = 300;
    TFmLyricsVideoSize d2(nullptr, small);
    Click(&d2, "BtnOk");
    EXPECT_EQ(small.LyricsMarginLeft, 160);
}

TEST(SizeDialog, DefaultOnlyFillsTheControls) {
    TVideoMakeSettings s;
    s.LyricsVideoWidth = 333;
    s.LyricsVideoHeight = 222;
    TFmLyricsVideoSize d(nullptr, s);
    Click(&d, "BtnDefault");
    EXPECT_TRUE(Find<QRadioButton>(&d, "RBtnStandard")->isChecked());
    EXPECT_EQ(Find<QComboBox>(&d, "ComboBoxSize")->currentText(), QStringLiteral("320*240"));
    EXPECT_EQ(s.LyricsVideoWidth, 333);
    EXPECT_EQ(d.ChosenSize(), QSize(320, 240));
}

TEST(MarginsDialog, LimitsFollowTheVideoSize) {
    TVideoMakeSettings s;
    s.LyricsMarginLeft = 1;
    s.LyricsMarginRight = 2;
    s.LyricsMarginTop = 3;
    s.LyricsMarginBottom = 4;
    TFmMargins d(nullptr, s);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("歌词边距"));
    EXPECT_EQ(Find<TSpinEdit>(&d, "SpinEditLeft")->Value(), 1);
    EXPECT_EQ(Find<TSpinEdit>(&d, "SpinEditBottom")->Value(), 4);
    Type(Find<TSpinEdit>(&d, "SpinEditLeft"), QStringLiteral("999"));
    Type(Find<TSpinEdit>(&d, "SpinEditRight"), QStringLiteral("161"));
    Type(Find<TSpinEdit>(&d, "SpinEditTop"), QStringLiteral("121"));
    Type(Find<TSpinEdit>(&d, "SpinEditBottom"), QStringLiteral("120"));
    Click(&d, "BtnOk");
    EXPECT_EQ(s.LyricsMarginLeft, 160);
    EXPECT_EQ(s.LyricsMarginRight, 160);
    EXPECT_EQ(s.LyricsMarginTop, 120);
    EXPECT_EQ(s.LyricsMarginBottom, 120);
}

TEST(MarginsDialog, DefaultPutsEightIntoAllFour) {
    TVideoMakeSettings s;
    s.LyricsMarginLeft = s.LyricsMarginRight = s.LyricsMarginTop = s.LyricsMarginBottom = 0;
    TFmMargins d(nullptr, s);
    Click(&d, "BtnDefault");
    EXPECT_EQ(s.LyricsMarginLeft, 0);
    Click(&d, "BtnOk");
    EXPECT_EQ(s.LyricsMarginLeft, 8);
    EXPECT_EQ(s.LyricsMarginRight, 8);
    EXPECT_EQ(s.LyricsMarginTop, 8);
    EXPECT_EQ(s.LyricsMarginBottom, 8);
}

TEST(RowCountDialog, AutomaticOrACount) {
    TVideoMakeSettings s;
    s.LyricsMaxLineCount = 0;
    {
        TFmNumberOfRows d(nullptr, s);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("显示歌词行数"));
        EXPECT_TRUE(Find<QRadioButton>(&d, "RBtnAuto")->isChecked());
        EXPECT_FALSE(Find<TSpinEdit>(&d, "SpinEditCount")->isEnabled());
        Click(&d, "RBtnCustom");
        EXPECT_TRUE(Find<TSpinEdit>(&d, "SpinEditCount")->isEnabled());
        Type(Find<TSpinEdit>(&d, "SpinEditCount"), QStringLiteral("250"));
        Click(&d, "BtnOk");
        EXPECT_EQ(s.LyricsMaxLineCount, 200);
    }
    {
        TFmNumberOfRows d(nullptr, s);
        EXPECT_TRUE(Find<QRadioButton>(&d, "RBtnCustom")->isChecked());
        EXPECT_EQ(Find<TSpinEdit>(&d, "SpinEditCount")->Value(), 200);
        Click(&d, "RBtnAuto");
        EXPECT_FALSE(Find<TSpinEdit>(&d, "SpinEditCount")->isEnabled());
        Click(&d, "BtnOk");
        EXPECT_EQ(s.LyricsMaxLineCount, 0);
    }
    TFmNumberOfRows d(nullptr, s);
    Click(&d, "BtnDefault");
    EXPECT_TRUE(Find<QRadioButton>(&d, "RBtnCustom")->isChecked());
    EXPECT_TRUE(Find<TSpinEdit>(&d, "SpinEditCount")->isEnabled());
    Click(&d, "BtnOk");
    EXPECT_EQ(s.LyricsMaxLineCount, 2);
}

TEST(LineSpacingDialog, ShowsClampsAndDefaults) {
    TVideoMakeSettings s;
    s.LyricsLineSpacing = 9;
    {
        TFmLineSpacing d(nullptr, s);
        EXPECT_EQ(d.windowTitle(), QStringLiteral("歌词行间距"));
        TSpinEdit* box = Find<TSpinEdit>(&d, "SpinEditSpacing");
        EXPECT_EQ(box->Value(), 9);
        Type(box, QStringLiteral("0"));
        Click(&d, "BtnOk");
        EXPECT_EQ(s.LyricsLineSpacing, 1);
    }
    TFmLineSpacing d(nullptr, s);
    Click(&d, "BtnDefault");
    Click(&d, "BtnCancel");
    EXPECT_EQ(s.LyricsLineSpacing, 1);
}

TEST(PictureSettingsDialog, ShowsWritesAndDefaults) {
    TVideoMakeSettings s;
    s.PictureDuration = 12;
    s.PictureAccording = false;
    s.PictureRepeat = false;
    s.PictureRandom = true;
    TFmPicturesSettings d(nullptr, s);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("照片设置"));
    EXPECT_EQ(Find<TSpinEdit>(&d, "SpinEditDuration")->Value(), 12);
    EXPECT_FALSE(Find<QCheckBox>(&d, "CheckBoxAccording")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(&d, "CheckBoxRepeat")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>(&d, "CheckBoxRandom")->isChecked());
    Click(&d, "BtnDefault");
    EXPECT_EQ(s.PictureDuration, 12);
    EXPECT_EQ(Find<TSpinEdit>(&d, "SpinEditDuration")->Value(), 5);
    Find<QCheckBox>(&d, "CheckBoxRepeat")->setChecked(false);
    Type(Find<TSpinEdit>(&d, "SpinEditDuration"), QStringLiteral("99999"));
    Click(&d, "BtnOk");
    EXPECT_EQ(s.PictureDuration, 9999);
    EXPECT_TRUE(s.PictureAccording);
    EXPECT_FALSE(s.PictureRepeat);
    EXPECT_FALSE(s.PictureRandom);
}
