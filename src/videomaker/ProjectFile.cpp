#include "videomaker/ProjectFile.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

namespace {

constexpr int ReservedIntegers = 10;

class TWriter {
public:
    QByteArray Bytes;
    void U8(quint8 v) { Bytes.append(static_cast<char>(v)); }
    void I32(qint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        Bytes.append(b, 4);
    }
    void U32(quint32 v) { I32(static_cast<qint32>(v)); }
    void Text(const QString& s) {
        I32(static_cast<qint32>(s.size()));
        for (QChar c : s) {
            char b[2];
            qToLittleEndian(c.unicode(), b);
            Bytes.append(b, 2);
        }
    }
    void Reserved() {
        for (int i = 0; i < ReservedIntegers; ++i)
            I32(0);
    }
};

class TReader {
public:
    explicit TReader(const QByteArray& bytes) : FBytes(bytes) {}
    qsizetype Left() const { return FBytes.size() - FPos; }

    bool U8(quint8& v) {
        if (Left() < 1)
            return false;
        v = static_cast<quint8>(FBytes.at(FPos++));
        return true;
    }
    bool Bool(bool& v) {
        quint8 b = 0;
        if (!U8(b))
            return false;
        v = b != 0;
        return true;
    }
    template <typename T> bool I32(T& v) {
        if (Left() < 4)
            return false;
        v = static_cast<T>(qFromLittleEndian<qint32>(FBytes.constData() + FPos));
        FPos += 4;
        return true;
    }
    bool Skip(qsizetype n) {
        if (Left() < n)
            return false;
        FPos += n;
        return true;
    }
    bool Text(QString& s) {
        qint32 n = 0;
        if (!I32(n) || n < 0 || Left() / 2 < n)
            return false;
        s.resize(n);
        for (qint32 i = 0; i < n; ++i)
            s[i] = QChar(qFromLittleEndian<quint16>(FBytes.constData() + FPos + 2 * i));
        FPos += 2 * static_cast<qsizetype>(n);
        return true;
    }

private:
    const QByteArray& FBytes;
    qsizetype FPos = 0;
};

QString FolderKey(const QString& folder) {
    QString f = QDir::cleanPath(folder);
    if (!f.endsWith(u'/'))
        f += u'/';
    return f;
}

} // namespace

QByteArray ProjectFileBytes(const TProjectData& data) {
    const TVideoMakeSettings& s = data.Settings;
    TWriter w;
    w.I32(data.Version);
    w.U8(s.HorizontalAlignment);
    w.U8(s.VerticalAlignment);
    w.U32(s.CurrentFontColor);
    w.U32(s.BackGroundColor);
    for (qint32 v :
         {s.LyricsVideoWidth, s.LyricsVideoHeight, s.LyricsMarginTop, s.LyricsMarginLeft,
          s.LyricsMarginRight, s.LyricsMarginBottom, s.LyricsMaxLineCount, s.LyricsLineSpacing})
        w.I32(v);
    w.Reserved();
    w.I32(s.PictureDuration);
    w.U8(s.PictureAccording ? 1 : 0);
    w.U8(s.PictureRepeat ? 1 : 0);
    w.U8(s.PictureRandom ? 1 : 0);
    w.Reserved();
    w.Text(FontToText(s.VideoFont));
    w.Text(data.AudioName);
    w.Text(data.LyricText);
    w.Text(QString());
    w.I32(static_cast<qint32>(data.PhotoNames.size()));
    for (const QString& name : data.PhotoNames)
        w.Text(name);
    return w.Bytes;
}

TProjectPart ReadProjectBytes(const QByteArray& bytes, TProjectData& data) {
    TReader r(bytes);
    TVideoMakeSettings& s = data.Settings;
    qint32 version = 0;
    if (!r.I32(version))
        return ppNothing;
    data.Version = version;
    const bool fixed =
        r.U8(s.HorizontalAlignment) && r.U8(s.VerticalAlignment) && r.I32(s.CurrentFontColor) &&
        r.I32(s.BackGroundColor) && r.I32(s.LyricsVideoWidth) && r.I32(s.LyricsVideoHeight) &&
        r.I32(s.LyricsMarginTop) && r.I32(s.LyricsMarginLeft) && r.I32(s.LyricsMarginRight) &&
        r.I32(s.LyricsMarginBottom) && r.I32(s.LyricsMaxLineCount) && r.I32(s.LyricsLineSpacing) &&
        r.Skip(4 * ReservedIntegers) && r.I32(s.PictureDuration) && r.Bool(s.PictureAccording) &&
        r.Bool(s.PictureRepeat) && r.Bool(s.PictureRandom) && r.Skip(4 * ReservedIntegers);
    if (!fixed)
        return ppNothing;
    if (!r.Text(data.FontText))
        return ppFixed;
    if (!r.Text(data.AudioName))
        return ppFont;
    if (!r.Text(data.LyricText))
        return ppAudio;
    QString reserved;
    if (!r.Text(reserved))
        return ppLyrics;
    qint32 count = 0;
    // Every photo name takes at least its four length bytes.
    if (!r.I32(count) || count < 0 || r.Left() / 4 < count)
        return ppReserved;
    data.PhotoNames.clear();
    for (qint32 i = 0; i < count; ++i) {
        QString name;
        if (!r.Text(name))
            return ppReserved;
        data.PhotoNames << name;
    }
    return ppPhotos;
}

QString StoredFileName(const QString& path, const QString& projectFileName) {
    if (path.isEmpty())
        return path;
    // Folder names differing only in letter case are different folders on this system,
    // so they are compared exactly: a bare name must resolve to the very same file.
    const QFileInfo file(path), project(projectFileName);
    if (FolderKey(file.absolutePath()) == FolderKey(project.absolutePath()))
        return file.fileName();
    return path;
}

QString ResolveStoredName(const QString& name, const QString& projectFileName) {
    if (name.isEmpty() || name.contains(u'/'))
        return name;
    return QFileInfo(projectFileName).absolutePath() + u'/' + name;
}
