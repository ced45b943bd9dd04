// The option strings of the program's three input formats, cut as the sources' read
// headers cut them. The first byte picks the source; the rest is the option string.
#include "FuzzSupport.h"

#include "capture/FrameInput.h"
#include "capture/ScreenCapture.h"
#include "capture/SourceOptions.h"
#include "capture/WaveCapture.h"
#include "media/FFErrors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    FuzzApplication();
    FuzzLoadFFmpeg();
    // The file-name field the sources read their options from holds 1023 bytes.
    const QString text = QString::fromUtf8(FuzzBytes(data + 1, size - 1).left(1023));
    try {
        switch (data[0] % 4) {
        case 0: {
            TScreenCaptureOptions o;
            ParseScreenCaptureOptions(text, o);
            break;
        }
        case 1: {
            TWaveCaptureOptions o;
            ParseWaveCaptureOptions(text, o);
            break;
        }
        case 2: {
            TFrameInputOptions o;
            ParseFrameInputOptions(text, o);
            break;
        }
        default: {
            for (const TOptionPiece& piece : SplitOptionString(text, {"title"})) {
                if (piece.Key.isEmpty() && !piece.HasValue)
                    FuzzFail("an empty piece was kept", text);
                LenientInt(piece.Value, -1);
                try {
                    StrictIntPair(piece.Value, u'*', u'x');
                } catch (const EConvertError&) {
                }
            }
            break;
        }
        }
    } catch (const EConvertError&) {
        // A malformed strict number: the open fails with the conversion error.
    }
    return 0;
}
