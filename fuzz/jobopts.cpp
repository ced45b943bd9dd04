// The job option language: ExtOptions lines of an input or an output record (the first
// byte chooses which) through the encoder's line parser into a transcoding job.
// Frame-hook plug-ins ("vhook") and statistics files ("vstats") are left out: they would
// load libraries or write files named by the input.
#include "FuzzSupport.h"

#include "media/FFEncode.h"
#include "media/FFErrors.h"
#include "media/FFmpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    FuzzApplication();
    FuzzLoadFFmpeg();
    const bool output = data[0] & 1;
    const QString text = QString::fromUtf8(FuzzBytes(data + 1, size - 1));
    QStringList kept;
    for (const auto& [name, value] : ParseOptionLines(text)) {
        const QString lower = name.toLower();
        if (lower == QLatin1String("vhook") || lower.startsWith(QLatin1String("vstats")))
            continue;
        kept << name + u'=' + value;
    }
    TFFmpeg job(nullptr, 20);
    job.HaltOnInvalidOption = data[0] & 2;
    try {
        ApplyExtOptionLines(&job, kept.join(u'\n'), output);
    } catch (const EFFError&) {
        // A rejected option: the encoder reports it as the call's failure.
    }
    FuzzQuietLog();
    return 0;
}
