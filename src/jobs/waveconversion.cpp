// SPDX-License-Identifier: GPL-3.0-or-later
#include "waveconversion.h"

#include "audio/audioconverter.h"
#include "audio/fastresampler.h"
#include "audio/resampler.h"
#include "wavein.h"
#include "waveout.h"

void ApplyWaveConversion(const TWaveConversion &conversion, TWaveIn &in, TRateConverter &resampler,
                         TAudioConverter &converter, TWaveOut &out)
{
    converter.OutBitsPerSample = 0;
    converter.OutChannels = 0;
    if (conversion.BitsPerSample != in.GetBitsPerSample())
        converter.OutBitsPerSample = conversion.BitsPerSample;
    if (conversion.Channels != in.GetChannels())
        converter.OutChannels = conversion.Channels;
    resampler.SetInput(&in);
    converter.SetInput(&resampler);
    resampler.OutSampleRate = conversion.SampleRate;
    out.SetWavType(conversion.ImaAdpcm ? wtDVIADPCM : wtPCM);
    out.SetBlockSize(512);
    out.FileMode = foRewrite;
}
