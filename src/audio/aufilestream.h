// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFile>
#include <cstdint>

// A file opened the way the audio components open files. The sharing bits of the mode become advisory
// locks (flock) that the program's own "file in use" checks see:
//   fmCreate (0xFFFF)        create anew, read and write, shared with nobody (exclusive lock)
//   other modes              open an existing file; access in the low two bits (fmOpenRead, fmOpenWrite,
//                            fmOpenReadWrite), sharing in bits 4 to 7:
//                            fmShareCompat, fmShareExclusive, fmShareDenyRead  exclusive lock
//                            fmShareDenyWrite                                 shared lock (readers only)
//                            fmShareDenyNone                                  no lock
// A failed open raises EAuException with the operating system's text for the error. A file opened for
// writing is unbuffered and writes all it is given or fails with the system's reason: a buffered write
// would fail only when flushed, too late to tell (and Qt would then write the rest at the wrong place).
class TAuFileStream final : public QFile {
    Q_OBJECT
public:
    static constexpr uint16_t fmCreate = 0xFFFF;
    static constexpr uint16_t fmOpenRead = 0x0000;
    static constexpr uint16_t fmOpenWrite = 0x0001;
    static constexpr uint16_t fmOpenReadWrite = 0x0002;
    static constexpr uint16_t fmShareCompat = 0x0000;
    static constexpr uint16_t fmShareExclusive = 0x0010;
    static constexpr uint16_t fmShareDenyWrite = 0x0020;
    static constexpr uint16_t fmShareDenyRead = 0x0030;
    static constexpr uint16_t fmShareDenyNone = 0x0040;

    TAuFileStream(const QString &fileName, uint16_t mode);

protected:
    qint64 writeData(const char *data, qint64 len) override;
};
