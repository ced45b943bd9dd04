#include "recording/RecordingPresets.h"
#include "support/Sandbox.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

TEST(RecordingPresetsTest, FormatEntriesGiveTheSaveDialogsTypes) {
    const TRecordingFileType mp4 = RecordingFileType(0, QStringLiteral("MP4(默认)"));
    EXPECT_EQ(mp4.Extension, QStringLiteral(".mp4"));
    EXPECT_EQ(mp4.DefaultExtension, QStringLiteral("mp4"));
    EXPECT_EQ(mp4.Filter, QStringLiteral("MP4格式(*.mp4)|*.mp4"));

    const TRecordingFileType avi = RecordingFileType(2, QStringLiteral("AVI"));
    EXPECT_EQ(avi.Extension, QStringLiteral(".avi"));
    EXPECT_EQ(avi.DefaultExtension, QStringLiteral("avi"));
    EXPECT_EQ(avi.Filter, QStringLiteral("AVI格式(*.avi)|*.avi"));
    EXPECT_EQ(RecordingFileType(1, QStringLiteral("WMV")).Filter,
              QStringLiteral("WMV格式(*.wmv)|*.wmv"));
    EXPECT_EQ(RecordingFileType(3, QStringLiteral("MOV")).Filter,
              QStringLiteral("MOV格式(*.mov)|*.mov"));
    const TRecordingFileType h264 = RecordingFileType(4, QStringLiteral("MP4(H.264)"));
    EXPECT_EQ(h264.Extension, QStringLiteral(".mp4"));
    EXPECT_EQ(h264.Filter, QStringLiteral("MP4格式(*.mp4)|*.mp4"));
}

// A clash with an existing file asks the clock again, so the next second gives the name.
TEST(RecordingPresetsTest, ProposedNameSkipsAnExistingFile) {
    TSandbox box;
    const QString folder = box.Path();
    QDateTime clock(QDate(2026, 3, 7), QTime(9, 5, 59));
    int asked = 0;
    auto now = [&] {
        ++asked;
        return clock;
    };
    const QString first = ProposedRecordingName(folder, QStringLiteral(".avi"), now);
    EXPECT_EQ(first, folder + QStringLiteral("/Vexmira-20260307-090559.avi"));
    EXPECT_EQ(asked, 1);

    QFile(first).open(QIODevice::WriteOnly);
    auto ticking = [&] {
        ++asked;
        if (asked > 3)
            clock = QDateTime(QDate(2026, 3, 7), QTime(9, 6, 0));
        return clock;
    };
    EXPECT_EQ(ProposedRecordingName(folder + u'/', QStringLiteral(".avi"), ticking),
              folder + QStringLiteral("/Vexmira-20260307-090600.avi"));
}

TEST(RecordingPresetsTest, SourceOptionStrings) {
    EXPECT_EQ(
        ScreenSourceOptions(QRect(300, 250, 200, 150), true),
        QStringLiteral("offset=300,250;framesize=200,150;framerate=15/1;showframe=1;cursor=1"));
    EXPECT_EQ(ScreenSourceOptions(QRect(0, 0, 1920, 1080), false),
              QStringLiteral("offset=0,0;framesize=1920,1080;framerate=15/1;showframe=1;cursor=0"));
    EXPECT_EQ(WaveSourceOptions(7), QStringLiteral("r=44100;c=2;f=16;pause_pointer=7"));
    EXPECT_EQ(WaveSourceOptions(7, 8, ssBoth),
              QStringLiteral("r=44100;c=2;f=16;pause_pointer=7;lost_pointer=8;source=2"));
}

TEST(RecordingPresetsTest, ProgressTexts) {
    EXPECT_EQ(RecordingTimeText(3725500000), QStringLiteral("01:02:05"));
    EXPECT_EQ(RecordingTimeText(0), QStringLiteral("00:00:00"));
    EXPECT_EQ(RecordingTimeText(999999), QStringLiteral("00:00:00"));
    EXPECT_EQ(RecordingTimeText(qint64(100) * 3600 * 1000000), QStringLiteral("100:00:00"));

    const QLocale c(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(RecordingSizeText(1572864, c), QStringLiteral("1.5MB"));
    EXPECT_EQ(RecordingSizeText(0, c), QStringLiteral("0.0MB"));
    EXPECT_EQ(RecordingSizeText(qint64(1234) * 1048576 + 524288, c), QStringLiteral("1,234.5MB"));
    const QLocale german(QLocale::German, QLocale::Germany);
    EXPECT_EQ(RecordingSizeText(qint64(1234) * 1048576 + 524288, german),
              QStringLiteral("1.234,5MB"));
}

TEST(RecordingPresetsTest, FrameSizeFromTheSizeBoxOrTheArea) {
    EXPECT_EQ(RecordingFrameSize(0, QStringLiteral("原始尺寸(默认)"), QSize(1366, 768)),
              QStringLiteral("1366*768"));
    EXPECT_EQ(RecordingFrameSize(7, QStringLiteral("640*480"), QSize(1366, 768)),
              QStringLiteral("640*480"));
}

} // namespace
