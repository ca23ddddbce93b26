// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

// The audio compression calls the WAV reader converts compressed WAV data with, as a small layer of our own
// over libmpg123. It converts MPEG Layer-3 data (format tag 0x55) to 16-bit PCM at the stream's own rate
// and channels; every other conversion is reported as not possible. Results are 0 on success, else an
// error code below.

#pragma pack(push, 1)
struct TWaveFormatEx {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

struct TAcmStreamHeader {
    uint32_t cbStruct;
    uint32_t fdwStatus;
    uintptr_t dwUser;
    uint8_t *pbSrc;
    uint32_t cbSrcLength;
    uint32_t cbSrcLengthUsed;
    uintptr_t dwSrcUser;
    uint8_t *pbDst;
    uint32_t cbDstLength;
    uint32_t cbDstLengthUsed;
    uintptr_t dwDstUser;
};

struct AcmStream;
using HACMSTREAM = AcmStream *;

constexpr uint32_t MMSYSERR_NOERROR = 0;
constexpr uint32_t MMSYSERR_INVALHANDLE = 5;
constexpr uint32_t MMSYSERR_INVALPARAM = 11;
constexpr uint32_t MMSYSERR_NOMEM = 7;
constexpr uint32_t ACMERR_NOTPOSSIBLE = 512;
constexpr uint32_t ACMERR_UNPREPARED = 514;

constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;
constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x10000;
constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 4;
constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0;
constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 4;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

// The largest format block the layer uses, in bytes.
uint32_t acmMetrics(void *object, uint32_t metric, uint32_t *value);
// Fills dst for src; with ACM_FORMATSUGGESTF_WFORMATTAG only dst's format tag is fixed by the caller.
uint32_t acmFormatSuggest(void *driver, const TWaveFormatEx *src, TWaveFormatEx *dst, uint32_t dstSize,
                          uint32_t flags);
uint32_t acmStreamOpen(HACMSTREAM *stream, void *driver, const TWaveFormatEx *src, const TWaveFormatEx *dst,
                       void *filter, uintptr_t callback, uintptr_t instance, uint32_t flags);
// The destination bytes a conversion of sourceBytes of the stream's own data will need.
uint32_t acmStreamSize(HACMSTREAM stream, uint32_t sourceBytes, uint32_t *destinationBytes, uint32_t flags);
uint32_t acmStreamPrepareHeader(HACMSTREAM stream, TAcmStreamHeader *header, uint32_t flags);
// Converts the whole source buffer of the header in one call.
uint32_t acmStreamConvert(HACMSTREAM stream, TAcmStreamHeader *header, uint32_t flags);
uint32_t acmStreamUnprepareHeader(HACMSTREAM stream, TAcmStreamHeader *header, uint32_t flags);
uint32_t acmStreamClose(HACMSTREAM stream, uint32_t flags);
