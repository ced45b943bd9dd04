#include "media/widgets/PreviewWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>

namespace {

class TPreviewWindow : public QWidget, public TPreviewSurface {
public:
    TPreviewWindow()
        : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                               Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
        setObjectName(QStringLiteral("PreviewWindow"));
        setAttribute(Qt::WA_ShowWithoutActivating);
    }

    void Show(const QImage& bitmap, const QString& caption) override {
        FBitmap = bitmap.copy();
        setWindowTitle(caption);
        if (size() != FBitmap.size() || !isVisible()) {
            setFixedSize(FBitmap.size());
            if (!isVisible()) {
                if (QScreen* screen = QGuiApplication::primaryScreen())
                    move(screen->geometry().center() - rect().center());
                show();
            }
        }
        update();
    }
    bool Closed() const override { return FClosed; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(0, 0, FBitmap);
    }
    void closeEvent(QCloseEvent* event) override {
        FClosed = true;
        event->accept();
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton)
            FDragFrom = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (event->buttons() & Qt::LeftButton)
            move(event->globalPosition().toPoint() - FDragFrom);
    }

private:
    QImage FBitmap;
    QPoint FDragFrom;
    bool FClosed = false;
};

} // namespace

void InstallPreviewWindows() {
    SetPreviewSurfaceFactory([] { return std::make_unique<TPreviewWindow>(); });
}
