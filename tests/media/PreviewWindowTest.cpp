// The preview of an encoder's task: pictures shown in the window the program installs,
// captioned with their time; nothing, and no failure, without one.
#include "media/widgets/PreviewWindow.h"
#include "EncodeTestSupport.h"
#include "media/Previewer.h"

#include <QApplication>
#include <QRegularExpression>
#include <QWidget>

namespace {

QWidget* PreviewWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("PreviewWindow"))
            return w;
    return nullptr;
}

class PreviewWindowTest : public TEncoderTest {
protected:
    void TearDown() override {
        TEncoderTest::TearDown();
        SetPreviewSurfaceFactory(nullptr);
    }
    // A task of 640x480 pictures into an MP4, with the preview on.
    void AddPreviewedTask(const QString& file) {
        TInputOptions in = LavfiInput();
        const int task = Encoder.AddTask(TestPicture(8, 25, QStringLiteral("640x480")), &in);
        ASSERT_GE(task, 0) << Encoder.LastErrMsg().toStdString();
        TOutputOptions out;
        InitOutputOptions(&out);
        out.VideoCodec = QStringLiteral("mpeg4");
        ASSERT_TRUE(Encoder.SetOutputFile(task, file, &out)) << Encoder.LastErrMsg().toStdString();
        Encoder.SetPreview(true);
        Encoder.SetProgressInterval(100);
        Terminates.Connect(Encoder);
    }
};

} // namespace

TEST_F(PreviewWindowTest, TheInstalledWindowShowsThePicturesWithTheirTime) {
    InstallPreviewWindows();
    const QString file = Sandbox.File(QStringLiteral("previewed.mp4"));
    AddPreviewedTask(file);
    QStringList titles;
    QSize size;
    bool sawPicture = false;
    Encoder.SetOnProgress([&](QObject*, TProgressInfo*) {
        QWidget* window = PreviewWindow();
        if (window == nullptr || !window->isVisible())
            return;
        titles << window->windowTitle();
        size = window->size();
        const QImage shown = window->grab().toImage();
        sawPicture = sawPicture || shown.pixelColor(10, 10) != shown.pixelColor(630, 470);
    });
    Encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return Terminates.ListEnded(); }, 60000));
    ASSERT_FALSE(titles.isEmpty()) << "no preview window was shown";
    EXPECT_EQ(size, QSize(640, 480));
    EXPECT_TRUE(sawPicture);
    static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$"));
    for (const QString& title : titles)
        EXPECT_TRUE(time.match(title).hasMatch()) << title.toStdString();
    EXPECT_FALSE(Terminates.Events.front().Exception);
    // The window goes with its job.
    Encoder.ClearTasks();
    PumpEvents(50);
    EXPECT_EQ(PreviewWindow(), nullptr);
}

TEST_F(PreviewWindowTest, WithoutAWindowMakerThePreviewShowsNothingAndTheTaskRuns) {
    SetPreviewSurfaceFactory(nullptr);
    const QString file = Sandbox.File(QStringLiteral("unpreviewed.mp4"));
    AddPreviewedTask(file);
    bool shown = false;
    Encoder.SetOnProgress([&](QObject*, TProgressInfo*) { shown = shown || PreviewWindow(); });
    Encoder.Start(1);
    ASSERT_TRUE(PumpUntil([&] { return Terminates.ListEnded(); }, 60000));
    EXPECT_FALSE(shown);
    ASSERT_FALSE(Terminates.Events.empty());
    EXPECT_TRUE(Terminates.Events.front().Finished);
    EXPECT_FALSE(Terminates.Events.front().Exception);
    const TProbe probe = ProbeFile(file);
    ASSERT_TRUE(probe.Ok);
    EXPECT_EQ(probe.First(QStringLiteral("video"))->Frames, 200);
}
