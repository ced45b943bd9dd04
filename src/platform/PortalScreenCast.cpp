#include "platform/PortalScreenCast.h"

#include "platform/Profile.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <pipewire/pipewire.h>
#include <spa/param/video/format-utils.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <unistd.h>
#include <vector>

namespace {

const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString PortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString ScreenCastInterface = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString RequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString TokenSection = QStringLiteral("ScreenCast");
const QString TokenKey = QStringLiteral("RestoreToken");

constexpr uint SourceMonitor = 1, SourceWindow = 2;
constexpr uint CursorHidden = 1, CursorEmbedded = 2;
constexpr uint PersistUntilRevoked = 2;
constexpr int FirstPictureWaitMs = 5000;

std::atomic<int> LatestFailureValue{cfNone};
std::atomic<int> EndedStreamCount{0};

QString& TokenFile() {
    static QString file;
    return file;
}

QString NoPortalText() {
    return QStringLiteral(
        "The desktop offers no screen-cast portal (org.freedesktop.portal.ScreenCast): install "
        "xdg-desktop-portal and the portal of the desktop (xdg-desktop-portal-gnome, "
        "xdg-desktop-portal-kde or xdg-desktop-portal-wlr)");
}

// Waits for the Response signal of one portal request.
class TPortalResponse : public QObject {
    Q_OBJECT
public:
    uint Code = 2;
    QVariantMap Results;
    bool Got = false;
    QEventLoop Loop;
public slots:
    void OnResponse(uint code, const QVariantMap& results) {
        Code = code;
        Results = results;
        Got = true;
        Loop.quit();
    }
};

int TokenCounter = 0;

// A property of the ScreenCast interface; 0 when it cannot be read.
uint PortalProperty(const QDBusConnection& bus, const QString& name) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        PortalService, PortalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    m << ScreenCastInterface << name;
    const QDBusMessage reply = bus.call(m, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    return reply.arguments().first().value<QDBusVariant>().variant().toUInt();
}

} // namespace

// ---- pixel layouts ----

void ConvertRowToBgra(TCastPixelLayout layout, const uint8_t* s, uint8_t* d, int width) {
    // The byte offsets of blue, green and red in one source pixel, and its size.
    int b = 0, g = 1, r = 2, step = 4;
    switch (layout) {
    case cplBgrx:
        break;
    case cplRgbx:
        b = 2, r = 0;
        break;
    case cplXrgb:
        b = 3, g = 2, r = 1;
        break;
    case cplXbgr:
        b = 1, g = 2, r = 3;
        break;
    case cplBgr:
        step = 3;
        break;
    case cplRgb:
        b = 2, r = 0, step = 3;
        break;
    }
    for (int x = 0; x < width; ++x, s += step, d += 4) {
        d[0] = s[b];
        d[1] = s[g];
        d[2] = s[r];
        d[3] = 0xFF;
    }
}

namespace {

bool LayoutOf(uint32_t spaFormat, TCastPixelLayout* layout) {
    switch (spaFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
        *layout = cplBgrx;
        return true;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
        *layout = cplRgbx;
        return true;
    case SPA_VIDEO_FORMAT_xRGB:
    case SPA_VIDEO_FORMAT_ARGB:
        *layout = cplXrgb;
        return true;
    case SPA_VIDEO_FORMAT_xBGR:
    case SPA_VIDEO_FORMAT_ABGR:
        *layout = cplXbgr;
        return true;
    case SPA_VIDEO_FORMAT_BGR:
        *layout = cplBgr;
        return true;
    case SPA_VIDEO_FORMAT_RGB:
        *layout = cplRgb;
        return true;
    default:
        return false;
    }
}

int BytesPerPixelOf(TCastPixelLayout layout) {
    return layout == cplBgr || layout == cplRgb ? 3 : 4;
}

} // namespace

// ---- the PipeWire stream ----

// The stream and the newest picture it delivered. That picture's PipeWire buffer is kept
// (not given back to the compositor) until a newer one comes, so a picture is copied
// only when a reader asks for it, not each time the compositor sends one. A kept buffer
// the stream takes away (its format changed, it ended) is copied first.
struct TPortalScreenCast::TStream {
    pw_thread_loop* Loop = nullptr;
    pw_context* Context = nullptr;
    pw_core* Core = nullptr;
    pw_stream* Stream = nullptr;
    spa_hook StreamListener{};
    spa_hook CoreListener{};
    pw_registry* Registry = nullptr;
    spa_hook RegistryListener{};
    uint32_t Node = SPA_ID_INVALID; // the compositor's node the stream reads
    std::atomic<bool> Ended{false};
    QString Error; // under the loop's lock

    struct TPicture {
        const uint8_t* Data = nullptr; // in Kept, or in Buffer's memory
        pw_buffer* Buffer = nullptr;   // the kept buffer, or null
        std::vector<uint8_t> Kept;
        int Width = 0, Height = 0, Stride = 0;
        TCastPixelLayout Layout = cplBgrx;
        uint64_t Count = 0; // pictures received so far
    };
    std::mutex Lock; // guards Latest
    TPicture Latest;
    TCastPixelLayout Layout = cplBgrx; // negotiated; stream thread only
    int Width = 0, Height = 0;

    ~TStream() {
        if (Loop)
            pw_thread_loop_stop(Loop);
        if (Stream)
            pw_stream_destroy(Stream);
        if (Registry)
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(Registry));
        if (Core)
            pw_core_disconnect(Core);
        if (Context)
            pw_context_destroy(Context);
        if (Loop)
            pw_thread_loop_destroy(Loop);
    }

    static void OnParamChanged(void* data, uint32_t id, const spa_pod* param) {
        auto* t = static_cast<TStream*>(data);
        if (!param || id != SPA_PARAM_Format)
            return;
        spa_video_info_raw info{};
        uint32_t mediaType = 0, mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 ||
            mediaType != SPA_MEDIA_TYPE_video || mediaSubtype != SPA_MEDIA_SUBTYPE_raw ||
            spa_format_video_raw_parse(param, &info) < 0 || !LayoutOf(info.format, &t->Layout))
            return;
        t->Width = int(info.size.width);
        t->Height = int(info.size.height);
        // Shared-memory buffers only: this reader maps them, it has no GPU path.
        uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 16), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr))));
        pw_stream_update_params(t->Stream, params, 1);
    }

    static void OnStateChanged(void* data, pw_stream_state, pw_stream_state state,
                               const char* error) {
        auto* t = static_cast<TStream*>(data);
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
            if (error)
                t->Error = QString::fromUtf8(error);
            t->Ended = true;
        }
        pw_thread_loop_signal(t->Loop, false);
    }

    static void OnCoreError(void* data, uint32_t id, int, int res, const char* message) {
        auto* t = static_cast<TStream*>(data);
        // The remote going away (the portal closed it) ends the stream too.
        if (id == PW_ID_CORE || res == -EPIPE) {
            t->Error = QString::fromUtf8(message ? message : "");
            t->Ended = true;
            pw_thread_loop_signal(t->Loop, false);
        }
    }

    // The compositor's node going away (it stopped the sharing) leaves the stream
    // connected but without pictures; only the registry tells.
    static void OnGlobalRemove(void* data, uint32_t id) {
        auto* t = static_cast<TStream*>(data);
        if (id == t->Node) {
            t->Error = QStringLiteral("the screen's node was removed");
            t->Ended = true;
            pw_thread_loop_signal(t->Loop, false);
        }
    }

    static void OnProcess(void* data) {
        auto* t = static_cast<TStream*>(data);
        pw_buffer* newest = nullptr;
        // Only the newest waiting picture matters.
        while (pw_buffer* b = pw_stream_dequeue_buffer(t->Stream)) {
            if (newest)
                pw_stream_queue_buffer(t->Stream, newest);
            newest = b;
        }
        if (!newest)
            return;
        const spa_data& d = newest->buffer->datas[0];
        const bool usable = d.data && d.chunk && d.chunk->size > 0 && t->Width > 0 &&
                            t->Height > 0 && !(d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED);
        if (usable) {
            const int bpp = BytesPerPixelOf(t->Layout);
            const int stride = d.chunk->stride > 0 ? d.chunk->stride : t->Width * bpp;
            const size_t offset = d.chunk->offset % std::max<uint32_t>(d.maxsize, 1);
            const size_t needed = size_t(stride) * (t->Height - 1) + size_t(t->Width) * bpp;
            if (stride >= t->Width * bpp && offset + needed <= d.maxsize) {
                pw_buffer* previous = nullptr;
                {
                    std::lock_guard<std::mutex> lock(t->Lock);
                    TPicture& p = t->Latest;
                    previous = p.Buffer;
                    p.Buffer = newest;
                    p.Data = static_cast<const uint8_t*>(d.data) + offset;
                    p.Width = t->Width;
                    p.Height = t->Height;
                    p.Stride = stride;
                    p.Layout = t->Layout;
                    ++p.Count;
                }
                newest = previous;
            }
        }
        if (newest)
            pw_stream_queue_buffer(t->Stream, newest);
        pw_thread_loop_signal(t->Loop, false);
    }

    static void OnRemoveBuffer(void* data, pw_buffer* buffer) {
        auto* t = static_cast<TStream*>(data);
        std::lock_guard<std::mutex> lock(t->Lock);
        TPicture& p = t->Latest;
        if (p.Buffer != buffer)
            return;
        const size_t size =
            size_t(p.Stride) * (p.Height - 1) + size_t(p.Width) * BytesPerPixelOf(p.Layout);
        p.Kept.assign(p.Data, p.Data + size);
        p.Data = p.Kept.data();
        p.Buffer = nullptr;
    }

    bool Connect(int fd, uint32_t node, QString* error) {
        static std::once_flag initOnce;
        std::call_once(initOnce, [] { pw_init(nullptr, nullptr); });
        Loop = pw_thread_loop_new("vx-screencast", nullptr);
        Context = Loop ? pw_context_new(pw_thread_loop_get_loop(Loop), nullptr, 0) : nullptr;
        if (!Context) {
            ::close(fd);
            *error = QStringLiteral("Cannot start PipeWire: install pipewire");
            return false;
        }
        pw_thread_loop_lock(Loop);
        if (pw_thread_loop_start(Loop) < 0) {
            pw_thread_loop_unlock(Loop);
            ::close(fd);
            *error = QStringLiteral("Cannot start PipeWire's thread");
            return false;
        }
        Core = pw_context_connect_fd(Context, fd, nullptr, 0); // takes the descriptor
        if (!Core) {
            pw_thread_loop_unlock(Loop);
            *error = QStringLiteral("Cannot connect to PipeWire: install pipewire and "
                                    "wireplumber and start them with the desktop");
            return false;
        }
        static const pw_core_events coreEvents = [] {
            pw_core_events e{};
            e.version = PW_VERSION_CORE_EVENTS;
            e.error = OnCoreError;
            return e;
        }();
        pw_core_add_listener(Core, &CoreListener, &coreEvents, this);
        Node = node;
        Registry = pw_core_get_registry(Core, PW_VERSION_REGISTRY, 0);
        static const pw_registry_events registryEvents = [] {
            pw_registry_events e{};
            e.version = PW_VERSION_REGISTRY_EVENTS;
            e.global_remove = OnGlobalRemove;
            return e;
        }();
        if (Registry)
            pw_registry_add_listener(Registry, &RegistryListener, &registryEvents, this);
        Stream = pw_stream_new(Core, "vexmira-screen",
                               pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY,
                                                 "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        static const pw_stream_events streamEvents = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = OnStateChanged;
            e.param_changed = OnParamChanged;
            e.process = OnProcess;
            e.remove_buffer = OnRemoveBuffer;
            return e;
        }();
        pw_stream_add_listener(Stream, &StreamListener, &streamEvents, this);

        uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        spa_rectangle defSize = SPA_RECTANGLE(1920, 1080), minSize = SPA_RECTANGLE(1, 1),
                      maxSize = SPA_RECTANGLE(16384, 16384);
        spa_fraction defRate = SPA_FRACTION(30, 1), minRate = SPA_FRACTION(0, 1),
                     maxRate = SPA_FRACTION(1000, 1);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType,
            SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(
                11, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR,
                SPA_VIDEO_FORMAT_RGB, SPA_VIDEO_FORMAT_BGR),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate,
            SPA_POD_CHOICE_RANGE_Fraction(&defRate, &minRate, &maxRate)));
        const int res = pw_stream_connect(
            Stream, PW_DIRECTION_INPUT, node,
            pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
        if (res < 0) {
            pw_thread_loop_unlock(Loop);
            *error = QStringLiteral("Cannot connect to the screen's PipeWire stream: %1")
                         .arg(QString::fromLocal8Bit(strerror(-res)));
            return false;
        }
        // The first picture tells the size; the compositor sends one when the cast starts.
        timespec abstime{};
        pw_thread_loop_get_time(Loop, &abstime, FirstPictureWaitMs * 1000000LL);
        while (!Ended && PictureCount() == 0) {
            if (pw_thread_loop_timed_wait_full(Loop, &abstime) != 0)
                break;
        }
        const bool got = PictureCount() > 0;
        if (!got)
            *error = Ended ? QStringLiteral("The screen's PipeWire stream ended before its "
                                            "first picture: %1")
                                 .arg(Error)
                           : QStringLiteral("The screen's PipeWire stream sent no picture");
        pw_thread_loop_unlock(Loop);
        return got;
    }

    uint64_t PictureCount() {
        std::lock_guard<std::mutex> lock(Lock);
        return Latest.Count;
    }
};

// ---- the portal session ----

TPortalScreenCast::TPortalScreenCast() = default;

TPortalScreenCast::~TPortalScreenCast() {
    FStream.reset();
    CloseSession();
}

bool TPortalScreenCast::IsWaylandSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE").compare(u"wayland", Qt::CaseInsensitive) == 0;
}

void TPortalScreenCast::SetTokenFile(const QString& fileName) {
    TokenFile() = fileName;
}

TCastFailure TPortalScreenCast::LatestFailure() {
    return TCastFailure(LatestFailureValue.load());
}

int TPortalScreenCast::EndedStreams() {
    return EndedStreamCount;
}

bool PortalInterfaceOffered(const QString& interfaceName) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage m = QDBusMessage::createMethodCall(
        PortalService, PortalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    m << interfaceName << QStringLiteral("version");
    const QDBusMessage reply = bus.call(m, QDBus::Block, 5000);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().first().value<QDBusVariant>().variant().toUInt() > 0;
}

namespace {

// Where the stream's picture lies in the desktop's own units (those of the program's
// windows, and of the rectangles the user types). Portals that give the size in those
// units (GNOME, KDE) are taken at their word. Others give the monitor's pixels, or no
// size: then a monitor's size comes from the screen at the portal's position as the
// windowing system sees it, which differs from its pixels on a scaled desktop.
QRect DesktopRectOf(const QRect& portal, const QSize& picture, bool window) {
    if (!portal.isEmpty() && portal.size() != picture)
        return portal;
    QRect rect(portal.topLeft(), picture);
    // Only a native Wayland client sees the compositor's screens in the desktop's units.
    if (window || qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr ||
        QGuiApplication::platformName() != u"wayland")
        return rect;
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (QScreen* screen : screens)
        if (screens.size() == 1 || screen->geometry().topLeft() == portal.topLeft())
            return QRect(portal.topLeft(), screen->geometry().size());
    return rect;
}

} // namespace

bool PortalOffersWindowSources() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() &&
           (PortalProperty(bus, QStringLiteral("AvailableSourceTypes")) & SourceWindow) != 0;
}

bool TPortalScreenCast::Fail(const QString& text, TCastFailure reason) {
    FLastError = text;
    LatestFailureValue = reason;
    FStream.reset();
    CloseSession();
    return false;
}

void TPortalScreenCast::CloseSession() {
    if (FSessionPath.isEmpty())
        return;
    const QDBusMessage m = QDBusMessage::createMethodCall(
        PortalService, FSessionPath, QStringLiteral("org.freedesktop.portal.Session"),
        QStringLiteral("Close"));
    QDBusConnection::sessionBus().call(m, QDBus::Block, 2000);
    FSessionPath.clear();
}

namespace {

// Calls a request-returning ScreenCast method and waits for its Response: 0 success,
// 1 cancelled by the user, 2 failed; -1 when the call itself failed (`error`).
int PortalRequest(const QString& method, QVariantList args, QVariantMap options,
                  QVariantMap* results, QString* error, int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString token = QStringLiteral("vexmira%1").arg(++TokenCounter);
    const QString sender = bus.baseService().mid(1).replace(u'.', u'_');
    const QString requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    options.insert(QStringLiteral("handle_token"), token);
    TPortalResponse response;
    // Listen before calling: the answer can come before the call returns.
    bus.connect(PortalService, requestPath, RequestInterface, QStringLiteral("Response"), &response,
                SLOT(OnResponse(uint, QVariantMap)));
    QDBusMessage m =
        QDBusMessage::createMethodCall(PortalService, PortalPath, ScreenCastInterface, method);
    args << options;
    m.setArguments(args);
    const QDBusMessage reply = bus.call(m, QDBus::Block, 30000);
    int code = -1;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        *error = reply.errorName() == u"org.freedesktop.DBus.Error.ServiceUnknown" ||
                         reply.errorName() == u"org.freedesktop.DBus.Error.UnknownMethod" ||
                         reply.errorName() == u"org.freedesktop.DBus.Error.UnknownInterface"
                     ? NoPortalText()
                     : QStringLiteral("The screen-cast portal refused %1: %2")
                           .arg(method, reply.errorMessage());
    } else {
        if (!response.Got) {
            QTimer::singleShot(timeoutMs, &response.Loop, &QEventLoop::quit);
            response.Loop.exec();
        }
        if (response.Got) {
            code = int(response.Code);
            *results = response.Results;
        } else {
            *error = QStringLiteral("The screen-cast portal did not answer %1").arg(method);
        }
    }
    bus.disconnect(PortalService, requestPath, RequestInterface, QStringLiteral("Response"),
                   &response, SLOT(OnResponse(uint, QVariantMap)));
    return code;
}

} // namespace

bool TPortalScreenCast::Open(const TRequest& request) {
    FCancelled = false;
    FSharesWindow = false;
    FLastError.clear();
    LatestFailureValue = cfNone;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return Fail(QStringLiteral("No D-Bus session bus: the screen-cast portal cannot be "
                                   "reached (install dbus-user-session)"),
                    cfNoPortal);
    if (!bus.interface()->isServiceRegistered(PortalService).value() &&
        !bus.interface()->activatableServiceNames().value().contains(PortalService))
        return Fail(NoPortalText(), cfNoPortal);

    const uint version = PortalProperty(bus, QStringLiteral("version"));
    const uint sourceTypes = PortalProperty(bus, QStringLiteral("AvailableSourceTypes"));
    const uint cursorModes = PortalProperty(bus, QStringLiteral("AvailableCursorModes"));

    QVariantMap results;
    QString error;
    auto answered = [&](int code, const QString& method) {
        if (code == 0)
            return true;
        if (code == 1) {
            FCancelled = true;
            Fail(QStringLiteral("The screen sharing was cancelled"), cfCancelled);
        } else if (code == 2) {
            Fail(QStringLiteral("The desktop could not start the screen sharing (%1 failed); "
                                "is PipeWire running? Install pipewire and wireplumber")
                     .arg(method),
                 cfNoPipeWire);
        } else {
            Fail(error, error == NoPortalText() ? cfNoPortal : cfOther);
        }
        return false;
    };

    const int created = PortalRequest(
        QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), QStringLiteral("vexmira%1").arg(getpid())}},
        &results, &error, 30000);
    if (!answered(created, QStringLiteral("CreateSession")))
        return false;
    FSessionPath = results.value(QStringLiteral("session_handle")).toString();
    const QDBusObjectPath session(FSessionPath);

    QVariantMap select;
    const uint wanted =
        request.Window && (sourceTypes & SourceWindow) ? SourceWindow : SourceMonitor;
    select.insert(QStringLiteral("types"), wanted);
    FSharesWindow = wanted == SourceWindow;
    select.insert(QStringLiteral("multiple"), false);
    uint cursor = request.Cursor ? CursorEmbedded : CursorHidden;
    if (cursorModes && !(cursorModes & cursor))
        cursor = cursorModes & CursorEmbedded ? CursorEmbedded : CursorHidden;
    if (cursorModes & cursor)
        select.insert(QStringLiteral("cursor_mode"), cursor);
    const QString tokenFile = TokenFile();
    if (version >= 4) {
        select.insert(QStringLiteral("persist_mode"), PersistUntilRevoked);
        if (!tokenFile.isEmpty()) {
            const QString token = TProfile(tokenFile).ReadString(TokenSection, TokenKey, {});
            if (!token.isEmpty())
                select.insert(QStringLiteral("restore_token"), token);
        }
    }
    if (!answered(PortalRequest(QStringLiteral("SelectSources"), {QVariant::fromValue(session)},
                                select, &results, &error, 30000),
                  QStringLiteral("SelectSources")))
        return false;
    // The chooser may wait for the user as long as they like; five minutes is plenty.
    if (!answered(PortalRequest(QStringLiteral("Start"), {QVariant::fromValue(session), QString()},
                                {}, &results, &error, 300000),
                  QStringLiteral("Start")))
        return false;
    const QString newToken = results.value(QStringLiteral("restore_token")).toString();
    if (!newToken.isEmpty() && !tokenFile.isEmpty())
        TProfile(tokenFile).WriteString(TokenSection, TokenKey, newToken);

    // streams: a(ua{sv}); the first one is the chosen monitor or window.
    uint node = 0;
    bool haveNode = false;
    const QDBusArgument streams = results.value(QStringLiteral("streams")).value<QDBusArgument>();
    streams.beginArray();
    while (!streams.atEnd()) {
        uint id = 0;
        QVariantMap props;
        streams.beginStructure();
        streams >> id >> props;
        streams.endStructure();
        if (haveNode)
            continue;
        haveNode = true;
        node = id;
        auto pair = [&props](const QString& key, int* a, int* b) {
            if (!props.contains(key))
                return false;
            const QDBusArgument arg = props.value(key).value<QDBusArgument>();
            arg.beginStructure();
            arg >> *a >> *b;
            arg.endStructure();
            return true;
        };
        int x = 0, y = 0, w = 0, h = 0;
        pair(QStringLiteral("position"), &x, &y);
        if (pair(QStringLiteral("size"), &w, &h))
            FDesktopRect = QRect(x, y, w, h);
        else
            FDesktopRect = QRect(x, y, 0, 0);
    }
    streams.endArray();
    if (!haveNode)
        return Fail(QStringLiteral("The screen-cast portal started no stream"));

    QDBusMessage m = QDBusMessage::createMethodCall(PortalService, PortalPath, ScreenCastInterface,
                                                    QStringLiteral("OpenPipeWireRemote"));
    m << QVariant::fromValue(session) << QVariantMap();
    const QDBusMessage reply = bus.call(m, QDBus::Block, 30000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return Fail(QStringLiteral("The screen-cast portal gave no PipeWire connection: %1")
                        .arg(reply.errorMessage()));
    const int fd =
        ::dup(reply.arguments().first().value<QDBusUnixFileDescriptor>().fileDescriptor());
    if (fd < 0)
        return Fail(QStringLiteral("The screen-cast portal gave no PipeWire connection"));

    FStream = std::make_unique<TStream>();
    if (!FStream->Connect(fd, node, &error))
        return Fail(error, cfNoPipeWire);
    {
        std::lock_guard<std::mutex> lock(FStream->Lock);
        FPictureSize = QSize(FStream->Latest.Width, FStream->Latest.Height);
    }
    FDesktopRect = DesktopRectOf(FDesktopRect, FPictureSize, FSharesWindow);
    return true;
}

void TPortalScreenCast::CopyLatest(const QRect& rect, uint8_t* dst) {
    const int rowBytes = rect.width() * 4;
    std::lock_guard<std::mutex> lock(FStream->Lock);
    const TStream::TPicture& p = FStream->Latest;
    const QRect inside = rect & QRect(0, 0, p.Width, p.Height);
    if (inside != rect || !p.Data)
        std::memset(dst, 0, size_t(rowBytes) * rect.height());
    if (inside.isEmpty() || !p.Data)
        return;
    const int bpp = BytesPerPixelOf(p.Layout);
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        const uint8_t* s = p.Data + size_t(y) * p.Stride + size_t(inside.left()) * bpp;
        uint8_t* d =
            dst + size_t(y - rect.top()) * rowBytes + size_t(inside.left() - rect.left()) * 4;
        if (p.Layout == cplBgrx)
            std::memcpy(d, s, size_t(inside.width()) * 4);
        else
            ConvertRowToBgra(p.Layout, s, d, inside.width());
    }
}

bool TPortalScreenCast::Ended() {
    const bool ended = FStream && FStream->Ended;
    if (ended && !FEndCounted) {
        FEndCounted = true;
        ++EndedStreamCount;
    }
    return ended;
}

#include "PortalScreenCast.moc"
