// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class TWaveIn;
class TRateConverter;
class TAudioConverter;
class TWaveOut;

// What a WAV to WAV conversion (the wave file converter and sondrel-cli resample) makes of its input.
struct TWaveConversion {
    int SampleRate = 22050;
    int Channels = 1;
    int BitsPerSample = 8;
    bool ImaAdpcm = false; // DVI IMA ADPCM instead of raw PCM
};

// Sets up the chain in → resampler → converter → out for a conversion of the (valid, opened) input, through
// the resampler given (the fast or the high-quality one). A
// channel count or width equal to the input's leaves that part of the converter at 0, so it passes the data
// through; the resampler passes through at the input's own rate.
void ApplyWaveConversion(const TWaveConversion &conversion, TWaveIn &in, TRateConverter &resampler,
                         TAudioConverter &converter, TWaveOut &out);
