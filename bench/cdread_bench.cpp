// SPDX-License-Identifier: GPL-3.0-or-later
// Reads a whole disc image through the CD access layer in blocks of 10 sectors into one WAV file, the way
// the CD read thread does. Run by cdread.sh beside cd-paranoia.
//   bench_cdread IMAGE.cue OUT.wav
#include "cdrom/cdaccess.h"
#include "jobs/wavheader.h"

#include <QByteArray>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_cdread IMAGE.cue OUT.wav\n");
        return 2;
    }
    qputenv("SONDREL_DISC_IMAGES", argv[1]);
    TCDList list;
    std::memset(&list, 0, sizeof list);
    list.max = 8;
    GetCDList(&list);
    int index = -1;
    for (int i = 0; i < list.num; ++i) {
        if (list.cd[i].ha == 1)
            index = i;
    }
    if (index < 0)
        return 1;
    TGetCDHand request{};
    request.size = 12;
    request.ver = 1;
    request.ha = list.cd[index].ha;
    request.tgt = list.cd[index].tgt;
    const TCdHandle handle = GetCDHandle(&request);
    TToc toc;
    if (!handle || !ModifyCDParms(handle, CDP_MSF, 1) || ReadTOC(handle, &toc) != 1)
        return 1;
    const int entries = toc.lastTrack - toc.firstTrack + 1;
    const uint32_t total = uint32_t(TocEntryFrames(toc.tracks[entries]) - TocEntryFrames(toc.tracks[0]));

    FILE *out = std::fopen(argv[2], "wb");
    if (!out)
        return 1;
    const QByteArray header = CdAudioWavHeader(total * CD_SECTOR_BYTES);
    std::fwrite(header.constData(), 1, size_t(header.size()), out);
    std::vector<uint8_t> memory(24 + 10 * CD_SECTOR_BYTES);
    auto *buffer = reinterpret_cast<TTrackBuf *>(memory.data());
    for (uint32_t start = 0; start < total; start += 10) {
        buffer->startFrame = start;
        buffer->numFrames = std::min<uint32_t>(10, total - start);
        buffer->maxLen = 10 * CD_SECTOR_BYTES;
        if (ReadCDAudioLBA(handle, buffer) != 1)
            return 1;
        std::fwrite(buffer->buf + buffer->startOffset, 1, buffer->len, out);
    }
    std::fclose(out);
    CloseCDHandle(handle);
    return 0;
}
