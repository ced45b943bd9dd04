// Preset files of the job option language: any bytes as the file named by "fpre",
// "vpre", "apre" or "spre" (the first byte chooses).
#include "FuzzSupport.h"

#include "media/FFErrors.h"
#include "media/FFmpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    FuzzApplication();
    FuzzLoadFFmpeg();
    static const QString fileName = FuzzScratchFile(QStringLiteral("preset.ffpreset"));
    FuzzWriteFile(fileName, FuzzBytes(data + 1, size - 1));
    static const char* const names[] = {"fpre", "vpre", "apre", "spre"};
    TFFmpeg job(nullptr, 20);
    job.HaltOnInvalidOption = data[0] & 4;
    try {
        job.SetExtOption(QLatin1String(names[data[0] % 4]), fileName);
    } catch (const EFFError&) {
        // A preset line with bad syntax or a rejected option fails the call.
    }
    FuzzQuietLog();
    return 0;
}
