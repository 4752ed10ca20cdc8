// Finding and opening the help file; the desktop's viewer is replaced by a URL handler.
#include "platform/Help.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace platform;

class TestHelp : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_current;
    QString m_data;
    QString m_previous;
    QList<QUrl> m_opened;

    static void touch(const QString &path)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n");
    }

public slots:
    // Called by QDesktopServices by name (its handler API).
    void openUrl(const QUrl &url) { m_opened << url; }

private slots:
    void initTestCase()
    {
        QDesktopServices::setUrlHandler("file", this, "openUrl");
        m_previous = QDir::currentPath();
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler("file");
        QDir::setCurrent(m_previous);
    }
    void init()
    {
        static int n = 0;
        ++n;
        m_current = m_dir.filePath(QString("cwd%1").arg(n));
        m_data = m_dir.filePath(QString("data%1").arg(n));
        QVERIFY(QDir().mkpath(m_current));
        QVERIFY(QDir().mkpath(m_data));
        QVERIFY(QDir::setCurrent(m_current));
        m_opened.clear();
    }

    void namesByLanguage()
    {
        QCOMPARE(HelpFileName(true), QString("Corvane_e.pdf"));
        QCOMPARE(HelpFileName(false), QString("Corvane_g.pdf"));
    }

    void searchOrder()
    {
        const QStringList dirs = HelpSearchDirectories(m_data);
        QCOMPARE(dirs.size(), 4);
        QCOMPARE(dirs.at(0), QDir::currentPath());
        QCOMPARE(dirs.at(1), m_data);
        // share/corvane beside the program's folder (build/share/corvane for build/app).
        QCOMPARE(dirs.at(2), QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                             "/../share/corvane"));
        QVERIFY(QDir::isAbsolutePath(dirs.at(3)));
        QVERIFY(dirs.at(3).endsWith("/share/corvane"));
        QCOMPARE(HelpSearchDirectories(QString()).size(), 3);
    }

    void currentDirectoryComesFirst()
    {
        touch(m_current + "/Corvane_e.pdf");
        touch(m_data + "/Corvane_e.pdf");
        QVERIFY(OpenHelp(true, m_data));
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(m_current + "/Corvane_e.pdf")});
    }

    void dataDirectoryWhenNotInCurrent()
    {
        touch(m_data + "/Corvane_g.pdf");
        touch(m_current + "/Corvane_e.pdf"); // the other language does not count
        QVERIFY(OpenHelp(false, m_data));
        QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(m_data + "/Corvane_g.pdf")});
    }

    void missingFileOpensNothing()
    {
        QVERIFY(QDir(m_current).mkdir("Corvane_g.pdf")); // a directory is no file
        QVERIFY(!OpenHelp(false, m_data));
        QVERIFY(m_opened.isEmpty());
        QCOMPARE(FindHelpFile("Corvane_g.pdf", {m_current, m_data}), QString());
    }
};

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
