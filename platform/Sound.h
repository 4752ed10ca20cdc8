// Plays the wave file of a nickname or MSN when a call comes in.
//
// Asynchronous, without a default sound, one sound at a time: a new Play stops the one
// before. Errors of the audio system are ignored (a machine without sound just stays
// silent). Owned by the main window; main thread only.
#pragma once

#include <QString>
#include <memory>

class QSoundEffect;

namespace platform {

class Sound
{
public:
    Sound();
    ~Sound();

    // Starts the file and returns at once. A missing or unreadable file does nothing
    // (the sound already playing goes on) and gives false.
    bool Play(const QString &fileName);
    // Stops the sound that is playing, if any. False only when it goes on playing.
    bool Stop();
    bool IsPlaying() const;
    // The file last started (empty when none).
    QString CurrentFile() const;

private:
    std::unique_ptr<QSoundEffect> m_effect;
};

} // namespace platform
