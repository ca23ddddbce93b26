// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>

// Working files: the hidden name a file is written under until it is complete, beside the file the path leads
// to (a symbolic link is followed, so the link stays and its target is replaced):
//
//     "." + name + "." + 16 hexadecimal digits of the claim's time + "-" + 8 of the process id + ".part"
//
// (the name cut to fit within 255 bytes). Each is made anew, exclusively, so no two writers, threads or
// processes, ever share one, and the process that made it holds an open-file lock on it until it is settled:
// a working file nobody holds is what a killed run left, and the next claim of the same file removes it. A
// path that names something other than a regular file (a device such as /dev/full, a pipe) has no working
// file: it is its own, and it is written directly; such a thing is never replaced by renaming over it.
//
// All of these are thread-safe.

// Makes the working file of path and holds it; a claim of a path this process holds already gives that
// working file again. Empty on failure, *error then saying "PATH: reason": the system's reason, or "another
// run is writing this file" when a claim made earlier by another live process holds the same path (*busy is
// then true). Working files of that path left by runs that ended without settling them are removed here.
QString ClaimWorkingFile(const QString &path, QString *error = nullptr, bool *busy = nullptr);
// The working file this process holds for the path, or empty.
QString ClaimedWorkingFileOf(const QString &path);
// The working file of path: the one held (ClaimedWorkingFileOf), else a new claim; when no claim can be made
// a unique name all the same, whose writer then fails with the system's reason.
QString WorkingFileOf(const QString &path);

// Makes a complete working file the file itself (replacing what was there). On failure the working file is
// removed and *error (when given) says "PATH: cannot be written: reason". Nothing to do when the working file
// is the path itself (see WorkingFileOf). The claim ends either way.
bool CommitWorkingFile(const QString &working, const QString &path, QString *error = nullptr);
// The same for an edit of a file that exists: the working file replaces the entry the path names only while
// that entry is still the file the edit began from (device and inode as `identity` holds them), never a
// link or another file put in its place meanwhile; otherwise the working file goes and *error says
// "PATH: it was replaced while it was being changed".
struct TFileIdentity {
    uint64_t Device = 0;
    uint64_t Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    bool Valid() const { return Device != 0 || Inode != 0; }
    bool SameFile(const TFileIdentity &other) const { return Device == other.Device && Inode == other.Inode; }
    // The same file, unchanged since (a file rewritten in place has another size or time).
    bool operator==(const TFileIdentity &other) const = default;
};
// The identity of the regular file at path, the path itself (a link is not followed); invalid when it is
// not a regular file.
TFileIdentity RegularFileIdentity(const QString &path);
// The identity of what the path leads to (links followed); invalid when nothing is there.
TFileIdentity FileIdentityOf(const QString &path);
bool CommitWorkingFileOver(const QString &working, const QString &path, const TFileIdentity &identity,
                           QString *error = nullptr);
// Removes what was written under the working name of a run that did not complete (never the path itself),
// and ends its claim.
void DiscardWorkingFile(const QString &working, const QString &path);
// Ends the writing of a working file: a complete one becomes the file, anything else is discarded. True when
// the file is now there; *error is set only when a complete file could not be put in place.
bool SettleWorkingFile(const QString &working, const QString &path, bool complete, QString *error = nullptr);

// CommitWorkingFile for a file the run goes on changing (its album values still to come): a new claim of the
// path is made and held before the working file takes its name, so that no other run ever finds the path
// unclaimed and makes it anew meanwhile. The claim lasts until it is discarded or settled.
bool CommitWorkingFileHolding(const QString &working, const QString &path, QString *error = nullptr);

// Removes a file this process put in place (CommitWorkingFile) and nobody has replaced since: true when it
// went. Another run's file of the same name, or one that was there before, stays. For the files a run makes
// on the way (a rip's WAVs) and removes when done.
bool RemoveMadeFile(const QString &path);

// Gives the open file fd (the working file of an edit) the permissions of the file at original, and its
// owner and group as far as we may set them (only root gives files away; otherwise the file is the user's, as
// any file they write). True when done or when original does not exist; false with errno set when the
// permissions cannot be set.
bool TakeFileAttributes(int fd, const QString &original);
