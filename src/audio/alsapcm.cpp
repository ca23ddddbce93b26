// SPDX-License-Identifier: GPL-3.0-or-later
#include "alsapcm.h"

#include <algorithm>
#include <alsa/asoundlib.h>
#include <cstring>

namespace {

void quietAlsa(const char *, int, const char *, int, const char *, ...) {}

snd_pcm_format_t formatOf(int bits)
{
    switch (bits) {
    case 8:
        return SND_PCM_FORMAT_U8;
    case 16:
        return SND_PCM_FORMAT_S16_LE;
    case 24:
        return SND_PCM_FORMAT_S24_3LE;
    case 32:
        return SND_PCM_FORMAT_S32_LE;
    default:
        return SND_PCM_FORMAT_UNKNOWN;
    }
}

} // namespace

void SilenceAlsaOnce()
{
    static const bool done = [] {
        snd_lib_error_set_handler(quietAlsa);
        return true;
    }();
    (void)done;
}

QString AlsaText(int error)
{
    return QString::fromLocal8Bit(snd_strerror(error));
}

QStringList AlsaDeviceNames(bool capture)
{
    SilenceAlsaOnce();
    QStringList names{QStringLiteral("default")};
    void **hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) == 0) {
        const char *direction = capture ? "Input" : "Output";
        for (void **hint = hints; *hint; ++hint) {
            char *name = snd_device_name_get_hint(*hint, "NAME");
            char *io = snd_device_name_get_hint(*hint, "IOID");
            // Devices for this direction, or for both (no IOID).
            if (name && (!io || std::strcmp(io, direction) == 0)) {
                const QString text = QString::fromLocal8Bit(name);
                if (!names.contains(text) && names.size() < 17)
                    names << text;
            }
            std::free(name);
            std::free(io);
        }
        snd_device_name_free_hint(hints);
    }
    return names;
}

snd_pcm_t *OpenAlsaPcm(const QString &name, bool capture, QString *error)
{
    SilenceAlsaOnce();
    snd_pcm_t *pcm = nullptr;
    const int result = snd_pcm_open(&pcm, name.toLocal8Bit().constData(),
                                    capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK, 0);
    if (result < 0) {
        // Named as Linux names it: ALSA, the device, the reason.
        if (error)
            *error = QStringLiteral("ALSA %1 device \"%2\": %3")
                         .arg(capture ? QStringLiteral("capture") : QStringLiteral("playback"), name,
                              AlsaText(result));
        return nullptr;
    }
    return pcm;
}

int SetAlsaHardware(snd_pcm_t *pcm, int bits, int channels, unsigned *rate, unsigned long *bufferFrames,
                    unsigned long *periodFrames)
{
    snd_pcm_hw_params_t *hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_uframes_t buffer = *bufferFrames;
    snd_pcm_uframes_t period = *periodFrames;
    int error = 0;
    if ((error = snd_pcm_hw_params_any(pcm, hw)) < 0 ||
        (error = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (error = snd_pcm_hw_params_set_format(pcm, hw, formatOf(bits))) < 0 ||
        (error = snd_pcm_hw_params_set_channels(pcm, hw, unsigned(channels))) < 0 ||
        (error = snd_pcm_hw_params_set_rate_near(pcm, hw, rate, nullptr)) < 0 ||
        (error = snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer)) < 0 ||
        (error = snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr)) < 0 ||
        (error = snd_pcm_hw_params(pcm, hw)) < 0)
        return error;
    *bufferFrames = buffer;
    *periodFrames = period;
    return 0;
}

int SetAlsaSoftware(snd_pcm_t *pcm, unsigned long startFrames, unsigned long availMin)
{
    snd_pcm_sw_params_t *sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    int error = 0;
    if ((error = snd_pcm_sw_params_current(pcm, sw)) < 0 ||
        (error = snd_pcm_sw_params_set_start_threshold(pcm, sw, snd_pcm_uframes_t(startFrames))) < 0 ||
        (error = snd_pcm_sw_params_set_avail_min(pcm, sw, snd_pcm_uframes_t(std::max(availMin, 1UL)))) < 0 ||
        (error = snd_pcm_sw_params(pcm, sw)) < 0)
        return error;
    return 0;
}
