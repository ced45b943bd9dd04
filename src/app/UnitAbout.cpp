#include "app/UnitAbout.h"

#include "state/Icons.h"
#include "ui_UnitAbout.h"

TFmAbout::TFmAbout(QWidget* mainWindow)
    : QDialog(mainWindow), ui(std::make_unique<Ui::TFmAbout>()) {
    ui->setupUi(this);
    QFont font(QStringLiteral("SimSun"));
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(size());
    // It stays on top exactly when the main window does.
    Qt::WindowFlags flags = Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                            Qt::MSWindowsFixedSizeDialogHint;
    if (mainWindow != nullptr && (mainWindow->windowFlags() & Qt::WindowStaysOnTopHint))
        flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    ui->LabelIcon->setPixmap(AppIcon().pixmap(48, 48));
    connect(ui->BtnOk, &QPushButton::clicked, this, &QDialog::accept);
}

TFmAbout::~TFmAbout() = default;
