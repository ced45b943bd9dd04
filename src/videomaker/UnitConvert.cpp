#include "videomaker/UnitConvert.h"

#include "platform/Prompts.h"
#include "state/OutputFile.h"
#include "videomaker/DialogSupport.h"
#include "videomaker/FrameComposer.h"
#include "videomaker/VideoProject.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

const QString DefaultFilter = QStringLiteral("MP4|*.MP4");

} // namespace

TFmConvert::TFmConvert(QWidget* parent)
    : QDialog(parent), FComboBoxVideoType(new QComboBox(this)), FEditFileName(new QLineEdit(this)),
      FBtnSaveAs(new QPushButton(QStringLiteral("另存为..."), this)),
      FLabelDuration(new QLabel(QStringLiteral("00:00:00"), this)),
      FLabelProgress(new QLabel(QStringLiteral("0%"), this)),
      FLabelSize(new QLabel(QStringLiteral("0.0 MB"), this)),
      FBtnStart(new QPushButton(QStringLiteral("开始"), this)),
      FBtnStop(new QPushButton(QStringLiteral("停止"), this)),
      FBtnClose(new QPushButton(QStringLiteral("关闭"), this)),
      FBtnPlay(new QPushButton(QStringLiteral("播放"), this)),
      FBtnView(new QPushButton(QStringLiteral("查看文件"), this)) {
    setWindowTitle(QStringLiteral("开始制作视频"));
    setObjectName(QStringLiteral("FmConvert"));
    FComboBoxVideoType->setObjectName(QStringLiteral("ComboBoxVideoType"));
    FComboBoxVideoType->addItems({QStringLiteral("MP4 (默认)"), QStringLiteral("WMV"),
                                  QStringLiteral("AVI"), QStringLiteral("MOV"), H264FormatText()});
    FEditFileName->setObjectName(QStringLiteral("EditFileName"));
    FEditFileName->setReadOnly(true);
    FEditFileName->setMinimumWidth(360);
    FBtnSaveAs->setObjectName(QStringLiteral("BtnSaveAs"));
    FLabelDuration->setObjectName(QStringLiteral("LabelDuration"));
    FLabelProgress->setObjectName(QStringLiteral("LabelProgress"));
    FLabelSize->setObjectName(QStringLiteral("LabelSize"));
    FBtnStart->setObjectName(QStringLiteral("BtnStart"));
    FBtnStart->setDefault(true);
    FBtnStop->setObjectName(QStringLiteral("BtnStop"));
    FBtnStop->setEnabled(false);
    FBtnClose->setObjectName(QStringLiteral("BtnClose"));
    FBtnPlay->setObjectName(QStringLiteral("BtnPlay"));
    FBtnView->setObjectName(QStringLiteral("BtnView"));

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("视频格式："), this), 0, 0);
    grid->addWidget(FComboBoxVideoType, 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("文件名称："), this), 1, 0);
    grid->addWidget(FEditFileName, 1, 1);
    grid->addWidget(FBtnSaveAs, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("视频时间："), this), 2, 0);
    grid->addWidget(FLabelDuration, 2, 1);
    grid->addWidget(new QLabel(QStringLiteral("转换进度："), this), 3, 0);
    grid->addWidget(FLabelProgress, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("视频尺寸："), this), 4, 0);
    grid->addWidget(FLabelSize, 4, 1);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {FBtnStart, FBtnStop, FBtnClose, FBtnPlay, FBtnView})
        buttons->addWidget(b);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    PrepareFixedDialog(this);

    connect(FComboBoxVideoType, &QComboBox::currentIndexChanged, this,
            &TFmConvert::ComboBoxVideoTypeChange);
    connect(FBtnSaveAs, &QPushButton::clicked, this, &TFmConvert::BtnSaveAsClick);
    connect(FBtnStart, &QPushButton::clicked, this, &TFmConvert::BtnStartClick);
    connect(FBtnStop, &QPushButton::clicked, this, &TFmConvert::BtnStopClick);
    connect(FBtnClose, &QPushButton::clicked, this, &QDialog::close);
    connect(FBtnPlay, &QPushButton::clicked, this, &TFmConvert::BtnPlayClick);
    connect(FBtnView, &QPushButton::clicked, this, &TFmConvert::BtnViewClick);

    FProduction.OnProgress = [this](const TProgressInfo& info) { FFEncoderProgress(info); };
    FProduction.OnTerminate = [this](const TTerminateInfo& info) { FFEncoderTerminate(info); };
    FProduction.OnInputEnded = [this] {
        FInputEnded = true;
        FLabelProgress->setText(QStringLiteral("100%"));
    };
}

TFmConvert::~TFmConvert() {
    EndProduction();
}

void TFmConvert::ConvertProject(QWidget* parent) {
    const TVideoProject& project = VideoProject();
    TFmConvert dialog(parent);
    dialog.SetFileName(ProposedVideoName(project.ProjectFileName, project.AudioFile));
    dialog.exec();
}

void TFmConvert::SetFileName(const QString& fileName) {
    FEditFileName->setText(fileName);
}

QString TFmConvert::FileName() const {
    return FEditFileName->text();
}

void TFmConvert::ComboBoxVideoTypeChange(int index) {
    const QString extension =
        u'.' + FormatEntryExtension(index, FComboBoxVideoType->itemText(index));
    const QFileInfo info(FileName());
    SetFileName(info.path() + u'/' + info.completeBaseName() + extension);
}

void TFmConvert::BtnSaveAsClick() {
    const QFileInfo info(FileName());
    const QString extension = info.suffix().toLower();
    TFileDialogOptions options;
    options.Kind = TFileDialogOptions::fkSave;
    const QString filter = VideoFileFilter(extension);
    options.Filter = filter.isEmpty() ? DefaultFilter : filter;
    // The current name's extension, whatever it is, completes a name typed without one.
    options.DefaultExt = extension;
    options.InitialDir = info.path();
    options.FileName = info.fileName();
    options.OverwritePrompt = true;
    const TFileDialogResult result = Prompts().FileDialog(this, options);
    // The save dialog only offers existing folders; a typed name in a missing one is
    // refused here as well.
    if (!result.Accepted || result.Files.isEmpty())
        return;
    const QString chosen = WithDefaultExtension(result.Files.first(), options.DefaultExt);
    if (!QFileInfo(QFileInfo(chosen).path()).isDir()) {
        ShowMessage(this, QStringLiteral("文件夹 %1 不存在。").arg(QFileInfo(chosen).path()),
                    miWarning);
        return;
    }
    SetFileName(chosen);
}

void TFmConvert::BtnStartClick() {
    FInputEnded = false;
    QString error;
    const bool h264 = FComboBoxVideoType->currentText() == H264FormatText();
    if (!FProduction.Start(FileName(), &error, h264)) {
        ShowMessage(this, error, miWarning);
        return;
    }
    FLabelDuration->setText(QStringLiteral("00:00:00"));
    FLabelProgress->setText(QStringLiteral("0%"));
    FLabelSize->setText(MegabyteText(0, QStringLiteral(" MB")));
    SetIdle(false);
    FBtnStop->setFocus();
}

void TFmConvert::BtnStopClick() {
    FBtnStop->setEnabled(false);
    FProduction.Stop(true);
}

void TFmConvert::BtnPlayClick() {
    if (OutputFileExists(this, FileName()))
        OpenWithDesktop(this, FileName());
}

void TFmConvert::BtnViewClick() {
    if (OutputFileExists(this, FileName()))
        ShowInFileManager(this, FileName());
}

void TFmConvert::FFEncoderProgress(const TProgressInfo& info) {
    // Once the last picture was asked for the video is complete, whatever the sound's
    // last report says.
    if (!FInputEnded)
        FLabelProgress->setText(
            ProductionPercentText(info.CurrentDuration, FProduction.SongDuration()));
    FLabelSize->setText(MegabyteText(info.CurrentSize, QStringLiteral(" MB")));
    FLabelDuration->setText(ElapsedClockText(info.CurrentDuration));
}

void TFmConvert::FFEncoderTerminate(const TTerminateInfo& info) {
    if (info.TaskIndex < 0) {
        // The last progress report comes before the muxer writes its index and its
        // buffered packets (an AVI or WMV may not have reported any size yet): the size
        // shown at the end is the finished file's.
        const QFileInfo file(FileName());
        if (file.isFile())
            FLabelSize->setText(MegabyteText(file.size(), QStringLiteral(" MB")));
        SetIdle(true);
    }
    if (info.Exception)
        ShowMessage(this,
                    QStringLiteral("制作视频 %1 时出错：%2").arg(FileName(), info.ExceptionMsg),
                    miWarning);
    // Photos that could not be decoded are missing from the video; say which.
    const QStringList photoErrors = FrameComposer().PhotoErrors();
    if (info.TaskIndex < 0 && !photoErrors.isEmpty())
        ShowMessage(this,
                    QStringLiteral("视频里缺少下面无法读取的图片。\r\n") +
                        photoErrors.join(QStringLiteral("\r\n")),
                    miWarning);
}

void TFmConvert::SetIdle(bool idle) {
    FBtnStart->setEnabled(idle);
    FBtnStop->setEnabled(!idle);
    FBtnPlay->setEnabled(idle);
    FBtnView->setEnabled(idle);
}

void TFmConvert::EndProduction() {
    FProduction.Detach();
    FProduction.Stop(true);
}

void TFmConvert::closeEvent(QCloseEvent* event) {
    EndProduction();
    QDialog::closeEvent(event);
}

void TFmConvert::reject() {
    EndProduction();
    QDialog::reject();
}
