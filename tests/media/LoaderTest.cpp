#include "MediaTestSupport.h"

#include "platform/ElfInfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <set>

QStringList MappedFilesContaining(const QString& text) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    std::set<QString> files;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const int slash = line.indexOf('/');
        if (slash < 0)
            continue;
        const QString file = QString::fromLocal8Bit(line.mid(slash));
        if (file.contains(text))
            files.insert(file);
    }
    return QStringList(files.begin(), files.end());
}

namespace {

const TLibrary FFmpegLibraries[] = {avCodec, avDevice, avFilter,  avFormat,
                                    avUtil,  swScale,  swResample};

QString SystemLibDir() {
    return QStringLiteral(VX_FFMPEG_LIBDIR "/");
}

} // namespace

TEST(Loader, FileNamesCarryTheMajorsOfTheHeaders) {
    EXPECT_EQ(LibraryFileName(avCodec),
              QStringLiteral("libavcodec.so.%1").arg(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_EQ(LibraryFileName(swResample),
              QStringLiteral("libswresample.so.%1").arg(LIBSWRESAMPLE_VERSION_MAJOR));
    EXPECT_EQ(LibraryFileName(myUtil), QStringLiteral("libc.so.6"));
    EXPECT_TRUE(LibraryItem(myUtil).SysLib);
}

TEST(Loader, LoadsEveryLibraryThroughTheSystemSearchPath) {
    FFLoader.SetLibraryPath(QString());
    ASSERT_FALSE(FFLoader.Loaded(avFormat));
    ASSERT_TRUE(FFLoader.Load(TLibraries::All())) << FFLoader.LastErrMsg().toStdString();
    EXPECT_TRUE(FFLoader.Loaded(TLibraries::All()));
    for (TLibrary library : FFmpegLibraries)
        EXPECT_TRUE(FFLoader.LoadedFileName(library).endsWith(LibraryFileName(library)))
            << FFLoader.LoadedFileName(library).toStdString();
    // The tables call the loaded code.
    EXPECT_EQ(FF.avcodec_version() >> 16, unsigned(LIBAVCODEC_VERSION_MAJOR));
    EXPECT_NE(FF.av_find_input_format("lavfi"), nullptr); // registered by libavdevice
    char text[16];
    FF.snprintf(text, sizeof text, "%d-%s", 7, "x");
    EXPECT_STREQ(text, "7-x");

    // Loading again succeeds at once.
    EXPECT_TRUE(FFLoader.Load(avCodec));

    FFLoader.Unload(TLibraries::All());
    EXPECT_FALSE(FFLoader.Loaded(avCodec));
    EXPECT_FALSE(FFLoader.Loaded({avUtil, myUtil}));
    EXPECT_EQ(FF.avcodec_open2, nullptr);
    EXPECT_EQ(FF.av_log, nullptr);
    EXPECT_TRUE(FFLoader.LoadedFileName(avCodec).isEmpty());
}

TEST(Loader, LoadsAFolderAsOneConsistentSet) {
    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/LibAV");
    ASSERT_TRUE(QDir().mkpath(folder));
    QStringList files;
    for (TLibrary library : FFmpegLibraries)
        files << LibraryFileName(library);
    // Needed by libavfilter; not in the loader's table, yet it must come from the folder.
    files << QStringLiteral("libpostproc.so.56");
    for (const QString& file : files)
        ASSERT_TRUE(QFile::copy(SystemLibDir() + file, folder + u'/' + file)) << file.toStdString();
    // A C library in the folder is never used.
    QFile bogus(folder + QStringLiteral("/libc.so.6"));
    ASSERT_TRUE(bogus.open(QIODevice::WriteOnly));
    bogus.write("not a library");
    bogus.close();

    FFLoader.SetLibraryPath(folder); // without a trailing '/'
    ASSERT_TRUE(FFLoader.Load(TLibraries::All())) << FFLoader.LastErrMsg().toStdString();
    for (TLibrary library : FFmpegLibraries)
        EXPECT_EQ(FFLoader.LoadedFileName(library), folder + u'/' + LibraryFileName(library));
    EXPECT_FALSE(FFLoader.LoadedFileName(myUtil).startsWith(folder));

    // The libraries' own dependencies were resolved in the folder too: no second copy of
    // any of them came from the system.
    EXPECT_EQ(MappedFilesContaining(folder + QStringLiteral("/libpostproc")).size(), 1);
    for (const QString& file : files)
        EXPECT_TRUE(MappedFilesContaining(SystemLibDir() + file).isEmpty()) << file.toStdString();
    EXPECT_EQ(FF.avformat_version() >> 16, unsigned(LIBAVFORMAT_VERSION_MAJOR));

    FFLoader.Unload(TLibraries::All());
    FFLoader.SetLibraryPath(QString());
    EXPECT_TRUE(MappedFilesContaining(folder).isEmpty());
}

TEST(Loader, AMissingEntryPointFailsTheSetAndLeavesNothingLoaded) {
    const QString folder = QStringLiteral(VX_FAKE_LIBS_DIR "/missing-entry-point/");
    const QString fake = folder + LibraryFileName(swScale);
    ASSERT_TRUE(QFile::exists(fake));
    FFLoader.SetLibraryPath(folder);
    EXPECT_FALSE(FFLoader.Load(TLibraries::All()));
    const QString message = FFLoader.LastErrMsg();
    EXPECT_TRUE(message.startsWith(
        QStringLiteral("Load function sws_scale@%1 error: ").arg(LibraryFileName(swScale))))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("undefined symbol: sws_scale")))
        << message.toStdString();

    for (int i = 0; i < LibraryCount; ++i)
        EXPECT_FALSE(FFLoader.Loaded(TLibrary(i))) << i;
    EXPECT_EQ(FF.sws_getContext, nullptr);
    EXPECT_EQ(FF.avcodec_open2, nullptr);
    EXPECT_TRUE(MappedFilesContaining(fake).isEmpty());
    FFLoader.SetLibraryPath(QString());
}

TEST(Loader, AMissingFileNamesTheFolderAndTheSystemText) {
    QTemporaryDir dir;
    TLibraryModule module;
    EXPECT_FALSE(module.Load(dir.path(), QStringLiteral("libvxnothere.so.1")));
    EXPECT_EQ(module.Error(), QStringLiteral("Load library %1/libvxnothere.so.1 error: "
                                             "libvxnothere.so.1: cannot open shared object file: "
                                             "No such file or directory")
                                  .arg(dir.path()));
    EXPECT_FALSE(module.IsLoaded());

    EXPECT_FALSE(module.Load(QString(), QStringLiteral("libvxnothere.so.1")));
    EXPECT_TRUE(
        module.Error().startsWith(QStringLiteral("Load library libvxnothere.so.1 error: ")));
}

TEST(Loader, BindsFunctionsAndVariablesOrNamesWhatIsMissing) {
    TLibraryModule module;
    ASSERT_TRUE(module.Load(QStringLiteral(VX_FAKE_LIBS_DIR "/symbols"),
                            QStringLiteral("libvxtestsymbols.so")))
        << module.Error().toStdString();
    int* variable = module.BindVariable<int>("vx_test_variable");
    ASSERT_NE(variable, nullptr);
    EXPECT_EQ(*variable, 4242);
    auto function = module.BindFunction<int (*)(int)>("vx_test_function");
    EXPECT_EQ(function(21), 42);

    try {
        module.BindVariable<int>("vx_test_absent");
        FAIL() << "no exception";
    } catch (const EFFError& error) {
        EXPECT_TRUE(error.Message().startsWith(
            QStringLiteral("Load variable vx_test_absent@libvxtestsymbols.so error: ")))
            << error.what();
        EXPECT_TRUE(error.Message().contains(QStringLiteral("undefined symbol")));
    }
    try {
        module.BindFunction<void (*)()>("vx_test_absent_function");
        FAIL() << "no exception";
    } catch (const EFFError& error) {
        EXPECT_TRUE(error.Message().startsWith(
            QStringLiteral("Load function vx_test_absent_function@libvxtestsymbols.so error: ")));
    }
}

TEST(Loader, AnEmptySetIsAProgrammingError) {
    EXPECT_THROW(FFLoader.Load(TLibraries()), EAssertionFailed);
    EXPECT_THROW(FFLoader.Unload(TLibraries()), EAssertionFailed);
}

TEST(Loader, WithoutTheLibrariesLoadFailsWithTheSystemText) {
    FFLoader.SetLibraryPath(QString());
    FFLoader.SetLibraryName(avFormat, QStringLiteral("libavformat.so.999"));
    EXPECT_FALSE(FFLoader.Load({avCodec, avFormat, avUtil}));
    EXPECT_EQ(FFLoader.LastErrMsg(),
              QStringLiteral("Load library libavformat.so.999 error: libavformat.so.999: cannot "
                             "open shared object file: No such file or directory"));
    EXPECT_FALSE(FFLoader.Loaded(avCodec));
    EXPECT_FALSE(FFLoader.Loaded(avUtil));
    FFLoader.SetLibraryName(avFormat, QString());
    EXPECT_TRUE(FFLoader.Load(avFormat));
    FFLoader.Unload(avFormat);
}

TEST(Loader, TheProgramsAreNotLinkedAgainstFFmpegOrSDL) {
    const QString bin = qEnvironmentVariable("VX_TEST_BINARY_DIR") + QStringLiteral("/bin/");
    for (const char* program : {"vexmira", "vexmira-cli"}) {
        const QStringList needed = ElfNeededLibraries(bin + QLatin1StringView(program));
        ASSERT_FALSE(needed.isEmpty()) << program;
        EXPECT_TRUE(needed.contains(QStringLiteral("libc.so.6"))) << program;
        for (const QString& library : needed)
            EXPECT_FALSE(library.startsWith(QStringLiteral("libav")) ||
                         library.startsWith(QStringLiteral("libsw")) ||
                         library.startsWith(QStringLiteral("libpostproc")) ||
                         library.contains(QStringLiteral("SDL")))
                << program << " needs " << library.toStdString();
    }
}
