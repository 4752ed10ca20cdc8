#include "platform/Sound.h"

#include <QFileInfo>
#include <QSoundEffect>
#include <QUrl>

namespace platform {

Sound::Sound() = default;

Sound::~Sound()
{
    Stop();
}

bool Sound::Play(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (fileName.isEmpty() || !info.isFile() || !info.isReadable()) return false;
    Stop();
    // A fresh effect per file: changing the source of a playing one is not reliable on
    // every audio backend.
    m_effect = std::make_unique<QSoundEffect>();
    m_effect->setSource(QUrl::fromLocalFile(info.absoluteFilePath()));
    m_effect->play();
    return true;
}

bool Sound::Stop()
{
    if (!m_effect) return true;
    m_effect->stop();
    return !m_effect->isPlaying();
}

bool Sound::IsPlaying() const
{
    return m_effect && m_effect->isPlaying();
}

QString Sound::CurrentFile() const
{
    return m_effect ? m_effect->source().toLocalFile() : QString();
}

} // namespace platform
