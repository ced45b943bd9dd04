#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TFmAbout;
}

// The About window: program name and version. Created for one showing. Main thread only.
class TFmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFmAbout(QWidget* mainWindow);
    ~TFmAbout() override;

private:
    std::unique_ptr<Ui::TFmAbout> ui;
};
