#include "media/Previewer.h"

#include "media/MainThread.h"

#include <mutex>

extern "C" {
#include <libavutil/avutil.h>
}

namespace {

std::mutex GFactoryLock;
TPreviewSurfaceFactory GFactory;

} // namespace

void SetPreviewSurfaceFactory(TPreviewSurfaceFactory factory) {
    std::lock_guard lock(GFactoryLock);
    GFactory = std::move(factory);
}

QString PreviewCaption(int64_t pts) {
    if (pts == AV_NOPTS_VALUE)
        return QStringLiteral("N/A");
    const int64_t ms = pts / 1000;
    return QString::asprintf("%.2d:%.2d:%.2d.%.3d", int(ms / 3600000), int(ms / 60000 % 60),
                             int(ms / 1000 % 60), int(ms % 1000));
}

TPreviewer::TPreviewer() = default;

TPreviewer::~TPreviewer() {
    if (FSurface)
        CallInMainThread([this] { FSurface.reset(); });
}

bool TPreviewer::Closed() const {
    return FClosed;
}

bool TPreviewer::Paint(const QImage& bitmap, int64_t pts) {
    CallInMainThread([&] {
        if (FClosed)
            return;
        if (!FSurface) {
            TPreviewSurfaceFactory factory;
            {
                std::lock_guard lock(GFactoryLock);
                factory = GFactory;
            }
            FSurface = factory ? factory() : nullptr;
        }
        if (FSurface && !FSurface->Closed())
            FSurface->Show(bitmap, PreviewCaption(pts));
        FClosed = !FSurface || FSurface->Closed();
    });
    return !FClosed;
}
