// SPDX-License-Identifier: GPL-3.0-or-later
#include "convertjob.h"

#include "audio/audioconverter.h"
#include "audio/auexception.h"
#include "audio/decoders.h"
#include "audio/encoderprocess.h"
#include "audio/outputcheck.h"
#include "convertlane.h"
#include "filewriters.h"
#include "replaygain.h"
#include "shell/childprocess.h"
#include "shell/helpers.h"
#include "shell/localizedtext.h"
#include "shell/outputformats.h"
#include "shell/userprompt.h"
#include "shell/workingfile.h"
#include "tags/tagcopy.h"
#include "wavein.h"
#include "waveout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <atomic>
#include <cstring>
#include <thread>
#include <unistd.h>
#include <utility>

void TConvertJob::planTargets()
{
    m_refused.assign(m_items.size(), false);
    m_loudness.assign(m_items.size(), nullptr);
    QHash<QString, size_t> makers;  // a target, by the item that makes it
    QHash<QString, size_t> sources; // a source, by its item
    for (size_t i = 0; i < m_items.size(); ++i)
        sources.insert(QDir::cleanPath(m_items[i].Source), i);
    for (size_t i = 0; i < m_items.size(); ++i) {
        const QString target = QDir::cleanPath(m_items[i].Target);
        if (target == QDir::cleanPath(m_items[i].Source))
            continue; // its own source: refused when its turn comes
        QString why;
        if (sources.contains(target))
            why = QStringLiteral("also an input of this conversion");
        else if (const auto maker = makers.constFind(target); maker != makers.constEnd())
            why = QStringLiteral("also the output of ") + m_items[*maker].Source;
        if (why.isEmpty()) {
            makers.insert(target, i);
            continue;
        }
        m_refused[i] = true;
        m_presenter.ShowError(m_items[i].Target + QStringLiteral(": ") + why + QStringLiteral("; ") +
                              m_items[i].Source + QStringLiteral(" skipped"));
    }
}

void TConvertJob::Start()
{
    m_clock.start();
    m_presenter.SetStage(LocalizedText("RES_Encoding", "Encoding"));
    planTargets();
    showProgress();
    for (auto &lane : m_lanes)
        if (!m_finished)
            startNext(*lane);
}

bool TConvertJob::wanted(size_t index)
{
    const TConvertItem &item = m_items[index];
    if (m_refused[index]) {
        ++m_failed;
        return false;
    }
    const QFileInfo target(item.Target);
    if (SameFile(item.Source, item.Target)) {
        m_presenter.ShowError(item.Target + QStringLiteral(": the output would overwrite the input"));
        ++m_failed;
        return false;
    }
    if (!target.exists())
        return true;
    // Up to date, unless a run that made it ended before its album values were written.
    if (Update && target.lastModified() >= QFileInfo(item.Source).lastModified() &&
        !(ReplayGain && MeasuresLoudness(item.Target) && AlbumGainMissing(item.Target))) {
        ++m_kept;
        return false;
    }
    const QString question = ReplaceQuestion(item.Target);
    if (!Update && (!m_prompt || !m_prompt->Question(QStringLiteral("Sondrel"), question))) {
        ++m_kept;
        m_presenter.FileKept(item.Target);
        return false;
    }
    return true;
}

void TConvertJob::startNext(Lane &lane)
{
    while (m_next < m_items.size() && !m_finished) {
        const size_t index = m_next++;
        if (!wanted(index)) {
            ++m_done;
            showProgress();
            continue;
        }
        m_presenter.SetCaption(
            QStringLiteral("Encoding(%1/%2): %3")
                .arg(TwoDigits(int(index) + 1), TwoDigits(int(m_items.size())), m_items[index].Source));
        lane.Start(int(index));
        return;
    }
    for (const auto &other : m_lanes)
        if (other->Busy())
            return;
    wholeDone();
}

void TConvertJob::wholeDone()
{
    // Every item must have ended (a lane's failure may still be on its way while no lane is busy), and the
    // album values are written once.
    if (size_t(m_done) < m_items.size() || m_replayGain)
        return;
    // By folder and format, each album's files in the order of the items, with the loudness measured as
    // each was made (the album's is that of all their blocks together, whatever order the lanes ended in).
    struct Album {
        QStringList Files;
        std::vector<std::shared_ptr<TFileLoudness>> Loudness;
    };
    QMap<QString, Album> albums;
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (!m_loudness[i])
            continue;
        const QFileInfo target(m_items[i].Target);
        Album &album = albums[target.path() + QLatin1Char('.') + target.suffix().toLower()];
        album.Files << m_items[i].Target;
        album.Loudness.push_back(m_loudness[i]);
    }
    if (!ReplayGain || albums.isEmpty()) {
        finish(mrCancel);
        return;
    }
    // Each file's album values by an edit of its own (the file is whole either way); a file left without
    // them is made again by the next update.
    m_replayGain = std::make_unique<TReplayGainJob>(
        [albums = albums.values()](const std::atomic<bool> &stop) {
            QStringList failures;
            for (const Album &album : albums) {
                std::vector<const TFileLoudness *> all;
                for (const auto &loudness : album.Loudness)
                    all.push_back(loudness.get());
                TLoudness together;
                if (!AlbumLoudness(all, &together))
                    continue;
                for (const QString &file : album.Files) {
                    if (stop)
                        return failures;
                    QString error;
                    if (!SetFileTagFields(file, AlbumGainFields(file, together), &error))
                        failures << error;
                }
            }
            return failures;
        },
        m_presenter, [this] { finish(mrCancel); });
    m_replayGain->Start();
}

void TConvertJob::itemEnded(Lane &lane, bool made, bool skipped)
{
    ++m_done;
    ++(made ? m_made : skipped ? m_kept : m_failed);
    showProgress();
    // The next file starts from the event loop: an end reported inside a start does not nest the next.
    QMetaObject::invokeMethod(
        this, [this, &lane] { startNext(lane); }, Qt::QueuedConnection);
}

void TConvertJob::showProgress()
{
    const int total = int(m_items.size());
    const int percent = total > 0 ? m_done * 100 / total : 100;
    const TProcessInfo notice = ProgressNotice(percent, double(m_clock.elapsed()) / 1000.0);
    m_presenter.SetElapsed(notice.Elapsed);
    m_presenter.SetEstimated(notice.Estimated);
    m_presenter.SetGauge(percent, true);
}

void TConvertJob::finish(int result)
{
    if (m_finished)
        return;
    m_finished = true;
    // The files held for their album values are free again, written or not.
    if (m_replayGain)
        m_replayGain->CleanUp();
    for (size_t i = 0; i < m_loudness.size(); ++i)
        if (const QString held = ClaimedWorkingFileOf(m_items[i].Target); m_loudness[i] && !held.isEmpty())
            DiscardWorkingFile(held, m_items[i].Target);
    m_presenter.Finish(result);
}

void TConvertJob::Stop()
{
    CleanUp();
    finish(mrAbort);
}

void TConvertJob::CleanUp()
{
    for (auto &lane : m_lanes)
        lane->stop();
    if (m_replayGain)
        m_replayGain->CleanUp();
}
