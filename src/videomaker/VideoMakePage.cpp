#include "videomaker/VideoMakePage.h"

#include <QAction>

TVideoMakePage::TVideoMakePage(QWidget* parent) : QWidget(parent) {}
TVideoMakePage::~TVideoMakePage() = default;
void TVideoMakePage::AttachSaveAction(QAction*) {}
void TVideoMakePage::MnNewProjectClick() {}
void TVideoMakePage::MnOpenProjectClick() {}
void TVideoMakePage::MnSaveProjectClick() {}
void TVideoMakePage::MnSaveProjectAsClick() {}
void TVideoMakePage::OpenProjectFile(const QString&) {}
bool TVideoMakePage::ConfirmDiscardProject() {
    return true;
}
