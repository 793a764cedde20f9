#pragma once
// Outside programs driving the X display in end-to-end tests (xdotool and the like).

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTest>

// Runs `program` to its end while our event loop keeps turning, as a running application's
// would, so what it causes is handled as it happens. False when it fails or outlives
// `timeoutMs` (it is killed then). Its standard output goes to `out`.
inline bool runTool(const QString& program, const QStringList& args, QByteArray* out = nullptr,
                    int timeoutMs = 10000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!QTest::qWaitFor([&p] { return p.state() == QProcess::NotRunning; }, timeoutMs)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (out != nullptr) {
        *out = p.readAllStandardOutput();
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

inline bool xdotool(const QStringList& args, QByteArray* out = nullptr) {
    return runTool(QStringLiteral("xdotool"), args, out);
}

// Moves the pointer to `at` (X server pixels), then clicks there once the move has arrived,
// and lets the press reach us.
inline bool clickAt(QPoint at, int button = 1) {
    const bool ok =
        xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())}) &&
        xdotool({QStringLiteral("click"), QString::number(button)});
    QTest::qWait(30);
    return ok;
}

// The visible windows of process `pid`, as the X server places them. Empty when none.
inline QList<QRect> visibleWindowsOf(qint64 pid) {
    QByteArray ids;
    QList<QRect> windows;
    // xdotool fails when it finds nothing.
    if (!xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--pid"), QString::number(pid)},
                 &ids)) {
        return windows;
    }
    for (const QByteArray& id : ids.split('\n')) {
        QByteArray shell;
        if (id.isEmpty() || !xdotool({QStringLiteral("getwindowgeometry"),
                                      QStringLiteral("--shell"), QString::fromLatin1(id)},
                                     &shell)) {
            continue;
        }
        QMap<QByteArray, int> g;
        for (const QByteArray& line : shell.split('\n')) {
            const auto parts = line.split('=');
            if (parts.size() == 2) {
                g[parts[0]] = parts[1].toInt();
            }
        }
        windows.append(QRect(g.value("X"), g.value("Y"), g.value("WIDTH"), g.value("HEIGHT")));
    }
    return windows;
}
