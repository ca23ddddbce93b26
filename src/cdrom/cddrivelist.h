// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>

// The drives the program can read: the machine's real CD drives first, in libcdio's order, then disc images
// standing in as virtual drives: every image (CUE/BIN, cdrdao TOC, NRG) in DataFolder() + "Disc images/",
// then those named in the colon-separated variable SONDREL_DISC_IMAGES (a folder there stands for the
// images in it), each group in file-name order. Thread-safe.
struct CdDriveEntry {
    QString vendor;  // "Image" for a disc image
    QString product; // the drive's model, or the image's file name
    QString revision;
    QString path; // device or image path
    bool isImage = false;
    bool readable = true; // false: the device exists but cannot be opened (see problem)
    QString problem;
};

QList<CdDriveEntry> CdDriveList();

// Why a real drive cannot be used, naming the device and the cause; empty when the last listing found no
// such problem.
QString CdDriveProblem();

// A disc image listed after the others from now on (the command line's -d PATH); listed once however often
// it is added.
void AddCdImage(const QString &path);

// Tests leave the machine's own drives out so that only their images are listed.
void SetRealCdDrivesEnabled(bool enabled);
