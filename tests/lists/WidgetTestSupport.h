#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// Modal windows run their own event loop; a test acts inside it. whenModal runs the action
// once a modal window of type W is in front, and gives up after a few seconds so that a
// window that never opens fails the test instead of hanging it. The returned flag tells
// whether the action ran. A window the action leaves open (a failed check returns early) is
// closed, so the test goes on.
template <class W>
std::shared_ptr<bool> whenModal(std::function<void(W *)> action, int timeoutMs = 5000)
{
    auto ran = std::make_shared<bool>(false);
    auto *timer = new QTimer;
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, [timer, action, ran, deadline] {
        W *window = qobject_cast<W *>(QApplication::activeModalWidget());
        if (!window && !deadline.hasExpired()) return;
        timer->stop();
        timer->deleteLater();
        if (window) {
            *ran = true;
            QPointer<W> guard(window);
            action(window);
            if (guard && guard->isVisible())
                guard->close();
        }
    });
    timer->start(5);
    return ran;
}

template <class W> W *child(QObject *parent, const char *name)
{
    return parent->findChild<W *>(QLatin1String(name));
}
