// Transcodes one picture source and one sound source into an MP4 through the encoder
// component, as the program's own tasks do (a worker thread, events on the main thread):
//
//     bench_transcode PICTURE SOUND OUTPUT [VIDEO_BITRATE AUDIO_BITRATE]
//
// PICTURE and SOUND are lavfi graphs ("testsrc2=size=1280x720:rate=25:duration=60",
// "sine=frequency=440:duration=60"); the output is mpeg4 + aac. Prints the task's end.
#include "media/FFEncode.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() != 3 && args.size() != 5) {
        std::fprintf(stderr, "usage: bench_transcode PICTURE SOUND OUTPUT [VBITRATE ABITRATE]\n");
        return 2;
    }
    TFFEncoder encoder;
    encoder.Verbose = 0;
    if (!encoder.LoadAVLib(QDir(QCoreApplication::applicationDirPath()).filePath("LibAV"))) {
        std::fprintf(stderr, "%s\n", encoder.LastErrMsg().toLocal8Bit().constData());
        return 1;
    }
    TInputOptions in;
    InitInputOptions(&in);
    in.ForceFormat = QStringLiteral("lavfi");
    const int task = encoder.AddTask(args[0], &in);
    TInputOptions sound;
    InitInputOptions(&sound);
    sound.ForceFormat = QStringLiteral("lavfi");
    TOutputOptions out;
    InitOutputOptions(&out);
    out.VideoCodec = QStringLiteral("mpeg4");
    out.AudioCodec = QStringLiteral("aac");
    out.VideoBitrate = args.size() == 5 ? args[3].toInt() : 5000000;
    out.AudioBitrate = args.size() == 5 ? args[4].toInt() : 128000;
    out.ExtOptions = QStringLiteral("astrict=experimental");
    if (task < 0 || !encoder.AddInputFile(task, args[1], &sound) ||
        !encoder.SetOutputFile(task, args[2], &out)) {
        std::fprintf(stderr, "%s\n", encoder.LastErrMsg().toLocal8Bit().constData());
        return 1;
    }
    int status = 0;
    encoder.SetOnTerminate([&](QObject*, const TTerminateInfo& t) {
        if (t.Exception) {
            std::fprintf(stderr, "%s\n", t.ExceptionMsg.toLocal8Bit().constData());
            status = 1;
        }
        if (t.TaskIndex < 0)
            QCoreApplication::quit();
    });
    encoder.Start(1);
    QCoreApplication::exec();
    encoder.ClearTasks();
    return status;
}
