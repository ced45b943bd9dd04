#include "recording/RecordingPage.h"

#include "platform/PortalScreenCast.h"
#include "platform/Profile.h"
#include "platform/Xdg.h"
#include "recording/RecordingPresets.h"
#include "recording/UnitRect.h"
#include "recording/UnitVideoSize.h"
#include "state/ProgramState.h"
#include "state/SpinEdit.h"
#include "ui_RecordingPage.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

TRecordingPage::TRecordingPage(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::TRecordingPage>()) {
    ui->setupUi(this);
    ui->BtnSelectWindow->setToolTip(
        QStringLiteral("点击按钮后，移动鼠标到要录制的窗口内，\n然后按任意键完成。"));
    ui->BtnSelectRect->setToolTip(
        QStringLiteral("点击按钮后，按下鼠标左键不放，选择要\n录制的区域，然后释放鼠标左键完成。"));

    connect(ui->RBtnScreenCapture, &QRadioButton::clicked, this,
            &TRecordingPage::RBtnScreenCaptureClick);
    connect(ui->RBtnRectCapture, &QRadioButton::clicked, this,
            &TRecordingPage::RBtnRectCaptureClick);
    for (TSpinEdit* spin :
         {ui->SpinEditLeft, ui->SpinEditTop, ui->SpinEditWidth, ui->SpinEditHeight})
        connect(spin, &QSpinBox::valueChanged, this, &TRecordingPage::SpinEditLeftChange);
    connect(ui->CheckBoxHideBorder, &QCheckBox::clicked, this,
            &TRecordingPage::CheckBoxHideBorderClick);
    connect(ui->ComboBoxVideoSize, &QComboBox::activated, this,
            &TRecordingPage::ComboBoxVideoSizeSelect);
    connect(ui->ComboBoxVideoType, &QComboBox::activated, this,
            &TRecordingPage::ComboBoxVideoSizeSelect);
    // The sound source only matters while sound is recorded.
    connect(ui->CheckBoxWave, &QCheckBox::toggled, ui->ComboBoxSoundSource, &QWidget::setEnabled);
    connect(ui->CheckBoxWave, &QCheckBox::toggled, ui->LabelSoundSource, &QWidget::setEnabled);
    FSaveDialogDir = Xdg::VideosFolder();
    SetUpAreaSelection();
    SetUpHotKeys();
    if (TPortalScreenCast::IsWaylandSession())
        AdaptToWayland();
}

void TRecordingPage::AdaptToWayland() {
    // The desktop's own chooser picks the monitor when the recording starts; picking a
    // window or dragging a rectangle over other programs' windows is not possible there.
    // Typed rectangle numbers still work. "指定窗口" stays and says why it cannot pick a
    // window where the desktop shares whole screens only.
    for (QWidget* w : std::initializer_list<QWidget*>{ui->BtnSelectRect, ui->CheckBoxHideBorder})
        w->hide();
    if (PortalOffersWindowSources())
        ui->BtnSelectWindow->hide();
    // Keys pressed in other programs' windows reach a program only through the desktop's
    // GlobalShortcuts portal.
    const QString why =
        PortalInterfaceOffered(QStringLiteral("org.freedesktop.portal.GlobalShortcuts"))
            ? QStringLiteral(
                  "Wayland 桌面下，本程序暂不支持通过 GlobalShortcuts 门户注册全局热键。")
            : QStringLiteral("此 Wayland 桌面不提供全局快捷键门户（GlobalShortcuts），\n"
                             "程序无法接收在其他窗口中按下的热键。");
    for (QComboBox* box : {ui->ComboBoxPause, ui->ComboBoxStop}) {
        box->setEnabled(false);
        box->setToolTip(why);
    }
}

TRecordingPage::~TRecordingPage() {
    ReleaseHotKeys();
}

bool TRecordingPage::IsScreenCapture() const {
    return ui->RBtnScreenCapture->isChecked();
}

void TRecordingPage::SetRectControlsEnabled(bool enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->LabelLeft, ui->LabelTop, ui->LabelWidth, ui->LabelHeight, ui->SpinEditLeft,
             ui->SpinEditTop, ui->SpinEditWidth, ui->SpinEditHeight, ui->BtnSelectWindow,
             ui->BtnSelectRect, ui->CheckBoxHideBorder})
        w->setEnabled(enabled);
}

void TRecordingPage::RBtnScreenCaptureClick() {
    SetRectControlsEnabled(false);
    if (FAreaFrame != nullptr) {
        FAreaFrame->SetWinRect();
        FAreaFrame->HideFrame();
    }
}

void TRecordingPage::RBtnRectCaptureClick() {
    SetRectControlsEnabled(true);
    SpinEditLeftChange();
    TProgramState& state = ProgramState();
    const bool tab0 = state.MainWindow == nullptr || state.MainWindow->ActiveTabIndex() == 0;
    if (FAreaFrame != nullptr && !ui->CheckBoxHideBorder->isChecked() && tab0)
        FAreaFrame->ShowFrame();
    if (state.MainWindow != nullptr)
        state.MainWindow->BringToForeground();
}

void TRecordingPage::SpinEditLeftChange() {
    if (ProgramState().SpinSyncGuard || FAreaFrame == nullptr)
        return;
    FAreaFrame->FitAround(ui->SpinEditLeft->value(), ui->SpinEditTop->value(),
                          ui->SpinEditWidth->value(), ui->SpinEditHeight->value());
}

void TRecordingPage::CheckBoxHideBorderClick() {
    if (FAreaFrame != nullptr) {
        if (ui->CheckBoxHideBorder->isChecked())
            FAreaFrame->HideFrame();
        else
            FAreaFrame->ShowFrame();
    }
    if (ProgramState().MainWindow != nullptr)
        ProgramState().MainWindow->BringToForeground();
}

void TRecordingPage::ApplyAreaFrameRule() {
    if (FAreaFrame == nullptr)
        return;
    if (ui->RBtnRectCapture->isChecked() && !ui->CheckBoxHideBorder->isChecked())
        FAreaFrame->ShowFrame();
    else
        FAreaFrame->HideFrame();
}

void TRecordingPage::HideAreaFrame() {
    if (FAreaFrame != nullptr)
        FAreaFrame->HideFrame();
}

void TRecordingPage::ComboBoxVideoSizeSelect() {
    QComboBox* sizes = ui->ComboBoxVideoSize;
    if (sizes->currentText() != QStringLiteral("自定义")) {
        OldIndex = sizes->currentIndex();
        return;
    }
    // The dialog starts from the rectangle's size, in full-screen mode too.
    TMainWindowLink* main = ProgramState().MainWindow;
    TFmVideoSize dialog(main != nullptr ? main->Window() : window(), sizes,
                        ui->SpinEditWidth->Value(), ui->SpinEditHeight->Value());
    if (dialog.exec() == QDialog::Accepted)
        OldIndex = sizes->currentIndex();
    else
        sizes->setCurrentIndex(OldIndex);
}

void TRecordingPage::ReadGeneralSettings(const TProfile& profile) {
    const QString g = GeneralSection();
    ui->SpinEditLeft->SetValue(profile.ReadInteger(g, QStringLiteral("CaptureLeft"), 100));
    ui->SpinEditTop->SetValue(profile.ReadInteger(g, QStringLiteral("CaptureTop"), 50));
    ui->SpinEditWidth->SetValue(profile.ReadInteger(g, QStringLiteral("CaptureWidth"), 320));
    ui->SpinEditHeight->SetValue(profile.ReadInteger(g, QStringLiteral("CaptureHeight"), 240));

    const bool screen = profile.ReadBool(g, QStringLiteral("ScreenCapture"), true);
    ui->RBtnScreenCapture->setChecked(screen);
    ui->CheckBoxCursor->setChecked(profile.ReadBool(g, QStringLiteral("CursorCapture"), true));
    ui->CheckBoxWave->setChecked(profile.ReadBool(g, QStringLiteral("WaveCapture"), true));
    const int source = SoundSourceTexts().indexOf(
        profile.ReadString(g, QStringLiteral("SoundSource"), SoundSourceTexts().first()));
    ui->ComboBoxSoundSource->setCurrentIndex(std::max(0, source));
    ui->CheckBoxHideBorder->setChecked(profile.ReadBool(g, QStringLiteral("HideBorder"), false));

    // A custom size made in an earlier run comes back as an entry of its own.
    QComboBox* sizes = ui->ComboBoxVideoSize;
    const QString size = profile.ReadString(g, QStringLiteral("VideoSize"), sizes->itemText(0));
    int sizeIndex = sizes->findText(size, Qt::MatchExactly);
    if (sizeIndex < 0) {
        sizes->addItem(size);
        sizeIndex = sizes->count() - 1;
    }
    sizes->setCurrentIndex(sizeIndex);
    OldIndex = sizeIndex;

    QComboBox* types = ui->ComboBoxVideoType;
    const int typeIndex = types->findText(
        profile.ReadString(g, QStringLiteral("VideoType"), types->itemText(0)), Qt::MatchExactly);
    types->setCurrentIndex(typeIndex < 0 ? 0 : typeIndex);

    const QString saveDir = profile.ReadString(g, QStringLiteral("SaveDir"), QString());
    FSaveDialogDir =
        (!saveDir.isEmpty() && QFileInfo(saveDir).isDir()) ? saveDir : Xdg::VideosFolder();

    SpinEditLeftChange();
    if (screen) {
        RBtnScreenCaptureClick();
    } else {
        ui->RBtnRectCapture->setChecked(true);
        RBtnRectCaptureClick();
    }
}

void TRecordingPage::WriteGeneralSettings(const TProfile& profile) {
    const QString g = GeneralSection();
    profile.WriteInteger(g, QStringLiteral("CaptureLeft"), ui->SpinEditLeft->Value());
    profile.WriteInteger(g, QStringLiteral("CaptureTop"), ui->SpinEditTop->Value());
    profile.WriteInteger(g, QStringLiteral("CaptureWidth"), ui->SpinEditWidth->Value());
    profile.WriteInteger(g, QStringLiteral("CaptureHeight"), ui->SpinEditHeight->Value());
    profile.WriteBool(g, QStringLiteral("ScreenCapture"), ui->RBtnScreenCapture->isChecked());
    profile.WriteBool(g, QStringLiteral("CursorCapture"), ui->CheckBoxCursor->isChecked());
    profile.WriteBool(g, QStringLiteral("WaveCapture"), ui->CheckBoxWave->isChecked());
    profile.WriteBool(g, QStringLiteral("HideBorder"), ui->CheckBoxHideBorder->isChecked());
    profile.WriteString(g, QStringLiteral("VideoSize"), ui->ComboBoxVideoSize->currentText());
    profile.WriteString(g, QStringLiteral("VideoType"), ui->ComboBoxVideoType->currentText());
    const QString last = ProgramState().CaptureFileName;
    if (!last.isEmpty() && QFileInfo::exists(last))
        profile.WriteString(g, QStringLiteral("SaveDir"), QFileInfo(last).absolutePath());
}

void TRecordingPage::WriteSoundSourceSetting(const TProfile& profile) {
    profile.WriteString(GeneralSection(), QStringLiteral("SoundSource"),
                        ui->ComboBoxSoundSource->currentText());
}

QPushButton* TRecordingPage::BtnStart() const {
    return ui->BtnStart;
}
QPushButton* TRecordingPage::BtnPause() const {
    return ui->BtnPause;
}
QPushButton* TRecordingPage::BtnResume() const {
    return ui->BtnResume;
}
QPushButton* TRecordingPage::BtnStop() const {
    return ui->BtnStop;
}
QPushButton* TRecordingPage::BtnPlay() const {
    return ui->BtnPlay;
}
QPushButton* TRecordingPage::BtnOpenFolder() const {
    return ui->BtnOpenFolder;
}
QPushButton* TRecordingPage::BtnSelectWindow() const {
    return ui->BtnSelectWindow;
}
QPushButton* TRecordingPage::BtnSelectRect() const {
    return ui->BtnSelectRect;
}
QRadioButton* TRecordingPage::RBtnScreenCapture() const {
    return ui->RBtnScreenCapture;
}
QRadioButton* TRecordingPage::RBtnRectCapture() const {
    return ui->RBtnRectCapture;
}
TSpinEdit* TRecordingPage::SpinEditLeft() const {
    return ui->SpinEditLeft;
}
TSpinEdit* TRecordingPage::SpinEditTop() const {
    return ui->SpinEditTop;
}
TSpinEdit* TRecordingPage::SpinEditWidth() const {
    return ui->SpinEditWidth;
}
TSpinEdit* TRecordingPage::SpinEditHeight() const {
    return ui->SpinEditHeight;
}
QCheckBox* TRecordingPage::CheckBoxHideBorder() const {
    return ui->CheckBoxHideBorder;
}
QCheckBox* TRecordingPage::CheckBoxCursor() const {
    return ui->CheckBoxCursor;
}
QCheckBox* TRecordingPage::CheckBoxWave() const {
    return ui->CheckBoxWave;
}
QCheckBox* TRecordingPage::CheckBoxToolBar() const {
    return ui->CheckBoxToolBar;
}
QComboBox* TRecordingPage::ComboBoxVideoType() const {
    return ui->ComboBoxVideoType;
}
QComboBox* TRecordingPage::ComboBoxSoundSource() const {
    return ui->ComboBoxSoundSource;
}
QComboBox* TRecordingPage::ComboBoxVideoSize() const {
    return ui->ComboBoxVideoSize;
}
QComboBox* TRecordingPage::ComboBoxPause() const {
    return ui->ComboBoxPause;
}
QComboBox* TRecordingPage::ComboBoxStop() const {
    return ui->ComboBoxStop;
}
