#include "media/Previewer.h"

#include "media/MainThread.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>

extern "C" {
#include <libavutil/avutil.h>
}

QString PreviewCaption(int64_t pts) {
    if (pts == AV_NOPTS_VALUE)
        return QStringLiteral("N/A");
    const int64_t ms = pts / 1000;
    return QString::asprintf("%.2d:%.2d:%.2d.%.3d", int(ms / 3600000), int(ms / 60000 % 60),
                             int(ms / 1000 % 60), int(ms % 1000));
}

class TPreviewWindow : public QWidget {
public:
    explicit TPreviewWindow(std::shared_ptr<bool> closed)
        : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                               Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
          FClosed(std::move(closed)) {
        setAttribute(Qt::WA_ShowWithoutActivating);
    }
    void Show(const QImage& bitmap, int64_t pts) {
        FBitmap = bitmap.copy();
        setWindowTitle(PreviewCaption(pts));
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

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawImage(0, 0, FBitmap);
    }
    void closeEvent(QCloseEvent* event) override {
        *FClosed = true;
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
    std::shared_ptr<bool> FClosed;
    QImage FBitmap;
    QPoint FDragFrom;
};

TPreviewer::TPreviewer() : FClosed(std::make_shared<bool>(false)) {}

TPreviewer::~TPreviewer() {
    TPreviewWindow* window = FWindow;
    FWindow = nullptr;
    if (window)
        CallInMainThread([window] { delete window; });
}

bool TPreviewer::Closed() const {
    return *FClosed;
}

bool TPreviewer::Paint(const QImage& bitmap, int64_t pts) {
    bool closed = false;
    CallInMainThread([&] {
        closed = *FClosed;
        if (closed)
            return;
        if (!FWindow)
            FWindow = new TPreviewWindow(FClosed);
        FWindow->Show(bitmap, pts);
    });
    return !closed;
}
