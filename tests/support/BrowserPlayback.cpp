#include "support/BrowserPlayback.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>

namespace {

// The page writes one line into its <pre> once the picture at the asked time is drawn,
// or the media error the element reports.
const char* const PageTemplate = R"(<!DOCTYPE html>
<html><body><pre id="out">pending</pre>
<script>
const out = document.getElementById('out');
const v = document.createElement('video');
v.muted = true;
v.preload = 'auto';
v.addEventListener('loadeddata', () => { v.currentTime = %2; });
v.addEventListener('seeked', () => {
  const c = document.createElement('canvas');
  c.width = v.videoWidth;
  c.height = v.videoHeight;
  let lit = -1;
  try {
    const g = c.getContext('2d');
    g.drawImage(v, 0, 0);
    const d = g.getImageData(0, 0, c.width, c.height).data;
    lit = 0;
    for (let i = 0; i < d.length; i += 4)
      if (d[i] + d[i + 1] + d[i + 2] > 60) ++lit;
    lit /= d.length / 4;
  } catch (e) {}
  out.textContent = 'width=' + v.videoWidth + ' height=' + v.videoHeight +
                    ' duration=' + v.duration + ' lit=' + lit;
});
v.addEventListener('error', () => {
  out.textContent = 'error=' + (v.error ? v.error.code + ' ' + v.error.message : 'unknown');
});
v.src = '%1';
document.body.appendChild(v);
</script></body></html>
)";

// Runs headless Chromium on `page` and returns the document it ends with, or an empty
// string with `error` set.
QString RunBrowser(const QString& page, const QString& profile, int budgetMs, QString* error) {
    QProcess browser;
    browser.start(
        QStringLiteral("chromium"),
        {QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"),
         QStringLiteral("--disable-gpu"), QStringLiteral("--allow-file-access-from-files"),
         QStringLiteral("--user-data-dir=") + profile,
         QStringLiteral("--virtual-time-budget=%1").arg(budgetMs), QStringLiteral("--dump-dom"),
         QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded)});
    if (!browser.waitForStarted(10000)) {
        *error = QStringLiteral("chromium does not start: ") + browser.errorString();
        return QString();
    }
    if (!browser.waitForFinished(120000)) {
        browser.kill();
        browser.waitForFinished(5000);
        *error = QStringLiteral("chromium did not finish");
        return QString();
    }
    return QString::fromUtf8(browser.readAllStandardOutput());
}

} // namespace

TBrowserPlayback PlayInBrowser(const QString& file, double seconds) {
    TBrowserPlayback result;
    QTemporaryDir dir;
    const QString page = dir.filePath(QStringLiteral("play.html"));
    QFile out(page);
    if (!dir.isValid() || !out.open(QIODevice::WriteOnly)) {
        result.Error = QStringLiteral("cannot write the page");
        return result;
    }
    out.write(QString::fromLatin1(PageTemplate)
                  .arg(QUrl::fromLocalFile(file).toString(QUrl::FullyEncoded))
                  .arg(seconds)
                  .toUtf8());
    out.close();

    // The budget is the browser's own virtual time, which can run out before a busy
    // machine has decoded the first picture; the page then still says "pending", and a
    // later try with more time settles it.
    QString dom;
    for (const int budgetMs : {20000, 40000, 60000, 90000, 120000}) {
        dom = RunBrowser(page, dir.filePath(QStringLiteral("profile")), budgetMs, &result.Error);
        if (!result.Error.isEmpty())
            return result;
        if (!dom.contains(QStringLiteral("<pre id=\"out\">pending</pre>")))
            break;
    }
    static const QRegularExpression played(QStringLiteral(
        R"(width=(\d+) height=(\d+) duration=([0-9.eE+-]+|NaN|Infinity) lit=([0-9.eE+-]+))"));
    const QRegularExpressionMatch m = played.match(dom);
    if (!m.hasMatch()) {
        static const QRegularExpression pre(QStringLiteral(R"(<pre id="out">([^<]*)</pre>)"));
        const QRegularExpressionMatch p = pre.match(dom);
        result.Error = p.hasMatch() ? p.captured(1) : QStringLiteral("no page in the output");
        return result;
    }
    result.Width = m.captured(1).toInt();
    result.Height = m.captured(2).toInt();
    result.Duration = m.captured(3).toDouble();
    result.Lit = m.captured(4).toDouble();
    return result;
}
