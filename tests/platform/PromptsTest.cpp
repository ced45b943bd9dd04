#include "platform/Prompts.h"
#include "support/Sandbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <gtest/gtest.h>

namespace {

QString S(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The texts of the buttons in `dialog`'s button boxes.
QStringList ButtonTexts(const QWidget& dialog) {
    QStringList texts;
    for (const QDialogButtonBox* box : dialog.findChildren<QDialogButtonBox*>())
        for (const QAbstractButton* b : box->buttons())
            texts << b->text().remove(u'&');
    return texts;
}

} // namespace

// Qt's own dialogs speak Chinese whatever language the system is set to: the tests run
// in the C locale, as a machine set to English would.
TEST(QtTexts, TheStandardDialogsAndButtonsAreChinese) {
    EXPECT_NE(QLocale::system().language(), QLocale::Chinese);
    EXPECT_TRUE(InstallChineseQtTexts()); // installed at start already; once is enough

    QFontDialog font;
    font.setOption(QFontDialog::DontUseNativeDialog);
    const QStringList fontButtons = ButtonTexts(font);
    EXPECT_TRUE(fontButtons.contains(S("确定"))) << fontButtons.join(u',').toStdString();
    EXPECT_TRUE(fontButtons.contains(S("取消"))) << fontButtons.join(u',').toStdString();
    QStringList fontLabels;
    for (const QLabel* label : font.findChildren<QLabel*>())
        fontLabels << label->text().remove(u'&');
    EXPECT_TRUE(fontLabels.contains(S("字体(F)"))) << fontLabels.join(u',').toStdString();

    QColorDialog color;
    color.setOption(QColorDialog::DontUseNativeDialog);
    EXPECT_TRUE(ButtonTexts(color).contains(S("取消")));

    QFileDialog file;
    file.setOption(QFileDialog::DontUseNativeDialog);
    file.setAcceptMode(QFileDialog::AcceptSave);
    const QStringList fileButtons = ButtonTexts(file);
    EXPECT_TRUE(fileButtons.contains(S("保存(S)"))) << fileButtons.join(u',').toStdString();

    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Close);
    EXPECT_EQ(box.button(QMessageBox::Close)->text().remove(u'&'), S("关闭"));
}

// The font dialog opens on the font's own face and style: the bold default font of the
// lyrics (the menu font, a generic family) shows "Bold" and comes back bold when the
// dialog is confirmed unchanged.
TEST(Prompts, TheFontDialogShowsTheFontsOwnStyle) {
    QFont font = QApplication::font("QMenu");
    font.setPointSize(12);
    font.setBold(true);
    QStringList fields;
    bool bold = false;
    TModalHandler confirm([&](QWidget* w) {
        auto* dialog = qobject_cast<QFontDialog*>(w);
        ASSERT_NE(dialog, nullptr);
        for (const QLineEdit* edit : dialog->findChildren<QLineEdit*>())
            fields << edit->text();
        bold = dialog->currentFont().bold();
        dialog->accept();
    });
    ASSERT_TRUE(Prompts().FontDialog(nullptr, font));
    ASSERT_GE(fields.size(), 3);
    EXPECT_EQ(fields.at(0), QFontInfo(QApplication::font("QMenu")).family());
    EXPECT_EQ(fields.at(1), S("Bold")) << fields.join(u',').toStdString();
    EXPECT_TRUE(bold);
    EXPECT_TRUE(font.bold());
    EXPECT_EQ(font.pointSize(), 12);
}
