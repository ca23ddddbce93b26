// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// The 148 genre names in their fixed order. A genre number n from 1 to 148 is GenreNames()[n - 1]; 0 means
// no genre. Every genre drop-down list shows an empty item followed by these names.
const QStringList &GenreNames();

// Position (0 to 147) of the first name equal to the given one (case-sensitive), or -1.
int GenreIndex(const QString &name);

// The name of genre number n (1 to 148); empty for 0 and anything outside the list.
QString GenreName(int number);
// The disc's genre: the list's name for Genre, else its own text (GenreText).
QString DiscGenre(const struct TCDInfo &disc);
