#include "app/UnitIntroduction.h"

#include "ui_UnitIntroduction.h"

#include <QTextDocument>

QStringList TFmIntroduction::IntroductionLines() {
    return {
        QStringLiteral("Vexmira具有屏幕录像和视频制作两大功能。"),
        QString(),
        QStringLiteral("一、屏幕录像功能：可以录制即时通讯软件的视频聊天、动感影集和网络相册，"),
        QStringLiteral("网络电影、电视节目，以及电脑屏幕上的任何内容。"),
        QString(),
        QStringLiteral("二、视频制作功能：可以把LRC歌词、MP3歌曲和照片转换成视频，也可以用此功能"),
        QStringLiteral("制作新的LRC歌词或者修改LRC歌词的时间。"),
        QString(),
        QStringLiteral("以上各个功能相互独立，如果只使用其中一种功能，可不必了解其它功能。更多详"),
        QStringLiteral("细描述请参看帮助文件。"),
    };
}

TFmIntroduction::TFmIntroduction(QWidget* mainWindow)
    : QDialog(mainWindow), ui(std::make_unique<Ui::TFmIntroduction>()) {
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont font(QStringLiteral("SimSun"));
    font.setPixelSize(12);
    ui->RichEditIntroduction->setFont(font);
    ui->RichEditIntroduction->setPlainText(IntroductionLines().join(u'\n'));
    // The lines are broken by hand; the box never wraps them again.
    ui->RichEditIntroduction->setLineWrapMode(QTextEdit::NoWrap);
    ui->RichEditIntroduction->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->RichEditIntroduction->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->RichEditIntroduction->document()->setDocumentMargin(2);
    // The text sits on the window's own colour, like a label.
    QPalette palette = ui->RichEditIntroduction->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    ui->RichEditIntroduction->setPalette(palette);
    ui->RichEditIntroduction->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Width fixed at 466; the height follows the text.
    const int textHeight =
        static_cast<int>(ui->RichEditIntroduction->document()->size().height()) + 8;
    ui->RichEditIntroduction->setGeometry(8, 8, 450, textHeight);
    const int below = 8 + textHeight + 12;
    ui->CheckBoxIntroduction->move(8, below + 4);
    ui->BtnOk->move(466 - 8 - ui->BtnOk->width(), below);
    setFixedSize(466, below + ui->BtnOk->height() + 8);
    connect(ui->BtnOk, &QPushButton::clicked, this, &QDialog::accept);
}

TFmIntroduction::~TFmIntroduction() = default;

bool TFmIntroduction::DoNotShowAgain() const {
    return ui->CheckBoxIntroduction->isChecked();
}

void TFmIntroduction::SetDoNotShowAgain(bool value) {
    ui->CheckBoxIntroduction->setChecked(value);
}
