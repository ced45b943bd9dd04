#include "videomaker/VideoMakeSettings.h"

void SetVideoMakeDefaults() {}
void ReadVideoMakeSection() {}
