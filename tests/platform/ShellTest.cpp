#include "platform/Shell.h"
#include "support/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace {

QString ReadText(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

QString Value(const QString& entry, const QString& key) {
    for (const QString& line : entry.split(u'\n'))
        if (line.startsWith(key + u'='))
            return line.mid(key.size() + 1);
    return {};
}

// The desktop's own checker, when it is installed (it is on the test machines).
void ExpectValidEntry(const QString& path) {
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty())
        return;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(validator, {path});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAll().toStdString();
}

} // namespace

TEST(ShellEntry, AnInstalledProgramIsStartedByPathWithTheThemeIcon) {
    TSandbox box;
    const QString folder = box.Path() + QStringLiteral("/applications");
    const QString path = Shell::CreateDesktopEntry(folder, QStringLiteral("/usr/bin/vexmira"),
                                                   QStringLiteral("vexmira"));
    ASSERT_EQ(path, folder + QStringLiteral("/Vexmira.desktop"));
    const QString entry = ReadText(path);
    EXPECT_EQ(Value(entry, QStringLiteral("Exec")), QStringLiteral("\"/usr/bin/vexmira\" %f"));
    EXPECT_EQ(Value(entry, QStringLiteral("Icon")), QStringLiteral("vexmira"));
    EXPECT_EQ(Value(entry, QStringLiteral("Path")), QStringLiteral("/usr/bin"));
    // It stands in for the installed menu entry of the same name, project files included.
    EXPECT_EQ(Value(entry, QStringLiteral("MimeType")),
              QStringLiteral("application/x-vexmira-project;"));
    EXPECT_FALSE(Value(entry, QStringLiteral("Comment[zh_CN]")).isEmpty());
    EXPECT_TRUE(QFileInfo(path).permissions() & QFileDevice::ExeOwner);
    ExpectValidEntry(path);
}

TEST(ShellEntry, AnOddExecutablePathIsQuotedAndTheEntryReplaced) {
    TSandbox box;
    const QString folder = box.Path() + QStringLiteral("/Desktop");
    const QString exe = box.Write(QStringLiteral("my $tools \"new\"/bin/vexmira"), "");
    ASSERT_FALSE(
        Shell::CreateDesktopEntry(folder, QStringLiteral("/old/vexmira"), QStringLiteral("vexmira"))
            .isEmpty());
    const QString path =
        Shell::CreateDesktopEntry(folder, exe, box.Path() + QStringLiteral("/icon.png"));
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("Vexmira.desktop")});

    const QString entry = ReadText(path);
    // Inside the quotes '"', '$', '`' and '\' take a backslash, which the file's own
    // escaping doubles.
    QString quoted = exe;
    quoted.replace(u'$', QStringLiteral("\\\\$")).replace(u'"', QStringLiteral("\\\\\""));
    EXPECT_EQ(Value(entry, QStringLiteral("Exec")), u'"' + quoted + QStringLiteral("\" %f"));
    EXPECT_EQ(Value(entry, QStringLiteral("Icon")), box.Path() + QStringLiteral("/icon.png"));
    EXPECT_FALSE(entry.contains(QStringLiteral("/old/vexmira")));
    ExpectValidEntry(path);
}

TEST(ShellEntry, AFolderThatCannotBeMadeGivesNoEntry) {
    TSandbox box;
    const QString file = box.Write(QStringLiteral("not-a-folder"), "x");
    EXPECT_EQ(Shell::CreateDesktopEntry(file + QStringLiteral("/applications"),
                                        QStringLiteral("/usr/bin/vexmira"),
                                        QStringLiteral("vexmira")),
              QString());
}
