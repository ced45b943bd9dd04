// The font text parser of the settings and project files. A text that parses must be
// written back (FontToText) to a text that parses to the same font text again.
#include "FuzzSupport.h"

#include "videomaker/LyricText.h"
#include "videomaker/VideoMakeSettings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzApplication();
    const QString text = QString::fromUtf8(FuzzBytes(data, size));
    TLyricsFont font = DefaultVideoMakeSettings().VideoFont;
    if (!TextToFont(text, font))
        return 0;
    const QString written = FontToText(font);
    TLyricsFont again;
    if (!TextToFont(written, again))
        FuzzFail("a written font text does not parse", written);
    if (FontToText(again) != written)
        FuzzFail("a written font text does not read back the same", written);
    // The composer lays the rows out in this font.
    WrapLyricWords(QStringLiteral("[00:01.00] Lyrics 歌词"), font.Font, 304);
    return 0;
}
