#pragma once

#include <QString>

// Everything Varlo asks of the desktop goes through this interface. The
// backend is chosen once from QGuiApplication::platformName(): "xcb" gets the
// X11 backend, anything else (the offscreen platform of the tests) the fake.
// Backends answer questions and carry out requests; the rules that decide what
// to ask live above this layer.
class Platform
{
public:
    virtual ~Platform();

    /** The backend for this process, created on first use after the QGuiApplication. */
    static Platform *instance();
    /** Replaces the backend (tests); takes ownership. nullptr goes back to the automatic choice. */
    static void setInstance(Platform *platform);

    /**
     * Whether an X display can be reached, asked before the application object
     * exists. False with a one-line reason when DISPLAY is unset or the server
     * refuses; true when another Qt platform was asked for explicitly.
     */
    static bool displayReachable(QString *reason);

    /** "x11" or "fake". */
    virtual QString backendName() const = 0;

    /** The system version the window rules are keyed on; both backends report 10. */
    virtual int osMajorVersion() const { return 10; }

protected:
    Platform() = default;
};
