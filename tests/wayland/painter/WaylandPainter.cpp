// A full-screen Wayland window of known content for the screen-cast tests: four coloured
// blocks in the corners of a grey screen (at the same pixels of the monitor whatever the
// desktop's scale) and, unless --still, a white square crossing the
// middle band 30 times a second. Prints "ready" once its first picture is on the screen.
#include "WaylandPainterLayout.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class TPainterWindow : public QWidget {
public:
    explicit TPainterWindow(bool moving) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        if (moving) {
            connect(&FTimer, &QTimer::timeout, this, [this] {
                ++FStep;
                update();
            });
            FTimer.start(33);
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), PainterBackground);
        // The layout is in the pixels of a 1920x1080 monitor, whatever the desktop's scale:
        // on a desktop scaled by 2 the window is 960x540 units of two pixels each.
        p.scale(width() / double(PainterScreen.width()), height() / double(PainterScreen.height()));
        for (const TPainterBlock& block : PainterBlocks)
            p.fillRect(block.Rect, block.Color);
        const int x = (FStep * 24) % (PainterScreen.width() - PainterSquare);
        p.fillRect(QRect(x, PainterBandTop, PainterSquare, PainterSquare), Qt::white);
        if (!FTold) {
            FTold = true;
            QTimer::singleShot(300, [] {
                std::printf("ready\n");
                std::fflush(stdout);
            });
        }
    }

private:
    QTimer FTimer;
    int FStep = 0;
    bool FTold = false;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    TPainterWindow window(!app.arguments().contains(QStringLiteral("--still")));
    window.setWindowTitle(QStringLiteral("vexmira-wayland-painter"));
    window.showFullScreen();
    return app.exec();
}
