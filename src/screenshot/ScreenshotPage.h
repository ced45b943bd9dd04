#pragma once

#include <QPixmap>
#include <QWidget>

#include <memory>

class QLineEdit;
class QComboBox;
namespace Ui {
class TScreenshotPage;
}

// The 屏幕拍照 page. Its tab stays hidden; the live parts are the picture folder shown
// in EditDir and the naming mode that shows or hides the number box. The capture
// buttons carry no action. Main thread only.
class TScreenshotPage : public QWidget {
    Q_OBJECT
public:
    explicit TScreenshotPage(QWidget* parent = nullptr);
    ~TScreenshotPage() override;

    // Shows the picture folder in EditDir.
    void ShowPictureDir(const QString& dir);

    void ComboBoxNameSelect();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FitPlaceholder();

    std::unique_ptr<Ui::TScreenshotPage> ui;
    QPixmap FPlaceholder;
};

// The screenshot rectangle window and the screenshot window-picking window. They exist
// for the whole run and are never shown: the screenshot page takes no pictures.
class TFmScreenRect : public QWidget {
    Q_OBJECT
public:
    explicit TFmScreenRect(QWidget* parent = nullptr);
};

class TFmScreenWindowSet : public QWidget {
    Q_OBJECT
public:
    explicit TFmScreenWindowSet(QWidget* parent = nullptr);
};
