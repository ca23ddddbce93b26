// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

typedef struct _snd_pcm snd_pcm_t;

// What the ALSA output and capture share: the device list, the sample format of a bit depth, error texts
// and the hardware set-up of an interleaved PCM.

// ALSA prints its own diagnostics to standard error; the program says what failed itself.
void SilenceAlsaOnce();
QString AlsaText(int error);

// "default" first, then the PCM devices ALSA's hints name for that direction (or for both), at most 17.
QStringList AlsaDeviceNames(bool capture);

// Opens the named device for playback or capture; on failure *error has ALSA's reason and nullptr returns.
snd_pcm_t *OpenAlsaPcm(const QString &name, bool capture, QString *error);

// Interleaved little-endian integer samples of 8 (unsigned), 16, 24 (three bytes) or 32 bits. The rate is
// the nearest the device offers (*rate is updated); buffer and period sizes in frames, also updated.
// Returns 0 or ALSA's negative error code.
// Playback starts once startFrames are written; a wait for room ends when availMin frames are free.
int SetAlsaSoftware(snd_pcm_t *pcm, unsigned long startFrames, unsigned long availMin);
int SetAlsaHardware(snd_pcm_t *pcm, int bits, int channels, unsigned *rate, unsigned long *bufferFrames,
                    unsigned long *periodFrames);
