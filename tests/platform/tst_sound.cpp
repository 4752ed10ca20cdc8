// Wave files without sound hardware: nothing blocks, nothing crashes, Stop succeeds.
#include "platform/Sound.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>
#include <unistd.h>

using namespace platform;

namespace {

// A mono 16-bit PCM wave file of the given length.
bool writeWave(const QString &path, int milliseconds)
{
    const quint32 rate = 8000;
    const quint32 samples = rate * quint32(milliseconds) / 1000;
    const quint32 dataBytes = samples * 2;
    QByteArray b;
    const auto u32 = [&b](quint32 v) {
        char x[4];
        qToLittleEndian(v, x);
        b.append(x, 4);
    };
    const auto u16 = [&b](quint16 v) {
        char x[2];
        qToLittleEndian(v, x);
        b.append(x, 2);
    };
    b += "RIFF";
    u32(36 + dataBytes);
    b += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(1); // mono
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    b += "data";
    u32(dataBytes);
    for (quint32 i = 0; i < samples; ++i)
        u16(quint16(qint16((i % 20) < 10 ? 3000 : -3000)));
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}

} // namespace

class TestSound : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void playDoesNotBlockAndStops()
    {
        const QString wave = m_dir.filePath("ring.wav");
        QVERIFY(writeWave(wave, 3000));
        Sound sound;
        QVERIFY(sound.Stop()); // nothing playing yet

        QElapsedTimer timer;
        timer.start();
        QVERIFY(sound.Play(wave));
        QVERIFY2(timer.elapsed() < 1000, "Play waited for the sound");
        QCOMPARE(sound.CurrentFile(), wave);
        QTest::qWait(100); // let the audio side load or fail
        QVERIFY(sound.Stop());
        QVERIFY(!sound.IsPlaying());
        QVERIFY(sound.Stop());
    }

    void newSoundReplacesThePrevious()
    {
        const QString first = m_dir.filePath("first.wav");
        const QString second = m_dir.filePath("second.wav");
        QVERIFY(writeWave(first, 2000));
        QVERIFY(writeWave(second, 2000));
        Sound sound;
        QVERIFY(sound.Play(first));
        QVERIFY(sound.Play(second));
        QCOMPARE(sound.CurrentFile(), second);
        QTest::qWait(50);
        QVERIFY(sound.Stop());
    }

    void missingOrUnusableFilesDoNothing()
    {
        const QString wave = m_dir.filePath("keep.wav");
        QVERIFY(writeWave(wave, 1000));
        Sound sound;
        QVERIFY(sound.Play(wave));

        QVERIFY(!sound.Play(m_dir.filePath("missing.wav")));
        QVERIFY(!sound.Play(QString()));
        QVERIFY(!sound.Play(m_dir.path())); // a directory
        // The sound that was started goes on.
        QCOMPARE(sound.CurrentFile(), wave);

        if (::geteuid() != 0) {
            const QString locked = m_dir.filePath("locked.wav");
            QVERIFY(writeWave(locked, 100));
            QVERIFY(QFile::setPermissions(locked, QFile::WriteOwner));
            QVERIFY(!sound.Play(locked));
            QCOMPARE(sound.CurrentFile(), wave);
        }
    }

    void garbageFileIsIgnored()
    {
        const QString junk = m_dir.filePath("junk.wav");
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF\xff\xff\xff\xffWAVEnot really a wave file");
        f.close();
        Sound sound;
        // Readable, so it is handed on; the audio side fails quietly.
        QVERIFY(sound.Play(junk));
        QTest::qWait(100);
        QVERIFY(sound.Stop());
    }
};

QTEST_MAIN(TestSound)
#include "tst_sound.moc"
