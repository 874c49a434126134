// A display with two X screens (not two monitors of one screen): DISPLAY
// ":N.1" names the second, and everything the backend reads or asks must be
// about that screen's root. Xorg's dummy setup has one X screen, so this
// test runs its own Xvfb with two.

#include "platform.h"
#include "x11/x11platform.h"

#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>

#include <csignal>
#include <cstdlib>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

pid_t g_server = -1;

xcb_window_t rootOf(xcb_connection_t *c, int screen)
{
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    return it.rem ? it.data->root : 0;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : 0;
    std::free(r);
    return a;
}

void setWindows(xcb_connection_t *c, xcb_window_t root, const char *property,
                const QList<uint32_t> &windows)
{
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, atom(c, property), XCB_ATOM_WINDOW, 32,
                        uint32_t(windows.size()), windows.constData());
}

// Starts Xvfb with two screens and returns its display number, -1 on failure.
int startServer()
{
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    g_server = ::fork();
    if (g_server == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(fds[1], 3);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
                 "800x600x24", "-screen", "1", "640x480x24", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char buf[32] = {};
    ssize_t n = 0, got = 0;
    while (got < ssize_t(sizeof buf) - 1 && (n = ::read(fds[0], buf + got, sizeof buf - 1 - got)) > 0) {
        got += n;
        if (memchr(buf, '\n', size_t(got)))
            break;
    }
    ::close(fds[0]);
    return got > 0 ? atoi(buf) : -1;
}

} // namespace

class TestX11XScreens : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theScreenDisplayNamesIsUsed()
    {
        auto *x11 = static_cast<X11Platform *>(Platform::instance());
        QCOMPARE(x11->backendName(), QStringLiteral("x11"));
        xcb_connection_t *c = x11->connection();
        const xcb_window_t first = rootOf(c, 0), second = rootOf(c, 1);
        QVERIFY(first && second && first != second);
        QCOMPARE(quint32(x11->rootWindow()), quint32(second));

        // Each root says something else; we must hear the second.
        setWindows(c, first, "_NET_ACTIVE_WINDOW", {0x111});
        setWindows(c, second, "_NET_ACTIVE_WINDOW", {0x222});
        setWindows(c, first, "_NET_CLIENT_LIST_STACKING", {0x111});
        setWindows(c, second, "_NET_CLIENT_LIST_STACKING", {0x221, 0x222});
        roundTrip(c);
        QTRY_COMPARE(x11->activeWindow(), WId(0x222));
        QCOMPARE(x11->windowsTopFirst(), (QList<WId>{0x222, 0x221}));
    }

private:
    static void roundTrip(xcb_connection_t *c)
    {
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    }
};

int main(int argc, char **argv)
{
    const int display = startServer();
    if (display < 0) {
        std::fprintf(stderr, "FAIL: Xvfb with two screens did not start\n");
        return 1;
    }
    qputenv("DISPLAY", ":" + QByteArray::number(display) + ".1");
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = 1;
    {
        QGuiApplication app(argc, argv);
        TestX11XScreens test;
        result = QTest::qExec(&test, argc, argv);
        Platform::setInstance(nullptr);
    }
    ::kill(g_server, SIGTERM);
    ::waitpid(g_server, nullptr, 0);
    return result;
}

#include "tst_x11xscreens.moc"
