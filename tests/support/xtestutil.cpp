#include "xtestutil.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QProcess>
#include <QScreen>
#include <QTimer>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/uio.h>
#include <memory>
#include <vector>

namespace {

QString g_lastError;

bool fail(const QString &message)
{
    g_lastError = message;
    return false;
}

// A connection of our own, apart from Qt's: the helpers work the same in a
// QCoreApplication test, and their round trips never reorder Qt's events.
struct Connection
{
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    QHash<QByteArray, xcb_atom_t> atoms;

    ~Connection()
    {
        if (c)
            xcb_disconnect(c);
    }
};

Connection *connection()
{
    static std::unique_ptr<Connection> conn;
    if (conn && xcb_connection_has_error(conn->c))
        conn.reset(); // the server went away or the connection broke; try anew
    if (!conn) {
        auto fresh = std::make_unique<Connection>();
        int screenNumber = 0;
        fresh->c = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(fresh->c)) {
            fail(QStringLiteral("cannot connect to X display %1")
                     .arg(qEnvironmentVariable("DISPLAY")));
            return nullptr;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(fresh->c));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        fresh->root = it.data->root;
        conn = std::move(fresh);
    }
    return conn.get();
}

xcb_atom_t atom(Connection *conn, const QByteArray &name)
{
    auto found = conn->atoms.constFind(name);
    if (found != conn->atoms.constEnd())
        return *found;
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        conn->c, xcb_intern_atom(conn->c, 0, uint16_t(name.size()), name.constData()), nullptr);
    const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    if (a != XCB_ATOM_NONE)
        conn->atoms.insert(name, a);
    return a;
}

QByteArray atomName(Connection *conn, xcb_atom_t a)
{
    xcb_get_atom_name_reply_t *reply =
        xcb_get_atom_name_reply(conn->c, xcb_get_atom_name(conn->c, a), nullptr);
    if (!reply)
        return {};
    QByteArray name(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    std::free(reply);
    return name;
}

// 32-bit items of a property of any type; empty when unset, of another
// format, or when the window is gone (the error reply just yields no reply).
QList<quint32> property32(quint32 window, const QByteArray &name)
{
    Connection *conn = connection();
    if (!conn)
        return {};
    const xcb_atom_t a = atom(conn, name);
    if (a == XCB_ATOM_NONE)
        return {};
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        conn->c, xcb_get_property(conn->c, 0, window, a, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
        nullptr);
    QList<quint32> values;
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / 4;
        values.reserve(count);
        for (int i = 0; i < count; ++i)
            values.append(data[i]);
    }
    std::free(reply);
    return values;
}

QByteArray property8(quint32 window, const QByteArray &name)
{
    Connection *conn = connection();
    if (!conn)
        return {};
    const xcb_atom_t a = atom(conn, name);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        conn->c, xcb_get_property(conn->c, 0, window, a, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
        nullptr);
    QByteArray value;
    if (reply && reply->format == 8)
        value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    std::free(reply);
    return value;
}

bool isViewable(quint32 window)
{
    Connection *conn = connection();
    if (!conn)
        return false;
    xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
        conn->c, xcb_get_window_attributes(conn->c, window), nullptr);
    const bool viewable = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

QList<quint32> childrenOf(quint32 window, quint32 *parent = nullptr)
{
    Connection *conn = connection();
    QList<quint32> children;
    if (!conn)
        return children;
    xcb_query_tree_reply_t *tree =
        xcb_query_tree_reply(conn->c, xcb_query_tree(conn->c, window), nullptr);
    if (!tree)
        return children;
    const xcb_window_t *ids = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
        children.append(ids[i]);
    if (parent)
        *parent = tree->parent;
    std::free(tree);
    return children;
}

bool windowManagerRunning()
{
    Connection *conn = connection();
    return conn && !property32(conn->root, "_NET_SUPPORTING_WM_CHECK").isEmpty();
}

// Client messages to the root as a pager (source indication 2) sends them.
bool sendRootMessage(quint32 window, const QByteArray &type, std::initializer_list<quint32> data)
{
    Connection *conn = connection();
    if (!conn)
        return false;
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(conn, type);
    int i = 0;
    for (quint32 value : data)
        event.data.data32[i++] = value;
    xcb_send_event(conn->c, 0, conn->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    return xcb_flush(conn->c) > 0;
}

// Whether the window manager leaves the window without a frame: it asked for
// no decorations (_MOTIF_WM_HINTS, as client-side decorated windows do), or
// it is a dock or the desktop.
bool undecorated(quint32 window)
{
    const QList<quint32> hints = property32(window, "_MOTIF_WM_HINTS");
    const quint32 kDecorationsFlag = 2;
    if (hints.size() >= 3 && (hints[0] & kDecorationsFlag) && hints[2] == 0)
        return true;
    const QList<QByteArray> types = XTestUtil::atomProperty(window, "_NET_WM_WINDOW_TYPE");
    return types.contains("_NET_WM_WINDOW_TYPE_DOCK") ||
           types.contains("_NET_WM_WINDOW_TYPE_DESKTOP");
}

// Managed: the window manager has set _NET_FRAME_EXTENTS; some (Metacity)
// set none on a window without a frame, which is managed once it is
// viewable (a client's map request waits for the window manager).
bool waitUntilManaged(quint32 window, int timeoutMs)
{
    if (XTestUtil::waitFor(
            [&] {
                return XTestUtil::frameExtents(window).has_value() ||
                       (undecorated(window) && isViewable(window));
            },
            timeoutMs))
        return true;
    return fail(QStringLiteral("window 0x%1 got no _NET_FRAME_EXTENTS within %2 ms")
                    .arg(window, 0, 16)
                    .arg(timeoutMs));
}

struct Started
{
    std::unique_ptr<QProcess> process;
    quint32 window = 0;
    QByteArray pendingOutput; // what it printed after its window id
};

void endProcesses();

std::vector<Started> &startedProcesses()
{
    static std::vector<Started> processes;
    static bool endsWithApplication = false;
    if (!endsWithApplication) {
        // A test that forgot cleanup(): end them with the application, while
        // QProcess still works, not in static destruction after it.
        qAddPostRoutine(endProcesses);
        endsWithApplication = true;
    }
    return processes;
}

void endProcesses()
{
    auto &processes = startedProcesses();
    for (Started &started : processes) {
        if (started.process->state() != QProcess::NotRunning)
            started.process->terminate();
    }
    for (Started &started : processes) {
        if (started.process->state() != QProcess::NotRunning &&
            !started.process->waitForFinished(1000)) {
            started.process->kill();
            started.process->waitForFinished(1000);
        }
    }
    processes.clear();
}

Started *startedFor(QProcess *process)
{
    for (Started &started : startedProcesses()) {
        if (started.process.get() == process)
            return &started;
    }
    return nullptr;
}

Started *startedWith(quint32 window)
{
    for (Started &started : startedProcesses()) {
        if (started.window == window)
            return &started;
    }
    return nullptr;
}

void rememberWindow(QProcess *process, quint32 window, const QByteArray &pendingOutput = {})
{
    if (Started *started = startedFor(process)) {
        started->window = window;
        started->pendingOutput = pendingOutput;
    }
}

QProcess *startTracked(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(program);
    process->setArguments(arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start();
    if (!process->waitForStarted(XTestUtil::defaultTimeoutMs)) {
        fail(QStringLiteral("cannot start %1: %2").arg(program, process->errorString()));
        return nullptr;
    }
    startedProcesses().push_back(Started{std::move(process), 0, {}});
    return startedProcesses().back().process.get();
}

bool xdotool(const QStringList &arguments)
{
    const CommandResult result = XTestUtil::run(QStringLiteral("xdotool"), arguments);
    if (!result.ok())
        return fail(QStringLiteral("xdotool %1 failed: %2")
                        .arg(arguments.join(QLatin1Char(' ')),
                             QString::fromLocal8Bit(result.standardError).trimmed()));
    return true;
}

QScreen *findScreen(const QString &name)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return nullptr;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (screen->name() == name)
            return screen;
    }
    return nullptr;
}

} // namespace

QScreen *XTestUtil::screenNamed(const QString &name)
{
    return findScreen(name);
}

QString XTestUtil::lastError()
{
    return g_lastError;
}

QString XTestUtil::binDir()
{
    const QString fromEnv = qEnvironmentVariable("VARLO_BIN_DIR");
    if (!fromEnv.isEmpty())
        return fromEnv;
    return QCoreApplication::applicationDirPath();
}

QString XTestUtil::testClientPath()
{
    return QDir(binDir()).filePath(QStringLiteral("varlo-testclient"));
}

int XTestUtil::xrunScreens()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("VARLO_XRUN_SCREENS", &ok);
    return ok ? n : 0;
}

QString XTestUtil::xrunServer()
{
    return qEnvironmentVariable("VARLO_XRUN_SERVER");
}

CommandResult XTestUtil::run(const QString &program, const QStringList &arguments, int timeoutMs)
{
    CommandResult result;
    const QDeadlineTimer deadline(timeoutMs);
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(int(deadline.remainingTime()))) {
        fail(QStringLiteral("cannot start %1: %2").arg(program, process.errorString()));
        return result;
    }
    if (!process.waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
        process.kill();
        process.waitForFinished(1000);
        result.standardOutput = process.readAllStandardOutput();
        result.standardError = process.readAllStandardError();
        fail(QStringLiteral("%1 did not finish within %2 ms").arg(program).arg(timeoutMs));
        return result;
    }
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit) {
        fail(QStringLiteral("%1 crashed").arg(program));
        return result;
    }
    result.finished = true;
    result.exitCode = process.exitCode();
    if (result.exitCode != 0)
        fail(QStringLiteral("%1 exited with %2: %3")
                 .arg(program)
                 .arg(result.exitCode)
                 .arg(QString::fromLocal8Bit(result.standardError).trimmed()));
    return result;
}

bool XTestUtil::waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        // Sleep in the event loop: X events wake it at once, the timer bounds it.
        QEventLoop loop;
        QTimer::singleShot(int(qBound(qint64(1), deadline.remainingTime(), qint64(10))), &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
}

StartedWindow XTestUtil::startTestClient(const QStringList &arguments, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QProcess *process = startTracked(testClientPath(), arguments);
    if (!process)
        return {};

    // The client prints its window id once the window is mapped.
    QByteArray line;
    while (!line.contains('\n')) {
        if (process->state() != QProcess::Running && process->bytesAvailable() == 0) {
            fail(QStringLiteral("varlo-testclient %1 ended before it mapped: %2")
                     .arg(arguments.join(QLatin1Char(' ')),
                          QString::fromLocal8Bit(process->readAllStandardError()).trimmed()));
            return {};
        }
        if (deadline.hasExpired()) {
            fail(QStringLiteral("varlo-testclient %1 did not map within %2 ms")
                     .arg(arguments.join(QLatin1Char(' ')))
                     .arg(timeoutMs));
            return {};
        }
        if (process->bytesAvailable() == 0)
            process->waitForReadyRead(
                int(qBound(qint64(1), deadline.remainingTime(), qint64(100))));
        line += process->readAllStandardOutput();
    }
    bool ok = false;
    const quint32 window = line.left(line.indexOf('\n')).trimmed().toUInt(&ok);
    if (!ok || window == 0) {
        fail(QStringLiteral("varlo-testclient printed no window id: %1")
                 .arg(QString::fromLocal8Bit(line)));
        return {};
    }
    rememberWindow(process, window, line.mid(line.indexOf('\n') + 1));
    StartedWindow started{window, process->processId()};
    if (windowManagerRunning()) {
        // The server hands a fresh client the id range of one that just went
        // away, so the id may still be listed for the old window; the frame
        // extents on this window show the window manager has taken it on.
        const int remaining = int(qMax<qint64>(deadline.remainingTime(), 1));
        if (!waitForClientListed(window, true, remaining) ||
            !waitUntilManaged(window, int(qMax<qint64>(deadline.remainingTime(), 1))))
            return {};
    }
    return started;
}

StartedWindow XTestUtil::startXterm(const QString &title, const QStringList &extraArguments,
                                    int timeoutMs)
{
    // An Xft font: the core fonts xterm asks for by default need font
    // packages the test machine does not have.
    QStringList arguments{QStringLiteral("-T"),  title,
                          QStringLiteral("-fa"), QStringLiteral("Monospace"),
                          QStringLiteral("-fs"), QStringLiteral("10")};
    arguments += extraArguments;
    return startProgram(QStringLiteral("xterm"), arguments, title, timeoutMs);
}

StartedWindow XTestUtil::startProgram(const QString &program, const QStringList &arguments,
                                      const QString &title, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QProcess *process = startTracked(program, arguments);
    if (!process)
        return {};
    const qint64 pid = process->processId();
    const bool managed = windowManagerRunning();

    quint32 window = 0;
    const bool found = waitFor(
        [&] {
            if (process->state() != QProcess::Running)
                return true;
            window = 0;
            const QList<quint32> candidates = managed ? clientList() : rootChildren();
            for (quint32 candidate : candidates) {
                const QList<quint32> windowPid = property32(candidate, "_NET_WM_PID");
                const bool mine = windowPid.isEmpty()
                                      ? property8(candidate, "_NET_WM_NAME") == title.toUtf8() ||
                                            property8(candidate, "WM_NAME") == title.toLocal8Bit()
                                      : windowPid.first() == quint64(pid);
                if (mine && (managed || isViewable(candidate)))
                    window = candidate;
            }
            return window != 0;
        },
        int(qMax<qint64>(deadline.remainingTime(), 1)));
    if (process->state() != QProcess::Running) {
        fail(QStringLiteral("%1 ended at start: %2")
                 .arg(program, QString::fromLocal8Bit(process->readAllStandardError()).trimmed()));
        return {};
    }
    if (!found ||
        (managed && !waitUntilManaged(window, int(qMax<qint64>(deadline.remainingTime(), 1))))) {
        fail(
            QStringLiteral("%1 \"%2\" was not %3 within %4 ms")
                .arg(program, title, managed ? QStringLiteral("managed") : QStringLiteral("mapped"))
                .arg(timeoutMs));
        return {};
    }
    rememberWindow(process, window);
    return {window, pid};
}

bool XTestUtil::endClient(quint32 window, int timeoutMs)
{
    Started *started = startedWith(window);
    if (!started)
        return fail(
            QStringLiteral("window 0x%1 was not started by these helpers").arg(window, 0, 16));
    const QDeadlineTimer deadline(timeoutMs);
    QProcess *process = started->process.get();
    process->terminate();
    if (!process->waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 1)))) {
        process->kill();
        process->waitForFinished(1000);
    }
    Connection *conn = connection();
    if (!conn)
        return false;
    const bool gone = waitFor(
        [&] {
            xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
                conn->c, xcb_get_window_attributes(conn->c, window), nullptr);
            std::free(reply);
            return !reply;
        },
        int(qMax<qint64>(deadline.remainingTime(), 1)));
    if (!gone)
        return fail(
            QStringLiteral("window 0x%1 still exists after its program ended").arg(window, 0, 16));
    return !windowManagerRunning() ||
           waitForClientListed(window, false, int(qMax<qint64>(deadline.remainingTime(), 1)));
}

QProcess *XTestUtil::startProcess(const QString &program, const QStringList &arguments)
{
    return startTracked(program, arguments);
}

void XTestUtil::cleanup()
{
    auto &processes = startedProcesses();
    QList<quint32> windows;
    for (const Started &started : processes) {
        if (started.window)
            windows.append(started.window);
    }
    endProcesses();
    // Until the window manager has let go of the windows, a new client may
    // get one of their ids and be taken for the old window.
    if (!windows.isEmpty() && windowManagerRunning()) {
        waitFor(
            [&] {
                const QList<quint32> clients = clientList();
                for (quint32 window : windows) {
                    if (clients.contains(window))
                        return false;
                }
                return true;
            },
            2000);
    }
}

QByteArray XTestUtil::waitForClientOutput(quint32 window, const QByteArray &prefix, int timeoutMs)
{
    Started *started = startedWith(window);
    if (!started) {
        fail(QStringLiteral("window 0x%1 was not started by these helpers").arg(window, 0, 16));
        return {};
    }
    QByteArray found;
    const bool arrived = waitFor(
        [&] {
            started->pendingOutput += started->process->readAllStandardOutput();
            for (;;) {
                const int end = started->pendingOutput.indexOf('\n');
                if (end < 0)
                    return false;
                const QByteArray line = started->pendingOutput.left(end);
                started->pendingOutput.remove(0, end + 1);
                if (line.startsWith(prefix)) {
                    found = line;
                    return true;
                }
            }
        },
        timeoutMs);
    if (!arrived)
        fail(QStringLiteral("no \"%1\" from window 0x%2 within %3 ms")
                 .arg(QString::fromUtf8(prefix))
                 .arg(window, 0, 16)
                 .arg(timeoutMs));
    return found;
}

QList<quint32> XTestUtil::clientList()
{
    Connection *conn = connection();
    return conn ? property32(conn->root, "_NET_CLIENT_LIST") : QList<quint32>();
}

quint32 XTestUtil::clientWithPid(qint64 pid)
{
    const QList<quint32> clients = clientList();
    for (quint32 client : clients) {
        const QList<quint32> value = property32(client, "_NET_WM_PID");
        if (!value.isEmpty() && value.first() == quint64(pid))
            return client;
    }
    return 0;
}

bool XTestUtil::waitForClientListed(quint32 window, bool present, int timeoutMs)
{
    if (waitFor([&] { return clientList().contains(window) == present; }, timeoutMs))
        return true;
    return fail(QStringLiteral("window 0x%1 did not %2 _NET_CLIENT_LIST within %3 ms")
                    .arg(window, 0, 16)
                    .arg(present ? QStringLiteral("appear in") : QStringLiteral("leave"))
                    .arg(timeoutMs));
}

QRect XTestUtil::clientGeometry(quint32 window)
{
    Connection *conn = connection();
    if (!conn)
        return {};
    xcb_get_geometry_cookie_t geometryCookie = xcb_get_geometry(conn->c, window);
    xcb_translate_coordinates_cookie_t translateCookie =
        xcb_translate_coordinates(conn->c, window, conn->root, 0, 0);
    xcb_get_geometry_reply_t *geometry = xcb_get_geometry_reply(conn->c, geometryCookie, nullptr);
    xcb_translate_coordinates_reply_t *position =
        xcb_translate_coordinates_reply(conn->c, translateCookie, nullptr);
    QRect rect;
    if (geometry && position)
        rect = QRect(position->dst_x, position->dst_y, geometry->width, geometry->height);
    else
        fail(QStringLiteral("window 0x%1 is gone").arg(window, 0, 16));
    std::free(geometry);
    std::free(position);
    return rect;
}

int XTestUtil::borderWidth(quint32 window)
{
    Connection *conn = connection();
    if (!conn)
        return -1;
    xcb_get_geometry_reply_t *geometry =
        xcb_get_geometry_reply(conn->c, xcb_get_geometry(conn->c, window), nullptr);
    const int width = geometry ? geometry->border_width : -1;
    std::free(geometry);
    return width;
}

// Both properties are CARDINAL[4] left, right, top, bottom.
static std::optional<QMargins> extents(quint32 window, const QByteArray &name)
{
    const QList<quint32> v = property32(window, name);
    if (v.size() != 4)
        return std::nullopt;
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
}

std::optional<QMargins> XTestUtil::frameExtents(quint32 window)
{
    return extents(window, "_NET_FRAME_EXTENTS");
}

std::optional<QMargins> XTestUtil::gtkFrameExtents(quint32 window)
{
    return extents(window, "_GTK_FRAME_EXTENTS");
}

QRect XTestUtil::outerFrame(quint32 window)
{
    const QRect client = clientGeometry(window);
    if (client.isNull())
        return {};
    return client.marginsAdded(frameExtents(window).value_or(QMargins()));
}

QRect XTestUtil::visibleFrame(quint32 window)
{
    const QRect outer = outerFrame(window);
    if (outer.isNull())
        return {};
    return outer.marginsRemoved(gtkFrameExtents(window).value_or(QMargins()));
}

SizeHints XTestUtil::sizeHints(quint32 window)
{
    // WM_SIZE_HINTS: flags, 4 unused, min, max, increments, aspects, base, gravity.
    const QList<quint32> v = property32(window, "WM_NORMAL_HINTS");
    SizeHints hints;
    if (v.size() < 15)
        return hints;
    const quint32 kMinSize = 16, kResizeInc = 64, kBaseSize = 256;
    if (v[0] & kMinSize)
        hints.minimum = QSize(int(v[5]), int(v[6]));
    if ((v[0] & kResizeInc) && v[9] > 0 && v[10] > 0)
        hints.increment = QSize(int(v[9]), int(v[10]));
    if ((v[0] & kBaseSize) && v.size() >= 17)
        hints.base = QSize(int(v[15]), int(v[16]));
    else if (hints.minimum)
        hints.base = *hints.minimum; // ICCCM: the minimum stands in for a missing base
    return hints;
}

std::optional<QMargins> XTestUtil::waitForFrameExtents(quint32 window, int timeoutMs)
{
    std::optional<QMargins> found;
    if (waitFor([&] { return (found = frameExtents(window)).has_value(); }, timeoutMs))
        return found;
    fail(QStringLiteral("window 0x%1 got no _NET_FRAME_EXTENTS within %2 ms")
             .arg(window, 0, 16)
             .arg(timeoutMs));
    return std::nullopt;
}

bool XTestUtil::waitForClientGeometry(quint32 window, const QRect &rect, int timeoutMs)
{
    QRect last;
    if (waitFor([&] { return (last = clientGeometry(window)) == rect; }, timeoutMs))
        return true;
    return fail(QStringLiteral("window 0x%1 is at %2,%3 %4x%5, not %6,%7 %8x%9")
                    .arg(window, 0, 16)
                    .arg(last.x())
                    .arg(last.y())
                    .arg(last.width())
                    .arg(last.height())
                    .arg(rect.x())
                    .arg(rect.y())
                    .arg(rect.width())
                    .arg(rect.height()));
}

QList<quint32> XTestUtil::cardinalProperty(quint32 window, const QByteArray &name)
{
    return property32(window, name);
}

QList<QByteArray> XTestUtil::atomProperty(quint32 window, const QByteArray &name)
{
    Connection *conn = connection();
    QList<QByteArray> names;
    if (!conn)
        return names;
    const QList<quint32> atoms = property32(window, name);
    for (quint32 a : atoms)
        names.append(atomName(conn, a));
    return names;
}

quint32 XTestUtil::activeWindow()
{
    Connection *conn = connection();
    const QList<quint32> value =
        conn ? property32(conn->root, "_NET_ACTIVE_WINDOW") : QList<quint32>();
    return value.isEmpty() ? 0 : value.first();
}

quint32 XTestUtil::rootWindow()
{
    Connection *conn = connection();
    return conn ? conn->root : 0;
}

QList<QRect> XTestUtil::edgeBars(const QRect &screen)
{
    QList<QRect> bars;
    const QList<quint32> topLevels = rootChildren();
    for (quint32 window : topLevels) {
        if (!isViewable(window))
            continue;
        const int border = borderWidth(window);
        const QRect outer = clientGeometry(window).adjusted(-border, -border, border, border);
        if (outer.isEmpty() || !screen.contains(outer))
            continue;
        // Spanning a whole edge, and thin: a maximised window is not a bar.
        const bool horizontal = outer.width() == screen.width() &&
                                outer.height() < screen.height() / 4 &&
                                (outer.top() == screen.top() || outer.bottom() == screen.bottom());
        const bool vertical = outer.height() == screen.height() &&
                              outer.width() < screen.width() / 4 &&
                              (outer.left() == screen.left() || outer.right() == screen.right());
        if (horizontal || vertical)
            bars.append(outer);
    }
    return bars;
}

QString XTestUtil::windowManagerName()
{
    Connection *conn = connection();
    if (!conn)
        return {};
    const QList<quint32> check = property32(conn->root, "_NET_SUPPORTING_WM_CHECK");
    // The check window names itself too; a leftover of an ended window manager does not.
    if (check.isEmpty() ||
        property32(check.first(), "_NET_SUPPORTING_WM_CHECK").value(0) != check.first())
        return {};
    return QString::fromUtf8(property8(check.first(), "_NET_WM_NAME"));
}

bool XTestUtil::selectionOwned(const QByteArray &selection)
{
    Connection *conn = connection();
    if (!conn)
        return false;
    const xcb_atom_t a = atom(conn, selection);
    xcb_get_selection_owner_reply_t *reply =
        xcb_get_selection_owner_reply(conn->c, xcb_get_selection_owner(conn->c, a), nullptr);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

QString XTestUtil::xrunWindowManager()
{
    return qEnvironmentVariable("VARLO_XRUN_WM");
}

bool XTestUtil::setOutputOff(const QString &output, int timeoutMs)
{
    const CommandResult result = run(QStringLiteral("xrandr"),
                                     {QStringLiteral("--output"), output, QStringLiteral("--off")});
    if (!result.ok())
        return false;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return true;
    if (waitFor([&] { return screenNamed(output) == nullptr; }, timeoutMs))
        return true;
    return fail(QStringLiteral("Qt still shows screen %1 %2 ms after it was turned off")
                    .arg(output)
                    .arg(timeoutMs));
}

bool XTestUtil::setOutputOn(const QString &output, const QRect &rect, int timeoutMs)
{
    const QString mode = QStringLiteral("varlo-%1x%2").arg(rect.width()).arg(rect.height());
    // The dummy driver takes any timing; only the size matters here.
    const int hTotal = rect.width() + 160;
    const int vTotal = rect.height() + 30;
    const QString clock = QString::number(double(hTotal) * vTotal * 60 / 1e6, 'f', 2);
    const QStringList modeLine{mode,
                               clock,
                               QString::number(rect.width()),
                               QString::number(rect.width() + 16),
                               QString::number(rect.width() + 48),
                               QString::number(hTotal),
                               QString::number(rect.height()),
                               QString::number(rect.height() + 3),
                               QString::number(rect.height() + 8),
                               QString::number(vTotal),
                               QStringLiteral("-hsync"),
                               QStringLiteral("+vsync")};
    // Both fail harmlessly when the mode exists or the output has it already.
    run(QStringLiteral("xrandr"), QStringList{QStringLiteral("--newmode")} + modeLine);
    run(QStringLiteral("xrandr"), {QStringLiteral("--addmode"), output, mode});
    const CommandResult result =
        run(QStringLiteral("xrandr"),
            {QStringLiteral("--output"), output, QStringLiteral("--mode"), mode,
             QStringLiteral("--pos"), QStringLiteral("%1x%2").arg(rect.x()).arg(rect.y())});
    if (!result.ok())
        return false;
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return true;
    if (waitFor(
            [&] {
                QScreen *screen = screenNamed(output);
                return screen && screen->geometry() == rect;
            },
            timeoutMs))
        return true;
    return fail(QStringLiteral("Qt did not show screen %1 at the new geometry within %2 ms")
                    .arg(output)
                    .arg(timeoutMs));
}

bool XTestUtil::waitForScreenCount(int count, int timeoutMs)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return fail(QStringLiteral("waitForScreenCount needs a QGuiApplication"));
    if (waitFor([&] { return QGuiApplication::screens().size() == count; }, timeoutMs))
        return true;
    return fail(QStringLiteral("Qt shows %1 screens, not %2, after %3 ms")
                    .arg(QGuiApplication::screens().size())
                    .arg(count)
                    .arg(timeoutMs));
}

bool XTestUtil::movePointer(const QPoint &rootPosition)
{
    if (!xdotool({QStringLiteral("mousemove"), QString::number(rootPosition.x()),
                  QString::number(rootPosition.y())}))
        return false;
    // xdotool's request and ours travel on different connections; wait until
    // the server reports the pointer there, so the next step sees it moved.
    Connection *conn = connection();
    if (!conn)
        return false;
    QPoint last;
    const bool arrived = waitFor(
        [&] {
            xcb_query_pointer_reply_t *reply =
                xcb_query_pointer_reply(conn->c, xcb_query_pointer(conn->c, conn->root), nullptr);
            if (reply)
                last = QPoint(reply->root_x, reply->root_y);
            std::free(reply);
            return last == rootPosition;
        },
        2000);
    if (!arrived)
        return fail(QStringLiteral("the pointer is at %1,%2, not %3,%4")
                        .arg(last.x())
                        .arg(last.y())
                        .arg(rootPosition.x())
                        .arg(rootPosition.y()));
    return true;
}

bool XTestUtil::click(int button)
{
    return xdotool({QStringLiteral("click"), QString::number(button)});
}

bool XTestUtil::clickAt(const QPoint &rootPosition, int button)
{
    return movePointer(rootPosition) && click(button);
}

bool XTestUtil::buttonDown(int button)
{
    return xdotool({QStringLiteral("mousedown"), QString::number(button)});
}

bool XTestUtil::buttonUp(int button)
{
    return xdotool({QStringLiteral("mouseup"), QString::number(button)});
}

bool XTestUtil::key(const QString &keys)
{
    return xdotool({QStringLiteral("key"), keys});
}

bool XTestUtil::keyDown(const QString &keys)
{
    return xdotool({QStringLiteral("keydown"), keys});
}

bool XTestUtil::keyUp(const QString &keys)
{
    return xdotool({QStringLiteral("keyup"), keys});
}

namespace {

// XTEST's FakeInput, sent by hand on the helpers' own connection: there are no
// xcb-xtest headers here. rootPosition counts for motion only.
bool fakeInput(uint8_t type, uint8_t detail, const QPoint &rootPosition = {})
{
    Connection *conn = connection();
    if (!conn)
        return false;
    static xcb_extension_t xtest = {"XTEST", 0};
    const xcb_query_extension_reply_t *present = xcb_get_extension_data(conn->c, &xtest);
    if (!present || !present->present)
        return fail(QStringLiteral("the X server has no XTEST"));
    struct
    {
        uint8_t major;
        uint8_t minor;
        uint16_t length;
        uint8_t type;
        uint8_t detail;
        uint8_t pad0[2];
        uint32_t time;
        uint32_t root;
        uint8_t pad1[8];
        int16_t rootX;
        int16_t rootY;
        uint8_t pad2[7];
        uint8_t deviceId;
    } request{};
    request.type = type;
    request.detail = detail;
    request.root = conn->root;
    request.rootX = int16_t(rootPosition.x());
    request.rootY = int16_t(rootPosition.y());
    static const xcb_protocol_request_t protocol = {2, &xtest, 2 /* FakeInput */, 1};
    iovec parts[4];
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    parts[3].iov_base = nullptr;
    parts[3].iov_len = 0;
    xcb_send_request(conn->c, 0, parts + 2, &protocol);
    xcb_flush(conn->c);
    return true;
}

} // namespace

bool XTestUtil::fakeKey(quint32 keysym, bool press)
{
    Connection *conn = connection();
    if (!conn)
        return false;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(conn->c);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
    const xcb_keycode_t keycode = codes ? codes[0] : 0;
    std::free(codes);
    xcb_key_symbols_free(symbols);
    if (!keycode)
        return fail(QStringLiteral("no key for keysym 0x%1").arg(keysym, 0, 16));
    return fakeInput(press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode);
}

bool XTestUtil::fakeButton(int button, bool press)
{
    return fakeInput(press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, uint8_t(button));
}

bool XTestUtil::fakeMotion(const QPoint &rootPosition)
{
    // Detail 0: an absolute position on the root.
    return fakeInput(XCB_MOTION_NOTIFY, 0, rootPosition);
}

bool XTestUtil::roundTrip()
{
    Connection *conn = connection();
    if (!conn)
        return false;
    xcb_get_input_focus_reply_t *reply =
        xcb_get_input_focus_reply(conn->c, xcb_get_input_focus(conn->c), nullptr);
    std::free(reply);
    return reply != nullptr || fail(QStringLiteral("the X server did not answer"));
}

bool XTestUtil::typeText(const QString &text)
{
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("1"),
                    QStringLiteral("--"), text});
}

bool XTestUtil::activate(quint32 window, int timeoutMs)
{
    if (!sendRootMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0}))
        return fail(QStringLiteral("cannot send _NET_ACTIVE_WINDOW"));
    if (waitFor([&] { return activeWindow() == window; }, timeoutMs))
        return true;
    return fail(QStringLiteral("window 0x%1 did not become active within %2 ms")
                    .arg(window, 0, 16)
                    .arg(timeoutMs));
}

bool XTestUtil::closeWindow(quint32 window)
{
    if (!sendRootMessage(window, "_NET_CLOSE_WINDOW", {XCB_CURRENT_TIME, 2}))
        return fail(QStringLiteral("cannot send _NET_CLOSE_WINDOW"));
    return true;
}

bool XTestUtil::minimize(quint32 window, int timeoutMs)
{
    // ICCCM's request to iconify: WM_CHANGE_STATE with IconicState (3).
    if (!sendRootMessage(window, "WM_CHANGE_STATE", {3}))
        return fail(QStringLiteral("cannot send WM_CHANGE_STATE"));
    if (waitFor(
            [&] { return atomProperty(window, "_NET_WM_STATE").contains("_NET_WM_STATE_HIDDEN"); },
            timeoutMs))
        return true;
    return fail(QStringLiteral("window 0x%1 was not iconified within %2 ms")
                    .arg(window, 0, 16)
                    .arg(timeoutMs));
}

QList<quint32> XTestUtil::rootChildren()
{
    Connection *conn = connection();
    return conn ? childrenOf(conn->root) : QList<quint32>();
}

quint32 XTestUtil::topLevelOf(quint32 window)
{
    Connection *conn = connection();
    if (!conn)
        return 0;
    for (;;) {
        quint32 parent = 0;
        xcb_query_tree_reply_t *tree =
            xcb_query_tree_reply(conn->c, xcb_query_tree(conn->c, window), nullptr);
        if (!tree)
            return 0;
        parent = tree->parent;
        std::free(tree);
        if (parent == conn->root || parent == XCB_WINDOW_NONE)
            return window;
        window = parent;
    }
}

quint32 XTestUtil::windowUnderPointer()
{
    Connection *conn = connection();
    if (!conn)
        return 0;
    xcb_query_pointer_reply_t *reply =
        xcb_query_pointer_reply(conn->c, xcb_query_pointer(conn->c, conn->root), nullptr);
    const quint32 child = reply ? reply->child : 0;
    std::free(reply);
    return child;
}

quint32 XTestUtil::innermostWindowUnderPointer()
{
    Connection *conn = connection();
    if (!conn)
        return 0;
    quint32 window = conn->root;
    quint32 innermost = 0;
    while (window) {
        xcb_query_pointer_reply_t *reply =
            xcb_query_pointer_reply(conn->c, xcb_query_pointer(conn->c, window), nullptr);
        window = reply ? reply->child : 0;
        std::free(reply);
        if (window)
            innermost = window;
    }
    return innermost;
}

bool XTestUtil::clickWindow(quint32 window, const QPoint &offset, int button, int timeoutMs)
{
    const bool there = waitFor(
        [&] {
            const QRect area = clientGeometry(window);
            return area.isValid() && movePointer(area.center() + offset)
                   && innermostWindowUnderPointer() == window;
        },
        timeoutMs);
    if (!there)
        g_lastError = QStringLiteral("window 0x%1 never came under the pointer").arg(window, 0, 16);
    return there && click(button);
}

std::optional<quint32> XTestUtil::rootPixel(const QPoint &rootPosition)
{
    Connection *conn = connection();
    if (!conn)
        return std::nullopt;
    xcb_get_image_reply_t *image = xcb_get_image_reply(
        conn->c,
        xcb_get_image(conn->c, XCB_IMAGE_FORMAT_Z_PIXMAP, conn->root, int16_t(rootPosition.x()),
                      int16_t(rootPosition.y()), 1, 1, ~0u),
        nullptr);
    std::optional<quint32> pixel;
    // 24-bit true colour in 32 bits a pixel, the server's byte order (the dummy driver's).
    if (image && image->depth >= 24 && xcb_get_image_data_length(image) >= 4) {
        quint32 value = 0;
        std::memcpy(&value, xcb_get_image_data(image), 4);
        pixel = value & 0xffffff;
    } else {
        fail(QStringLiteral("cannot read the screen at %1,%2")
                 .arg(rootPosition.x())
                 .arg(rootPosition.y()));
    }
    std::free(image);
    return pixel;
}

QList<quint32> XTestUtil::descendantsOf(quint32 window)
{
    QList<quint32> result = childrenOf(window);
    for (qsizetype i = 0; i < result.size(); ++i)
        result += childrenOf(result.at(i));
    return result;
}

QList<quint32> XTestUtil::windowsOf(qint64 pid, bool all)
{
    QList<quint32> result;
    const auto consider = [&](quint32 window) {
        const QList<quint32> owner = property32(window, "_NET_WM_PID");
        if (!owner.isEmpty() && owner.first() == quint64(pid) && (all || isViewable(window)))
            result.append(window);
    };
    // Unmanaged windows are children of the root, managed ones sit in a frame.
    const QList<quint32> topLevels = rootChildren();
    for (quint32 topLevel : topLevels) {
        consider(topLevel);
        const QList<quint32> inFrame = childrenOf(topLevel);
        for (quint32 child : inFrame)
            consider(child);
    }
    return result;
}

bool XTestUtil::syncClient(quint32 window, int timeoutMs)
{
    Connection *conn = connection();
    if (!conn)
        return false;
    static quint32 serial = 0;
    const quint32 token = ++serial;
    const xcb_atom_t protocols = atom(conn, "WM_PROTOCOLS");
    const xcb_atom_t ping = atom(conn, "_NET_WM_PING");
    // Qt sends the answer to the root for StructureNotify listeners (others
    // for SubstructureNotify ones).
    uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(conn->c, conn->root, XCB_CW_EVENT_MASK, &mask);
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = protocols;
    event.data.data32[0] = ping;
    event.data.data32[1] = XCB_CURRENT_TIME;
    event.data.data32[2] = window;
    event.data.data32[3] = token;
    // No event mask: the event goes to the client that made the window.
    xcb_send_event(conn->c, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(conn->c);
    const bool answered = waitFor(
        [&] {
            bool found = false;
            while (xcb_generic_event_t *e = xcb_poll_for_event(conn->c)) {
                if ((e->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                    const auto *reply = reinterpret_cast<xcb_client_message_event_t *>(e);
                    found = found ||
                            (reply->type == protocols && reply->data.data32[0] == ping &&
                             reply->data.data32[2] == window && reply->data.data32[3] == token);
                }
                std::free(e);
            }
            return found;
        },
        timeoutMs);
    mask = 0;
    xcb_change_window_attributes(conn->c, conn->root, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(conn->c, xcb_get_input_focus(conn->c), nullptr));
    while (xcb_generic_event_t *e = xcb_poll_for_event(conn->c))
        std::free(e);
    if (answered)
        return true;
    return fail(QStringLiteral("the owner of window 0x%1 did not answer a ping within %2 ms")
                    .arg(window, 0, 16)
                    .arg(timeoutMs));
}

namespace {

// Watches the events Qt's own connection handles: the sync markers and X errors.
struct QtWatch : QAbstractNativeEventFilter
{
    xcb_connection_t *c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t marker = XCB_ATOM_NONE;
    int markersSent = 0;
    int markersSeen = 0;
    QStringList errors;

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        const uint8_t responseType = event->response_type & 0x7f;
        if (responseType == 0) {
            const auto *error = static_cast<const xcb_generic_error_t *>(message);
            errors.append(QStringLiteral("X error %1, request %2.%3, resource 0x%4")
                              .arg(error->error_code)
                              .arg(error->major_code)
                              .arg(error->minor_code)
                              .arg(error->resource_id, 0, 16));
        } else if (responseType == XCB_PROPERTY_NOTIFY) {
            const auto *notify = static_cast<const xcb_property_notify_event_t *>(message);
            if (notify->window == root && notify->atom == marker)
                ++markersSeen;
        }
        return false;
    }
};

QtWatch *qtWatch()
{
    static QtWatch *watch = nullptr;
    if (watch)
        return watch;
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11) {
        fail(QStringLiteral("Qt does not run on xcb"));
        return nullptr;
    }
    watch = new QtWatch; // for the life of the process, as the application's filters are
    watch->c = x11->connection();
    watch->root = xcb_setup_roots_iterator(xcb_get_setup(watch->c)).data->root;
    const QByteArray name("VARLO_TEST_SYNC");
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        watch->c, xcb_intern_atom(watch->c, 0, uint16_t(name.size()), name.constData()), nullptr);
    watch->marker = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    // Add to the mask Qt has on the root, not replace it.
    xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
        watch->c, xcb_get_window_attributes(watch->c, watch->root), nullptr);
    if (attributes && !(attributes->your_event_mask & XCB_EVENT_MASK_PROPERTY_CHANGE)) {
        const uint32_t mask = attributes->your_event_mask | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(watch->c, watch->root, XCB_CW_EVENT_MASK, &mask);
    }
    std::free(attributes);
    qApp->installNativeEventFilter(watch);
    return watch;
}

} // namespace

bool XTestUtil::syncQt(int timeoutMs)
{
    QtWatch *watch = qtWatch();
    if (!watch || watch->marker == XCB_ATOM_NONE)
        return false;
    const uint32_t serial = uint32_t(++watch->markersSent);
    xcb_change_property(watch->c, XCB_PROP_MODE_REPLACE, watch->root, watch->marker,
                        XCB_ATOM_CARDINAL, 32, 1, &serial);
    xcb_flush(watch->c);
    if (waitFor([&] { return watch->markersSeen >= watch->markersSent; }, timeoutMs))
        return true;
    return fail(
        QStringLiteral("Qt did not see its own property change within %1 ms").arg(timeoutMs));
}

bool XTestUtil::syncWindowManager(int timeoutMs)
{
    // Whatever Qt sent before must reach the server ahead of our request.
    if (auto *x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        xcb_connection_t *qt = x11->connection();
        std::free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
    }
    Connection *conn = connection();
    if (!conn)
        return false;
    if (!windowManagerRunning()) {
        std::free(xcb_get_input_focus_reply(conn->c, xcb_get_input_focus(conn->c), nullptr));
        return true;
    }
    // The window manager handles requests in order: once it has carried out
    // this one, it has handled every request that came before. A configure
    // request of an unmanaged window is one every window manager must carry
    // out (Fluxbox answers no frame-extents request for a window it does not
    // manage).
    const xcb_window_t probe = xcb_generate_id(conn->c);
    xcb_create_window(conn->c, XCB_COPY_FROM_PARENT, probe, conn->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    const uint32_t size[] = {2, 2};
    xcb_configure_window(conn->c, probe, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
    xcb_flush(conn->c);
    const bool answered = waitFor([&] { return clientGeometry(probe).width() == 2; }, timeoutMs);
    xcb_destroy_window(conn->c, probe);
    xcb_flush(conn->c);
    if (answered)
        return true;
    return fail(QStringLiteral("the window manager did not answer within %1 ms").arg(timeoutMs));
}

QStringList XTestUtil::qtXErrors()
{
    QtWatch *watch = qtWatch();
    return watch ? watch->errors : QStringList();
}

ConfigureWatcher::ConfigureWatcher(quint32 window) : m_connection(xcb_connect(nullptr, nullptr))
{
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

ConfigureWatcher::~ConfigureWatcher()
{
    xcb_disconnect(m_connection);
}

bool ConfigureWatcher::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        pollfd p{xcb_get_file_descriptor(m_connection), POLLIN, 0};
        ::poll(&p, 1, 20);
        bool configured = false;
        while (xcb_generic_event_t *e = xcb_poll_for_event(m_connection)) {
            if ((e->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
                const auto *c = reinterpret_cast<const xcb_configure_notify_event_t *>(e);
                m_sizes.append(QSize(c->width, c->height));
                m_geometry = QRect(c->x, c->y, c->width + 2 * c->border_width, c->height + 2 * c->border_width);
                configured = true;
            }
            std::free(e);
        }
        // A poll timeout checks as well: the event may have come before the watch.
        if ((configured || p.revents == 0) && done())
            return true;
    }
    return false;
}
