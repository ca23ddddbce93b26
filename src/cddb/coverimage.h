// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

// Why the bytes are no usable cover (too large, not a JPEG or PNG image, cut short, or not decodable), or ""
// when they are one. The image is decoded whole with libjpeg or libpng.
QString CoverImageProblem(const QByteArray &bytes);
