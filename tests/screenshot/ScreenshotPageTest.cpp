#include "screenshot/ScreenshotPage.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

template <typename T> T* Child(QWidget& page, const char* name) {
    T* w = page.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

} // namespace

TEST(ScreenshotPage, NamingModeShowsTheNumberBoxWhichTakesEightDigitsAtMost) {
    TScreenshotPage page;
    page.show();
    auto* mode = Child<QComboBox>(page, "ComboBoxName");
    auto* number = Child<QLineEdit>(page, "EditNumber");
    EXPECT_EQ(mode->currentText(), QStringLiteral("时间"));
    EXPECT_FALSE(number->isVisible());
    EXPECT_EQ(number->text(), QStringLiteral("1"));

    mode->setCurrentIndex(1);
    page.ComboBoxNameSelect();
    EXPECT_TRUE(number->isVisible());
    number->clear();
    QTest::keyClicks(number, QStringLiteral("12a3456789"));
    EXPECT_EQ(number->text(), QStringLiteral("12345678"));

    mode->setCurrentIndex(0);
    page.ComboBoxNameSelect();
    EXPECT_FALSE(number->isVisible());
    EXPECT_EQ(number->text(), QStringLiteral("12345678"));
}

TEST(ScreenshotPage, FolderIsShownReadOnlyAndTheCaptureButtonsDoNothing) {
    TScreenshotPage page;
    page.show();
    page.ShowPictureDir(QStringLiteral("/home/u/图片"));
    auto* dir = Child<QLineEdit>(page, "EditDir");
    EXPECT_TRUE(dir->isReadOnly());
    EXPECT_EQ(dir->text(), QStringLiteral("/home/u/图片"));
    for (const char* name : {"BtnChange", "BtnMouseScreen", "BtnMouseWindow", "BtnMouseRect",
                             "BtnHotkeyScreen", "BtnHotkeyWindow", "BtnHotkeyRect"}) {
        Child<QPushButton>(page, name)->click();
        EXPECT_EQ(dir->text(), QStringLiteral("/home/u/图片")) << name;
    }
    auto* picture = Child<QLabel>(page, "ImageScreenshot");
    ASSERT_FALSE(picture->pixmap().isNull());
    EXPECT_LE(picture->pixmap().width(), picture->width());
    EXPECT_EQ(Child<QComboBox>(page, "ComboBoxExt")->count(), 4);
    EXPECT_EQ(Child<QComboBox>(page, "ComboBoxHotkey")->currentText(), QStringLiteral("F1"));
}
