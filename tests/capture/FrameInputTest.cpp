#include "capture/FrameInput.h"
#include "capture/HandleTable.h"
#include "media/InputFormats.h"
#include "media/MediaTestSupport.h"

#include <QPainter>
#include <QThread>

#include <future>

namespace {

class FrameInputTest : public TMediaTest {
protected:
    TFrameInputAdapter Adapter;
    THandleRegistration<TFrameInputAdapter> Handle{&Adapter};
    AVFormatContext* Input = nullptr;
    TLogCapture Log;

    void SetUp() override {
        TMediaTest::SetUp();
        RegisterFrameInput();
    }
    void TearDown() override {
        if (Input != nullptr)
            FF.avformat_close_input(&Input);
        TMediaTest::TearDown();
    }
    QString Options(const QString& rest) const {
        return QStringLiteral("a=%1;").arg(Handle.Handle()) + rest;
    }
    int Open(const QString& options) {
        return OpenInput(&Input, options, FindInputFormat(QStringLiteral("frameinput")), nullptr,
                         nullptr);
    }
    // Reads one packet into `packet`; the read's result.
    int Read(AVPacket* packet) { return FF.av_read_frame(Input, packet); }
    bool Logged(const char* text) const {
        return Log.Lines().join(u'\n').contains(QString::fromLatin1(text));
    }
};

struct TPacket {
    AVPacket* P = FF.av_packet_alloc();
    ~TPacket() { FF.av_packet_free(&P); }
};

TEST_F(FrameInputTest, TimesFollowTheFrameRateAndTheHandlersCountThePictures) {
    std::vector<std::pair<int64_t, int>> seen;
    Adapter.OnReadFrameCanvas = [&](QObject* sender, QPainter*, TInputFrameInfo* info) {
        EXPECT_EQ(sender, &Adapter);
        seen.emplace_back(info->TimeStamp, info->FrameNumber);
        return seen.size() < 4 ? 0 : -1;
    };
    ASSERT_EQ(Open(Options(QStringLiteral("r=25/1;s=64*48;bpp=24;t=Canvas"))), 0);
    ASSERT_NE(Adapter.FrameInfo(), nullptr);
    EXPECT_EQ(Adapter.FrameInfo()->LastTimeStamp, AV_NOPTS_VALUE);
    const AVStream* st = Input->streams[0];
    EXPECT_EQ(st->codecpar->codec_id, AV_CODEC_ID_RAWVIDEO);
    EXPECT_EQ(st->codecpar->format, AV_PIX_FMT_BGR24);
    EXPECT_EQ(st->codecpar->bit_rate, int64_t(64 * 3 * 48) * 25 * 8);

    TPacket packet;
    std::vector<int64_t> pts;
    int result;
    while ((result = Read(packet.P)) >= 0) {
        EXPECT_EQ(packet.P->size, 64 * 3 * 48);
        EXPECT_TRUE(packet.P->flags & AV_PKT_FLAG_KEY);
        pts.push_back(packet.P->pts);
        FF.av_packet_unref(packet.P);
    }
    // The handler's first negative value ends the input after three pictures.
    EXPECT_EQ(pts, (std::vector<int64_t>{0, 40000, 80000}));
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3], (std::pair<int64_t, int>(120000, 4)));
    EXPECT_TRUE(Logged("reading frame (Canvas) return -1"));
}

TEST_F(FrameInputTest, NtscRateRoundsToTheNearestMicrosecond) {
    std::vector<int64_t> seen;
    Adapter.OnReadFrameYUV = [&](QObject*, void* data, TInputFrameInfo* info) {
        std::memset(data, 0x80, size_t(info->BytesPerFrame));
        seen.push_back(info->TimeStamp);
        return seen.size() < 3 ? 0 : -1;
    };
    ASSERT_EQ(Open(Options(QStringLiteral("r=30000:1001;s=32x16;pf=YUV420P"))), 0);
    EXPECT_EQ(Adapter.FrameInfo()->BytesPerFrame, 32 * 16 * 3 / 2);
    TPacket packet;
    while (Read(packet.P) >= 0) {
        // YUV packets are the handler's data as it left them.
        EXPECT_EQ(packet.P->data[0], 0x80);
        FF.av_packet_unref(packet.P);
    }
    EXPECT_EQ(seen, (std::vector<int64_t>{0, 33367, 66733}));
    EXPECT_TRUE(Logged("reading frame (YUV) return"));
}

TEST_F(FrameInputTest, HandlerMayMoveTheTimeForwardButNotBack) {
    int calls = 0;
    std::vector<int64_t> requested;
    Adapter.OnReadFrameCanvas = [&](QObject*, QPainter*, TInputFrameInfo* info) {
        requested.push_back(info->TimeStamp);
        ++calls;
        if (calls == 2)
            info->TimeStamp = 1000000;
        if (calls == 4)
            info->TimeStamp = 500000; // not after the previous picture
        return calls < 5 ? 0 : -1;
    };
    ASSERT_EQ(Open(Options(QStringLiteral("r=25/1;s=8*8;bpp=32;t=canvas"))), 0);
    TPacket packet;
    std::vector<int64_t> pts;
    while (Read(packet.P) >= 0) {
        pts.push_back(packet.P->pts);
        FF.av_packet_unref(packet.P);
    }
    EXPECT_EQ(requested, (std::vector<int64_t>{0, 40000, 1040000, 1080000, 1120000}));
    EXPECT_EQ(pts, (std::vector<int64_t>{0, 1000000, 1040000, 1080000}));
    EXPECT_TRUE(Logged("invalid pts 500000"));
}

TEST_F(FrameInputTest, CanvasRowsKeepTheirAlignmentBytesTopRowFirst) {
    Adapter.OnReadFrameCanvas = [&](QObject*, QPainter* canvas, TInputFrameInfo* info) {
        if (info->FrameNumber > 1)
            return -1;
        canvas->fillRect(0, 0, info->Width, info->Height, Qt::black);
        canvas->fillRect(641, 0, 1, 1, QColor(10, 20, 30));   // top row, last pixel
        canvas->fillRect(0, 479, 1, 1, QColor(200, 100, 50)); // bottom row, first pixel
        return 0;
    };
    ASSERT_EQ(Open(Options(QStringLiteral("r=2/1;s=642*480;bpp=24;t=Canvas"))), 0);
    EXPECT_EQ(Adapter.FrameInfo()->BytesPerLine, 1928);
    TPacket packet;
    ASSERT_GE(Read(packet.P), 0);
    ASSERT_EQ(packet.P->size, 1928 * 480);
    const uint8_t* top = packet.P->data + 641 * 3;
    EXPECT_EQ((std::vector<int>{top[0], top[1], top[2]}), (std::vector<int>{30, 20, 10})); // B G R
    const uint8_t* bottom = packet.P->data + 479 * 1928;
    EXPECT_EQ((std::vector<int>{bottom[0], bottom[1], bottom[2]}),
              (std::vector<int>{50, 100, 200}));
}

TEST_F(FrameInputTest, DepthsGiveTheirPixelFormats) {
    Adapter.OnReadFrameCanvas = [](QObject*, QPainter* canvas, TInputFrameInfo* info) {
        canvas->fillRect(0, 0, info->Width, info->Height, QColor(255, 255, 255));
        return 0;
    };
    const std::pair<int, AVPixelFormat> depths[] = {{8, AV_PIX_FMT_PAL8},
                                                    {16, AV_PIX_FMT_RGB555LE},
                                                    {24, AV_PIX_FMT_BGR24},
                                                    {32, AV_PIX_FMT_BGRA}};
    for (auto [bpp, format] : depths) {
        SCOPED_TRACE(bpp);
        // A "pixelformat" is replaced by the depth's format outside YUV mode.
        ASSERT_EQ(Open(Options(QStringLiteral("r=1/1;s=10*2;bpp=%1;t=Canvas;pf=yuv420p").arg(bpp))),
                  0);
        EXPECT_EQ(Input->streams[0]->codecpar->format, format);
        TPacket packet;
        ASSERT_GE(Read(packet.P), 0);
        const int line = (10 * bpp + 31) / 32 * 4;
        EXPECT_EQ(packet.P->size, line * 2);
        // White painted everywhere: the first pixel's bytes are all set.
        EXPECT_EQ(packet.P->data[0], 0xFF);
        EXPECT_EQ(FF.av_packet_get_side_data(packet.P, AV_PKT_DATA_PALETTE, nullptr) != nullptr,
                  bpp == 8);
        FF.av_packet_unref(packet.P);
        FF.avformat_close_input(&Input);
    }
}

TEST_F(FrameInputTest, OptionChecksRefuseTheOpen) {
    struct TCase {
        QString Options;
        const char* Message;
    };
    const QString a = QStringLiteral("a=%1;").arg(Handle.Handle());
    const TCase cases[] = {
        {QStringLiteral("r=25/1;s=8*8;bpp=24;t=Canvas"), "Invalid FrameInputAdapter"},
        {QStringLiteral("a=999999;r=25/1;s=8*8;bpp=24;t=Canvas"), "Invalid FrameInputAdapter"},
        {a + QStringLiteral("r=25/0;s=8*8;bpp=24;t=Canvas"), "Invalid frame rate"},
        {a + QStringLiteral("r=25/1;s=0*8;bpp=24;t=Canvas"), "Invalid frame size"},
        {a + QStringLiteral("r=25/1;s=8*8;bpp=20;t=Canvas"), "Invalid BitsPerPixel"},
        {a + QStringLiteral("r=25/1;s=8*8;pf=nosuchformat;bpp=x"),
         "Unknown pixel format requested"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Options.toStdString());
        Log.Clear();
        EXPECT_EQ(Open(c.Options), AVERROR(EINVAL));
        EXPECT_EQ(Input, nullptr);
        EXPECT_TRUE(Logged(c.Message)) << Log.Lines().join(u'|').toStdString();
    }
    // Any depth is accepted in YUV mode; a malformed number fails the open strictly.
    EXPECT_EQ(Open(a + QStringLiteral("r=25/1;s=8*8;bpp=20")), 0);
    FF.avformat_close_input(&Input);
    EXPECT_THROW(Open(a + QStringLiteral("r=25;s=8*8;bpp=24;t=Canvas")), EConvertError);
}

TEST_F(FrameInputTest, CanvasWithoutHandlerEndsAtOnce) {
    ASSERT_EQ(Open(Options(QStringLiteral("r=25/1;s=8*8;bpp=24;t=Canvas"))), 0);
    TPacket packet;
    EXPECT_EQ(Read(packet.P), -1);
    EXPECT_TRUE(Logged("reading frame (Canvas) return -1"));
}

// Read from a worker thread: the handler runs on the main thread while the worker waits,
// unless the adapter is told to run it on the reading thread; header and close events
// follow the same rule.
TEST_F(FrameInputTest, EventsRunOnTheMainThreadUnlessToldOtherwise) {
    for (bool mainThread : {true, false}) {
        SCOPED_TRACE(mainThread);
        Adapter.TriggerEventInMainThread = mainThread;
        QThread* handlerThread = nullptr;
        int closes = 0;
        Adapter.OnReadFrameCanvas = [&](QObject*, QPainter*, TInputFrameInfo* info) {
            handlerThread = QThread::currentThread();
            return info->FrameNumber <= 2 ? 0 : -1;
        };
        Adapter.OnReadClose = [&](QObject*) { ++closes; };
        ASSERT_EQ(Open(Options(QStringLiteral("r=25/1;s=8*8;bpp=24;t=Canvas"))), 0);
        auto reading = std::async(std::launch::async, [this] {
            TPacket packet;
            int packets = 0;
            while (Read(packet.P) >= 0) {
                ++packets;
                FF.av_packet_unref(packet.P);
            }
            FF.avformat_close_input(&Input);
            return packets;
        });
        WaitServingMainThreadCalls(
            [&] { return reading.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
        EXPECT_EQ(reading.get(), 2);
        EXPECT_EQ(closes, 1);
        EXPECT_EQ(handlerThread == QThread::currentThread(), mainThread);
    }
}

} // namespace
