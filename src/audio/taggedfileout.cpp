// SPDX-License-Identifier: GPL-3.0-or-later
#include "taggedfileout.h"

#include "auexception.h"
#include "aufilestream.h"
#include "tags/tracktags.h"

void TTaggedFileOut::SetTags(const TTrackTags &tags)
{
    TTrackTags withoutCover = tags;
    withoutCover.Cover.clear();
    SetVorbisComments(Comments, withoutCover);
    Cover = tags.Cover;
}

int TTaggedFileOut::openRun(const char *format)
{
    if (m_fileName.isEmpty())
        throw EAuException(QStringLiteral("File name is not assigned."));
    TAuInput *input = Input();
    input->Init();
    m_channels = input->GetChannels();
    m_bits = input->GetBitsPerSample();
    if (m_bits != 8 && m_bits != 16 && m_bits != 24 && m_bits != 32)
        throw EAuException(QStringLiteral("%1 files take 8, 16, 24 or 32 bits a sample, not %2")
                               .arg(QLatin1String(format))
                               .arg(m_bits));
    if (m_channels < 1 || m_channels > 8)
        throw EAuException(QStringLiteral("%1 files take 1 to 8 channels, not %2")
                               .arg(QLatin1String(format))
                               .arg(m_channels));
    try {
        m_file = std::make_unique<TAuFileStream>(m_fileName, TAuFileStream::fmCreate);
    } catch (const std::exception &e) {
        throw EAuException(m_fileName + QStringLiteral(": ") + QString::fromLocal8Bit(e.what()));
    }
    return input->GetSampleRate();
}

void TTaggedFileOut::closeRun()
{
    m_file.reset();
    if (Input())
        Input()->Flush();
    Comments.Clear();
    Cover.clear();
}
