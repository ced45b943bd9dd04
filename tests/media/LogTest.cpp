#include "MediaTestSupport.h"

#include "media/FFErrors.h"
#include "media/MainThread.h"

#include <QThread>

#include <atomic>
#include <cstddef>
#include <thread>

namespace {

const char* ClassName(void* context) {
    return (*static_cast<AVClass**>(context))->class_name;
}

// A logging context of FFmpeg's shape: an AVClass first, a parent context after it.
struct TFakeContext {
    const AVClass* Class;
    TFakeContext* Parent = nullptr;
};

AVClass MakeClass(const char* name, int parentOffset) {
    AVClass avClass{};
    avClass.class_name = name;
    avClass.item_name = &ClassName;
    avClass.version = LIBAVUTIL_VERSION_INT;
    avClass.parent_log_context_offset = parentOffset;
    return avClass;
}

QString Prefix(const char* name, const void* address) {
    char text[128];
    std::snprintf(text, sizeof text, "[%s @ %p] ", name, address);
    return QString::fromLatin1(text);
}

class LogTest : public TMediaTest {
protected:
    void SetUp() override {
        TMediaTest::SetUp();
        FFLogger().SetLogLevel(llInfo);
    }
};

} // namespace

TEST_F(LogTest, RepeatedMessagesAreSuppressed) {
    TLogCapture log;
    FF.av_log(nullptr, AV_LOG_INFO, "twice %d\n", 1);
    FF.av_log(nullptr, AV_LOG_INFO, "twice %d\n", 1);
    EXPECT_EQ(log.Lines(), QStringList{QStringLiteral("twice 1")});

    log.Clear();
    for (int i = 0; i < 3; ++i)
        FF.av_log(nullptr, AV_LOG_WARNING, "thrice\n");
    FF.av_log(nullptr, AV_LOG_WARNING, "after\n");
    EXPECT_EQ(log.Lines(), (QStringList{QStringLiteral("thrice"),
                                        QStringLiteral("    Last message repeated 2 times"),
                                        QStringLiteral("after")}));
    EXPECT_EQ(log.Levels(), (std::vector<TLogLevel>{llWarning, llWarning, llWarning}));
}

TEST_F(LogTest, ALineSentInPartsIsDeliveredOnceWithOnePrefix) {
    TLogCapture log;
    const AVClass parentClass = MakeClass("vxparent", 0);
    const AVClass childClass = MakeClass("vxchild", offsetof(TFakeContext, Parent));
    TFakeContext parent{&parentClass};
    TFakeContext child{&childClass, &parent};

    FF.av_log(&child, AV_LOG_ERROR, "first part, ");
    EXPECT_TRUE(log.Lines().isEmpty());
    FF.av_log(&child, AV_LOG_ERROR, "second part %s\n", "done");
    EXPECT_EQ(log.Lines(), QStringList{Prefix("vxparent", &parent) + Prefix("vxchild", &child) +
                                       QStringLiteral("first part, second part done")});
    EXPECT_EQ(log.Levels(), std::vector<TLogLevel>{llError});

    // Several lines in one message are cut apart; a rest waits for its line feed.
    log.Clear();
    FF.av_log(&parent, AV_LOG_INFO, "one\ntwo\nthr");
    FF.av_log(nullptr, AV_LOG_INFO, "ee\n");
    EXPECT_EQ(log.Lines(), (QStringList{Prefix("vxparent", &parent) + QStringLiteral("one"),
                                        QStringLiteral("two"), QStringLiteral("three")}));
}

TEST_F(LogTest, ALongMessageIsNotCut) {
    TLogCapture log;
    const std::string text(5000, 'x');
    FF.av_log(nullptr, AV_LOG_INFO, "%s|\n", text.c_str());
    ASSERT_EQ(log.Lines().size(), 1);
    EXPECT_EQ(log.Lines()[0], QString::fromStdString(text) + u'|');
}

TEST_F(LogTest, FFmpegMessagesAboveTheLevelAreDropped) {
    TLogCapture log;
    FF.av_log(nullptr, AV_LOG_VERBOSE, "verbose from ffmpeg\n");
    FF.av_log(nullptr, AV_LOG_INFO, "info from ffmpeg\n");
    EXPECT_EQ(log.Lines(), QStringList{QStringLiteral("info from ffmpeg")});
    FFLogger().SetLogLevel(llDebug);
    EXPECT_EQ(FF.av_log_get_level(), AV_LOG_DEBUG);
    FF.av_log(nullptr, AV_LOG_VERBOSE, "verbose from ffmpeg\n");
    EXPECT_EQ(log.Lines().size(), 2);
}

TEST_F(LogTest, OptLogLevelTakesNamesAndNumbers) {
    TFFLogger& logger = FFLogger();
    logger.OptLogLevel(QStringLiteral("Warning"));
    EXPECT_EQ(logger.LogLevel(), llWarning);
    EXPECT_EQ(FF.av_log_get_level(), AV_LOG_WARNING);
    logger.OptLogLevel(QStringLiteral("DEBUG"));
    EXPECT_EQ(logger.LogLevel(), llDebug);
    logger.OptLogLevel(QStringLiteral("20"));
    EXPECT_EQ(logger.LogLevel(), llError);
    logger.OptLogLevel(QStringLiteral("-8"));
    EXPECT_EQ(logger.LogLevel(), llQuiet);
    logger.OptLogLevel(QStringLiteral("99"));
    EXPECT_EQ(logger.LogLevel(), llDebug);
    EXPECT_THROW(logger.OptLogLevel(QStringLiteral("loud")), EConvertError);
    EXPECT_THROW(logger.OptLogLevel(QStringLiteral(" 32")), EConvertError);
    EXPECT_EQ(logger.LogLevel(), llDebug);
}

TEST(LogLevels, MapBothWays) {
    EXPECT_EQ(LogLevelToAV(llQuiet), AV_LOG_QUIET);
    EXPECT_EQ(LogLevelToAV(llError), AV_LOG_ERROR);
    EXPECT_EQ(LogLevelToAV(llDebug), AV_LOG_DEBUG);
    EXPECT_EQ(AVToLogLevel(-8), llQuiet);
    EXPECT_EQ(AVToLogLevel(-100), llQuiet);
    EXPECT_EQ(AVToLogLevel(7), llPanic); // rounds toward zero
    EXPECT_EQ(AVToLogLevel(32), llInfo);
    EXPECT_EQ(AVToLogLevel(56), llDebug);
}

TEST(Logger, ExplicitLogFollowsTheLevelWithVerboseAlwaysAllowed) {
    TFFLogger& logger = FFLogger();
    TLogCapture log;
    logger.SetLogLevel(llInfo);
    logger.Log(nullptr, llVerbose, "verbose %d", 1);
    logger.Log(nullptr, llDebug, QStringLiteral("debug"));
    logger.Log(nullptr, llInfo, QStringLiteral("info"));
    EXPECT_EQ(log.Lines(), (QStringList{QStringLiteral("verbose 1"), QStringLiteral("info")}));

    log.Clear();
    logger.SetLogLevel(llQuiet);
    logger.Log(nullptr, llVerbose, QStringLiteral("verbose"));
    logger.Log(nullptr, llError, QStringLiteral("error"));
    logger.Log(nullptr, llQuiet, QStringLiteral("quiet"));
    EXPECT_EQ(log.Lines(), QStringList{QStringLiteral("quiet")});
    logger.SetLogLevel(llInfo);
}

TEST(Logger, OnlyOneInstanceReplacingTheAutoCreatedOne) {
    EXPECT_TRUE(FFLogger().AutoCreated());
    {
        TFFLogger own;
        EXPECT_EQ(&FFLogger(), &own);
        EXPECT_FALSE(own.AutoCreated());
        try {
            TFFLogger second;
            FAIL() << "a second logger was created";
        } catch (const EAssertionFailed& error) {
            EXPECT_STREQ(error.what(), "Allow creating only one instance of TFFLogger.");
        }
        EXPECT_EQ(&FFLogger(), &own);
    }
    EXPECT_TRUE(FFLogger().AutoCreated());
}

TEST_F(LogTest, WorkerLinesArriveOnTheMainThreadWhileItLogsItself) {
    struct TSeen {
        QString Line;
        TThreadID Producer;
        bool OnMain;
    };
    std::vector<TSeen> seen; // touched on the main thread only
    QThread* const mainThread = QThread::currentThread();
    // The handler logs again from the main thread while the worker waits for it.
    FFLogger().SetOnLog([&](QObject*, TThreadID producer, TLogLevel, const QString& line) {
        seen.push_back({line, producer, QThread::currentThread() == mainThread});
        if (line == QStringLiteral("from worker"))
            FF.av_log(nullptr, AV_LOG_INFO, "from main\n");
    });
    std::atomic<bool> done{false};
    std::atomic<TThreadID> workerId{0};
    std::thread worker([&] {
        workerId = CurrentThreadID();
        FF.av_log(nullptr, AV_LOG_INFO, "from worker\n");
        done = true; // only after the handler has run on the main thread
    });
    EXPECT_TRUE(WaitServingMainThreadCalls([&] { return done.load(); }, 10000));
    worker.join();
    FFLogger().SetOnLog(nullptr);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Line, QStringLiteral("from worker"));
    EXPECT_EQ(seen[0].Producer, workerId.load());
    EXPECT_TRUE(seen[0].OnMain);
    EXPECT_EQ(seen[1].Line, QStringLiteral("from main"));
    EXPECT_EQ(seen[1].Producer, CurrentThreadID());
}
