#include "MediaTestSupport.h"

#include "media/Event.h"
#include "media/InterruptCB.h"
#include "media/MainThread.h"
#include "support/Sandbox.h"

#include <QThread>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

TEST(MainThreadCalls, RunOnTheMainThreadWhileTheCallerWaits) {
    QThread* const mainThread = QThread::currentThread();
    std::vector<int> order; // written on the main thread only
    std::atomic<bool> done{false};
    bool allOnMain = true;
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i) {
            int value = -1;
            CallInMainThread([&] {
                allOnMain = allOnMain && QThread::currentThread() == mainThread;
                order.push_back(i);
                value = i * 10;
            });
            // The call has run before CallInMainThread returns.
            if (value != i * 10)
                allOnMain = false;
        }
        done = true;
    });
    EXPECT_TRUE(WaitServingMainThreadCalls([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST(MainThreadCalls, AreServedByTheEventLoopToo) {
    std::atomic<bool> ran{false};
    std::thread worker([&] { CallInMainThread([&] { ran = true; }); });
    EXPECT_TRUE(PumpUntil([&] { return ran.load(); }, 10000));
    worker.join();
}

TEST(MainThreadCalls, RunDirectlyOnTheMainThreadAndPassExceptionsBack) {
    bool ran = false;
    CallInMainThread([&] { ran = true; });
    EXPECT_TRUE(ran);

    std::atomic<bool> caught{false}, done{false};
    std::thread worker([&] {
        try {
            CallInMainThread([] { throw std::runtime_error("from the handler"); });
        } catch (const std::runtime_error& error) {
            caught = std::string(error.what()) == "from the handler";
        }
        done = true;
    });
    EXPECT_TRUE(WaitServingMainThreadCalls([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_TRUE(caught);
}

TEST(MainThreadCalls, AWaitTimesOut) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitServingMainThreadCalls([] { return false; }, 60));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
}

TEST(Event, StaysSetUntilResetAndReleasesAServingWaiter) {
    TEvent event;
    EXPECT_FALSE(event.WaitFor(10));
    std::atomic<bool> served{false};
    std::thread worker([&] {
        CallInMainThread([&] { served = true; }); // needs the waiting main thread
        event.SetEvent();
    });
    EXPECT_TRUE(event.WaitServing(10000));
    worker.join();
    EXPECT_TRUE(served);
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_TRUE(event.IsSet());
    event.ResetEvent();
    EXPECT_FALSE(event.WaitFor(0));
    EXPECT_TRUE(TEvent(true).IsSet());
}

namespace {

bool Yes(void*) {
    return true;
}
bool No(void*) {
    return false;
}
bool ReadFlag(void* flag) {
    return static_cast<std::atomic<bool>*>(flag)->load();
}

int FreeTcpPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    close(s);
    return ntohs(address.sin_port);
}

// Opens a TCP listener that nobody connects to, so FFmpeg waits in its I/O loop and
// asks the interrupt callback until `listen_timeout` ends.
int OpenIdleListener(int timeoutMs) {
    AVFormatContext* ic = FF.avformat_alloc_context();
    ic->interrupt_callback = EngineInterruptCB();
    const QByteArray url = QStringLiteral("tcp://127.0.0.1:%1?listen=1&listen_timeout=%2")
                               .arg(FreeTcpPort())
                               .arg(timeoutMs)
                               .toUtf8();
    const int result = FF.avformat_open_input(&ic, url.constData(), nullptr, nullptr);
    if (result >= 0)
        FF.avformat_close_input(&ic);
    return result;
}

} // namespace

TEST(InterruptRegistry, AsksTheFunctionOfTheCallingThread) {
    TInterruptCB& registry = InterruptCB();
    registry.Clear();
    int senderA = 0, senderB = 0;
    registry.Add(1, &senderA, &No);
    registry.Add(2, &senderB, &Yes);
    registry.Add(2, &senderB, &Yes); // already there
    EXPECT_EQ(registry.LockList().size(), 2u);
    registry.UnlockList();
    EXPECT_FALSE(registry.Interrupt(1));
    EXPECT_TRUE(registry.Interrupt(2));
    EXPECT_FALSE(registry.Interrupt(3));

    registry.Add(1, &senderB, &Yes); // a second entry of thread 1: the first one answers
    EXPECT_FALSE(registry.Interrupt(1));
    registry.Remove(1, &senderA, &Yes); // not equal in all three: nothing removed
    EXPECT_FALSE(registry.Interrupt(1));
    registry.Remove(1, &senderA, &No);
    EXPECT_TRUE(registry.Interrupt(1));

    std::atomic<bool> flag{false};
    {
        TInterruptRegistration guard(&flag, &ReadFlag);
        EXPECT_EQ(IOInterruptCallback(nullptr), 0);
        flag = true;
        EXPECT_EQ(IOInterruptCallback(nullptr), 1);
        int otherThreadAnswer = -1;
        std::thread other([&] { otherThreadAnswer = IOInterruptCallback(nullptr); });
        other.join();
        EXPECT_EQ(otherThreadAnswer, 0);
    }
    EXPECT_EQ(IOInterruptCallback(nullptr), 0);
    registry.Clear();
}

TEST_F(TMediaTest, BlockingFFmpegIOIsInterruptedPerThread) {
    // Another thread's interrupt function does not stop this thread's I/O.
    std::atomic<bool> stop{true};
    int otherResult = 0;
    std::thread other([&] {
        TInterruptRegistration guard(&stop, &ReadFlag);
        otherResult = OpenIdleListener(20000);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(OpenIdleListener(300), AVERROR_EXIT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    other.join();
    // The other thread was interrupted at once, long before its 20-second timeout.
    EXPECT_EQ(otherResult, AVERROR_EXIT);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}
