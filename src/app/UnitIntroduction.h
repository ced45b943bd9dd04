#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TFmIntroduction;
}

// The introduction window that presents the two functions of the program. Created for
// one showing; its check box holds the introduction flag. Main thread only.
class TFmIntroduction : public QDialog {
    Q_OBJECT
public:
    explicit TFmIntroduction(QWidget* mainWindow);
    ~TFmIntroduction() override;

    // The introduction text, line by line.
    static QStringList IntroductionLines();

    bool DoNotShowAgain() const;
    void SetDoNotShowAgain(bool value);

private:
    std::unique_ptr<Ui::TFmIntroduction> ui;
};
