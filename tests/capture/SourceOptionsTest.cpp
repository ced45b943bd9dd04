#include "capture/SourceOptions.h"
#include "capture/HandleTable.h"
#include "media/FFErrors.h"
#include "media/FFLoad.h"
#include "media/FFLog.h"
#include "media/InputFormats.h"
#include "media/InterruptCB.h"

#include <gtest/gtest.h>

namespace {

void ExpectPieces(const QString& text, const QList<TOptionPiece>& expected,
                  std::initializer_list<const char*> runToEnd = {}) {
    EXPECT_EQ(SplitOptionString(text, runToEnd), expected) << text.toStdString();
}

} // namespace

TEST(OptionString, CutsAtTheFirstSemicolonThenAtTheFirstEquals) {
    ExpectPieces("", {});
    ExpectPieces(";;", {});
    ExpectPieces("a=1;b=x=y;;c;d=",
                 {{"a", "1", true}, {"b", "x=y", true}, {"c", "", false}, {"d", "", true}});
    ExpectPieces(" a = 1", {{" a ", " 1", true}}); // nothing is trimmed
    ExpectPieces("n=1;title=a;b;c=2", {{"n", "1", true}, {"title", "a;b;c=2", true}}, {"title"});
    ExpectPieces("TITLE=x;y", {{"TITLE", "x;y", true}}, {"title"});
    ExpectPieces("title;n=1", {{"title", "", false}, {"n", "1", true}}, {"title"});
}

TEST(OptionString, KeysMatchWithoutAsciiCaseOnly) {
    EXPECT_TRUE(SameOptionKey("FrameRate", "framerate"));
    EXPECT_FALSE(SameOptionKey(" framerate", "framerate"));
    EXPECT_FALSE(SameOptionKey("framerat", "framerate"));
    EXPECT_FALSE(SameOptionKey(QString::fromUtf8("\xc3\x89"), "\xc3\xa9")); // É is not é here
}

TEST(OptionString, StrictAndLenientConversions) {
    EXPECT_EQ(StrictInt("-15"), -15);
    for (const char* bad : {"", " 1", "1 ", "1.5", "0x10", "yes", "99999999999"})
        EXPECT_THROW(StrictInt(bad), EConvertError) << bad;
    try {
        StrictInt("abc");
        ADD_FAILURE();
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("'abc' is not a valid integer value"));
    }
    EXPECT_EQ(LenientInt("yes", 1), 1);
    EXPECT_EQ(LenientInt("", -1), -1);
    EXPECT_EQ(LenientInt("0", 1), 0);

    EXPECT_EQ(StrictIntPair("15/1", u'/'), std::make_pair(15, 1));
    EXPECT_EQ(StrictIntPair("10,20", u','), std::make_pair(10, 20));
    EXPECT_THROW(StrictIntPair("15", u'/'), EConvertError);
    EXPECT_THROW(StrictIntPair("15/1/2", u'/'), EConvertError);
    EXPECT_EQ(StrictIntPair("25:1", u'/', u':'), std::make_pair(25, 1));
    EXPECT_EQ(StrictIntPair("640x480", u'*', u'x'), StrictIntPair("640*480", u'*', u'x'));
    EXPECT_THROW(StrictIntPair("640X480", u'*', u'x'), EConvertError);
    EXPECT_THROW(StrictIntPair("640x48x0", u'*', u'x'), EConvertError); // only the first x
}

TEST(HandleTable, FindsOnlyRegisteredObjectsOfTheirOwnType) {
    int flag = 0;
    double other = 0;
    const int before = RegisteredHandleCount();
    TObjectHandle last = 0;
    {
        THandleRegistration<int> registration(&flag);
        THandleRegistration<double> otherRegistration(&other);
        last = otherRegistration.Handle();
        EXPECT_GT(registration.Handle(), 0);
        EXPECT_EQ(FindHandle<int>(registration.Handle()), &flag);
        EXPECT_EQ(FindHandle<int>(otherRegistration.Handle()), nullptr); // another type
        EXPECT_EQ(FindHandle<double>(registration.Handle()), nullptr);
        EXPECT_EQ(FindHandle<int>(0), nullptr);
        EXPECT_EQ(FindHandle<int>(-registration.Handle()), nullptr);
        EXPECT_EQ(RegisteredHandleCount(), before + 2);
    }
    EXPECT_EQ(FindHandle<double>(last), nullptr); // unregistered
    EXPECT_EQ(RegisteredHandleCount(), before);
    THandleRegistration<double> again(&other);
    EXPECT_GT(again.Handle(), last); // never reused
}

// ---------------------------------------------------------------------------------------
// A small own format that reads its options as the program's sources do.

namespace {

struct TProbeAdapter {
    int Id = 0;
};

struct TProbeSeen {
    int Num = 15, Den = 1, Cursor = 0;
    QString Title;
    bool TitleGiven = false;
    TProbeAdapter* Adapter = nullptr;
    TInputParameters Parameters;
    int Closes = 0;
};
TProbeSeen GSeen;

struct TProbeState {
    int Packets;
};

int ProbeReadHeader(AVFormatContext* s, const QString& options, const TInputParameters& ap) {
    TProbeSeen seen;
    seen.Closes = GSeen.Closes;
    seen.Parameters = ap;
    int adapter = 0;
    TOptionReader reader;
    reader.StrictPair({"framerate", "r"}, u'/', seen.Num, seen.Den, u':')
        .Lenient({"cursor"}, seen.Cursor, 1)
        .Strict({"adapter", "a"}, adapter)
        .RunToEnd({"title"}, seen.Title, &seen.TitleGiven);
    try {
        reader.Parse(options);
    } catch (...) {
        GSeen = seen;
        throw;
    }
    seen.Adapter = FindHandle<TProbeAdapter>(adapter);
    GSeen = seen;
    if (adapter != 0 && !seen.Adapter) {
        FF.av_log(s, AV_LOG_ERROR, "Invalid adapter\n");
        return seInvalidOption;
    }
    AVStream* st = NewSourceStream(s);
    if (!st)
        return seNoMemory;
    SetRawVideoParameters(st, 64, 48, AV_PIX_FMT_BGR24, {seen.Num, seen.Den});
    FF.av_log(s, AV_LOG_INFO, "ready for %d/%d\n", seen.Num, seen.Den);
    return 0;
}

int ProbeReadPacket(AVFormatContext* s, AVPacket* pkt) {
    auto* state = static_cast<TProbeState*>(s->priv_data);
    if (state->Packets == 3)
        return seEndOfFile;
    if (FF.av_new_packet(pkt, 64 * 48 * 3) < 0)
        return seNoMemory;
    std::memset(pkt->data, state->Packets, pkt->size);
    pkt->pts = pkt->dts = state->Packets * 40000;
    ++state->Packets;
    return pkt->size;
}

int ProbeReadClose(AVFormatContext*) {
    ++GSeen.Closes;
    return 0;
}

const TOwnInputFormat ProbeFormat = {"vxprobe",        "Probe source",   sizeof(TProbeState),
                                     &ProbeReadHeader, &ProbeReadPacket, &ProbeReadClose};
// FFmpeg has a demuxer of this name: registering it changes nothing.
const TOwnInputFormat ShadowFormat = {
    "wav", "Not the wave demuxer", 0, &ProbeReadHeader, &ProbeReadPacket, &ProbeReadClose};

class OwnInputFormat : public testing::Test {
protected:
    void SetUp() override {
        FFLoader.SetLibraryPath(QString());
        ASSERT_TRUE(FFLoader.Load(TLibraries::All())) << FFLoader.LastErrMsg().toStdString();
        RegisterInputFormat(ProbeFormat);
    }
    void TearDown() override {
        if (FIc)
            FF.avformat_close_input(&FIc);
        FFLoader.Unload(TLibraries::All());
    }
    // Opens the probe with `options`; the result of OpenInput.
    int Open(const QString& options, const TInputParameters* ap = nullptr) {
        return OpenInput(&FIc, options, FindInputFormat("vxprobe"), ap, nullptr);
    }
    AVFormatContext* FIc = nullptr;
};

} // namespace

TEST_F(OwnInputFormat, OptionsReachTheFormatWithTheCuttingRules) {
    ASSERT_EQ(Open("FrameRate=25:1;cursor=yes;bogus=1; cursor=0;;title=a;b;cursor=0"), 0);
    EXPECT_EQ(GSeen.Num, 25);
    EXPECT_EQ(GSeen.Den, 1);
    EXPECT_EQ(GSeen.Cursor, 1); // lenient fallback; " cursor" is no key
    EXPECT_EQ(GSeen.Title, QStringLiteral("a;b;cursor=0"));
    FF.avformat_close_input(&FIc);

    ASSERT_EQ(Open(" framerate=30/1;cursor=0;cursor"), 0);
    EXPECT_EQ(GSeen.Num, 15);   // the default stays
    EXPECT_EQ(GSeen.Cursor, 1); // the later piece wins; no "=" is an empty value
    EXPECT_FALSE(GSeen.TitleGiven);
}

TEST_F(OwnInputFormat, AStrictConversionErrorFailsTheOpenWithItsMessage) {
    const int closes = GSeen.Closes;
    try {
        Open("cursor=1;framerate=15");
        ADD_FAILURE() << "the open succeeded";
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("'' is not a valid integer value"));
    }
    EXPECT_EQ(FIc, nullptr);
    EXPECT_EQ(GSeen.Cursor, 1);      // applied before the failing piece
    EXPECT_EQ(GSeen.Closes, closes); // no close after a failed header
    EXPECT_THROW(Open("r=25"), EConvertError);
    EXPECT_EQ(Open("r=25/1"), 0);
}

TEST_F(OwnInputFormat, TheStreamIsSetUpForALiveSource) {
    const TInputParameters ap{320, 200, {1, 10}};
    ASSERT_EQ(Open("r=25/1", &ap), 0);
    EXPECT_EQ(GSeen.Parameters.Width, 320);
    EXPECT_EQ(GSeen.Parameters.TimeBase.den, 10);
    EXPECT_STREQ(FIc->iformat->name, "vxprobe");
    EXPECT_TRUE(IsOwnInputFormat(FIc->iformat));
    EXPECT_EQ(FIc->interrupt_callback.callback, &IOInterruptCallback);
    ASSERT_EQ(FIc->nb_streams, 1u);
    const AVStream* st = FIc->streams[0];
    EXPECT_EQ(st->id, 0);
    EXPECT_EQ(st->time_base.num, 1);
    EXPECT_EQ(st->time_base.den, 1000000);
    EXPECT_EQ(st->codecpar->codec_id, AV_CODEC_ID_RAWVIDEO);
    EXPECT_EQ(st->codecpar->format, AV_PIX_FMT_BGR24);
    EXPECT_EQ(st->codecpar->bit_rate, 64 * 48 * 3 * 25 * 8);
    EXPECT_EQ(av_q2d(st->avg_frame_rate), 25.0);
    EXPECT_TRUE(FIc->flags & AVFMT_FLAG_NOPARSE);
    EXPECT_EQ(FIc->probesize, 0);

    // Gathering stream information reads no packet, so all three remain.
    ASSERT_GE(FF.avformat_find_stream_info(FIc, nullptr), 0);
    AVPacket* pkt = FF.av_packet_alloc();
    int packets = 0;
    while (FF.av_read_frame(FIc, pkt) >= 0) {
        EXPECT_EQ(pkt->stream_index, 0);
        EXPECT_EQ(pkt->size, 64 * 48 * 3);
        EXPECT_EQ(pkt->data[0], packets);
        EXPECT_EQ(pkt->pts, packets * 40000);
        ++packets;
        FF.av_packet_unref(pkt);
    }
    FF.av_packet_free(&pkt);
    EXPECT_EQ(packets, 3);
    const int closes = GSeen.Closes;
    FF.avformat_close_input(&FIc);
    EXPECT_EQ(GSeen.Closes, closes + 1);
    EXPECT_EQ(RawVideoBitRate(641, 480, AV_PIX_FMT_BGR24, {30000, 1001}),
              std::llround(641.0 * 480 * 3 * 30000 / 1001 * 8));
}

TEST_F(OwnInputFormat, LongOptionStringsAreCutTo1023Bytes) {
    ASSERT_EQ(Open("title=" + QString(2000, u'x')), 0);
    EXPECT_EQ(GSeen.Title.size(), MaxOptionStringBytes - 6);
    FF.avformat_close_input(&FIc);
    // A character across the cut is dropped whole.
    ASSERT_EQ(Open("title=" + QString(1016, u'x') + QString::fromUtf8("\xc3\xa9")), 0);
    EXPECT_EQ(GSeen.Title, QString(1016, u'x'));
    FF.avformat_close_input(&FIc);
    ASSERT_EQ(Open("title=" + QString(1015, u'x') + QString::fromUtf8("\xc3\xa9")), 0);
    EXPECT_EQ(GSeen.Title, QString(1015, u'x') + QString::fromUtf8("\xc3\xa9"));
}

TEST_F(OwnInputFormat, HandlesStandForObjectsAndUnknownOnesAreRejected) {
    TProbeAdapter adapter{7};
    double notAnAdapter = 0;
    TObjectHandle stale = 0;
    {
        THandleRegistration<TProbeAdapter> registration(&adapter);
        stale = registration.Handle();
        ASSERT_EQ(Open("a=" + registration.Text()), 0);
        EXPECT_EQ(GSeen.Adapter, &adapter);
        FF.avformat_close_input(&FIc);
    }
    THandleRegistration<double> wrongType(&notAnAdapter);
    EXPECT_EQ(Open(QStringLiteral("a=%1").arg(stale)), AVERROR(EINVAL));
    EXPECT_EQ(FIc, nullptr);
    EXPECT_EQ(Open("a=" + wrongType.Text()), AVERROR(EINVAL));
    EXPECT_EQ(Open("a=2147483647"), AVERROR(EINVAL));
    EXPECT_EQ(GSeen.Adapter, nullptr);
}

TEST_F(OwnInputFormat, RegistersOncePerNameAndNeedsTheLibrary) {
    RegisterInputFormat(ProbeFormat);
    EXPECT_EQ(OwnInputFormatNames().count("vxprobe"), 1);
    RegisterInputFormat(ShadowFormat);
    EXPECT_FALSE(OwnInputFormatNames().contains("wav"));
    EXPECT_FALSE(IsOwnInputFormat(FindInputFormat("wav")));
    EXPECT_NE(FindInputFormat("wav"), nullptr);
    EXPECT_EQ(FindInputFormat("VXPROBE"), nullptr); // names are exact

    FFLoader.Unload(avFormat);
    EXPECT_THROW(RegisterInputFormat(ProbeFormat), EAssertionFailed);
    ASSERT_TRUE(FFLoader.Load(avFormat));
    EXPECT_EQ(FindInputFormat("vxprobe"), nullptr); // registrations ended with the library
    RegisterInputFormat(ProbeFormat);
    EXPECT_NE(FindInputFormat("vxprobe"), nullptr);
}

TEST_F(OwnInputFormat, SourcesLogUnderTheirFormatName) {
    QStringList lines;
    FFLogger().SetOnLog(
        [&](QObject*, TThreadID, TLogLevel, const QString& line) { lines << line; });
    ASSERT_EQ(Open("r=30/1"), 0);
    FFLogger().SetOnLog(nullptr);
    ASSERT_FALSE(lines.filter("ready for 30/1").isEmpty()) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.filter("ready for 30/1").first().startsWith("[vxprobe @ 0x"));
}
