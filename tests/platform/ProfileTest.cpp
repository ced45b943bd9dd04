#include "platform/Profile.h"
#include "support/Sandbox.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

} // namespace

TEST(Profile, MissingFileAndKeysGiveDefaults) {
    TSandbox box;
    TProfile p(box.File(QStringLiteral("none/x.ini")));
    EXPECT_EQ(p.ReadString(QStringLiteral("General"), QStringLiteral("A"), QStringLiteral("d")),
              QStringLiteral("d"));
    EXPECT_EQ(p.ReadInteger(QStringLiteral("General"), QStringLiteral("A"), 7), 7);
    EXPECT_TRUE(p.ReadBool(QStringLiteral("General"), QStringLiteral("A"), true));
}

TEST(Profile, IntegerForms) {
    TSandbox box;
    const QString file = box.Write(QStringLiteral("p.ini"),
                                   "[G]\nDec=42\nNeg=-3\nHex=0x1F\nDollar=$ff\nBad=abc\n"
                                   "Mixed=12ab\nHuge=99999999999\nEmpty=\nAllOnes=$FFFFFFFF\n");
    TProfile p(file);
    const QString g = QStringLiteral("G");
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Dec"), 0), 42);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Neg"), 0), -3);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Hex"), 0), 31);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Dollar"), 0), 255);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Bad"), 100), 100);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Mixed"), 100), 100);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Huge"), 5), 5);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("Empty"), 5), 5);
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("AllOnes"), 5), -1);
    // Any non-zero integer is true; unreadable text keeps the default.
    EXPECT_TRUE(p.ReadBool(g, QStringLiteral("Hex"), false));
    EXPECT_FALSE(p.ReadBool(g, QStringLiteral("Bad"), false));
}

TEST(Profile, WritesReachTheFileAtOnceAndKeepOtherSections) {
    TSandbox box;
    const QString file = box.Write(QStringLiteral("p.ini"), "[VideoMake]\nLyricsVideoWidth=640\n");
    TProfile p(file);
    ASSERT_TRUE(p.WriteString(QStringLiteral("General"), QStringLiteral("SaveDir"),
                              QStringLiteral("/tmp/视频")));
    ASSERT_TRUE(p.WriteInteger(QStringLiteral("General"), QStringLiteral("PageIndex"), 1));
    ASSERT_TRUE(p.WriteBool(QStringLiteral("General"), QStringLiteral("HideWhenClose"), true));
    // A second profile object sees every key: nothing was held back.
    TProfile again(file);
    EXPECT_EQ(again.ReadString(QStringLiteral("General"), QStringLiteral("SaveDir"), {}),
              QStringLiteral("/tmp/视频"));
    EXPECT_EQ(again.ReadInteger(QStringLiteral("General"), QStringLiteral("PageIndex"), 0), 1);
    EXPECT_TRUE(again.ReadBool(QStringLiteral("General"), QStringLiteral("HideWhenClose"), false));
    EXPECT_EQ(again.ReadInteger(QStringLiteral("VideoMake"), QStringLiteral("LyricsVideoWidth"), 0),
              640);
    const QByteArray text = ReadAll(file);
    EXPECT_TRUE(text.contains("HideWhenClose=1"));
}

TEST(Profile, AnUnwritableFolderFailsAndLeavesNothing) {
    TSandbox box;
    TProfile p(QStringLiteral("/proc/vexmira-no-such-folder/p.ini"));
    EXPECT_FALSE(p.WriteInteger(QStringLiteral("G"), QStringLiteral("K"), 1));
}

TEST(Profile, ValuesWithLineBreaksStayOneValue) {
    TSandbox box;
    TProfile p(box.File(QStringLiteral("p.ini")));
    ASSERT_TRUE(p.WriteString(QStringLiteral("G"), QStringLiteral("K"), QStringLiteral("a\nB=1")));
    EXPECT_EQ(p.ReadString(QStringLiteral("G"), QStringLiteral("B"), QStringLiteral("none")),
              QStringLiteral("none"));
}

// A damaged file whose first key begins with the bytes of a byte-order mark: writing
// another key keeps every value as it was read, and never turns that key into a section.
TEST(Profile, AWriteKeepsAKeyThatBeginsLikeAByteOrderMark) {
    TSandbox box;
    const QString file = box.Write(QStringLiteral("damaged.ini"),
                                   QByteArray("\xFF\r\xEF\xBB\xBF[VideoMake]x=1\n"
                                              "VideoFont=abc\n[General]\nPageIndex=1\n"));
    const TProfile p(file);
    const QString vm = QStringLiteral("VideoMake"), g = QStringLiteral("General");
    ASSERT_EQ(p.ReadString(vm, QStringLiteral("VideoFont"), QStringLiteral("-")),
              QStringLiteral("-"));
    ASSERT_TRUE(p.WriteString(g, QStringLiteral("VideoSize"), QStringLiteral("800*450")));
    EXPECT_EQ(p.ReadString(vm, QStringLiteral("VideoFont"), QStringLiteral("-")),
              QStringLiteral("-"));
    EXPECT_EQ(p.ReadString(g, QStringLiteral("VideoSize"), QString()), QStringLiteral("800*450"));
    EXPECT_EQ(p.ReadInteger(g, QStringLiteral("PageIndex"), 0), 1);
    // A second write reads the same file the same way.
    ASSERT_TRUE(p.WriteInteger(g, QStringLiteral("PageIndex"), 0));
    EXPECT_EQ(p.ReadString(vm, QStringLiteral("VideoFont"), QStringLiteral("-")),
              QStringLiteral("-"));
    EXPECT_EQ(p.ReadString(g, QStringLiteral("VideoSize"), QString()), QStringLiteral("800*450"));
}
