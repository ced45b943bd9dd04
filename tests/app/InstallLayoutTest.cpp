#include "state/InstallLayout.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

// A build keeps the help page beside the executable; an installed program finds it in
// <prefix>/share/vexmira and names its icon from the hicolor theme.

TEST(InstallLayout, ABuildUsesThePageBesideTheExecutableAndAnIconFile) {
    TSandbox box;
    const QString exe = box.Write(QStringLiteral("build/bin/vexmira"), "");
    const QString page = box.Write(QStringLiteral("build/bin/vexmira.html"), "<html/>");
    EXPECT_EQ(HelpFileOf(exe), page);
    EXPECT_EQ(InstalledIconNameOf(exe), QString());
}

TEST(InstallLayout, AnInstalledProgramUsesItsShareFolder) {
    TSandbox box;
    const QString exe = box.Write(QStringLiteral("usr/bin/vexmira"), "");
    EXPECT_EQ(HelpFileOf(exe), QString());
    EXPECT_EQ(InstalledIconNameOf(exe), QString());

    const QString page = box.Write(QStringLiteral("usr/share/vexmira/vexmira.html"), "<html/>");
    box.Write(QStringLiteral("usr/share/icons/hicolor/scalable/apps/vexmira.svg"), "<svg/>");
    EXPECT_EQ(HelpFileOf(exe), page);
    EXPECT_EQ(InstalledIconNameOf(exe), QStringLiteral("vexmira"));

    // A page beside the executable still comes first.
    const QString beside = box.Write(QStringLiteral("usr/bin/vexmira.html"), "<html/>");
    EXPECT_EQ(HelpFileOf(exe), beside);
}

TEST(InstallLayout, OnlyAProgramInABinFolderLooksIntoShare) {
    TSandbox box;
    // <folder>/../share exists, but the program is not in <prefix>/bin.
    const QString exe = box.Write(QStringLiteral("opt/tools/vexmira"), "");
    box.Write(QStringLiteral("opt/share/vexmira/vexmira.html"), "<html/>");
    box.Write(QStringLiteral("opt/share/icons/hicolor/scalable/apps/vexmira.svg"), "<svg/>");
    EXPECT_EQ(HelpFileOf(exe), QString());
    EXPECT_EQ(InstalledIconNameOf(exe), QString());
}

TEST(InstallLayout, ThePageIsNamedAfterTheExecutableAndMustBeAFile) {
    TSandbox box;
    const QString exe = box.Write(QStringLiteral("usr/bin/vexmira.bin"), "");
    box.Write(QStringLiteral("usr/share/vexmira/vexmira.html"), "<html/>");
    // Found by the executable's name with its extension replaced.
    EXPECT_EQ(HelpFileOf(exe), box.File(QStringLiteral("usr/share/vexmira/vexmira.html")));

    const QString other = box.Write(QStringLiteral("usr/bin/recorder"), "");
    EXPECT_EQ(HelpFileOf(other), QString());
    // A folder of the page's name is no page.
    box.File(QStringLiteral("usr/share/vexmira/recorder.html/x"));
    EXPECT_EQ(HelpFileOf(other), QString());
}
