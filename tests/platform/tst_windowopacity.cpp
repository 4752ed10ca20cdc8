// Whether the popup's transparency can be seen: only while a compositing manager owns the
// X screen's compositor selection. The test plays that manager by taking the selection.
#include "platform/WindowOpacity.h"

#include <QGuiApplication>
#include <QTest>

#include <X11/Xlib.h>

class TestWindowOpacity : public QObject
{
    Q_OBJECT

private slots:
    void followsTheCompositorSelection()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            // No window system that shows opacity.
            QVERIFY(!platform::WindowOpacityAvailable());
            return;
        }
        QVERIFY(!platform::WindowOpacityAvailable());

        // Another client of the same X server, as a compositor would be.
        Display *display = XOpenDisplay(nullptr);
        QVERIFY(display);
        const int screen = DefaultScreen(display);
        const Window window =
            XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 1, 1, 0, 0, 0);
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
        const Atom selection = XInternAtom(display, name.constData(), False);
        XSetSelectionOwner(display, selection, window, CurrentTime);
        XSync(display, False);
        QVERIFY(platform::WindowOpacityAvailable());

        // The compositor ends: its window goes, and with it the selection.
        XDestroyWindow(display, window);
        XSync(display, False);
        QVERIFY(!platform::WindowOpacityAvailable());
        XCloseDisplay(display);
    }
};

QTEST_MAIN(TestWindowOpacity)
#include "tst_windowopacity.moc"
