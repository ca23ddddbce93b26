// SPDX-License-Identifier: GPL-3.0-or-later
#include "genres.h"

#include "settings.h"

namespace {

// The names in the order the genre lists show them.
const char *const genreNames[] = {"A Cappella",
                                  "Acid",
                                  "Acid Jazz",
                                  "Acid Punk",
                                  "Acoustic",
                                  "Alt. Rock",
                                  "Alternative",
                                  "Ambient",
                                  "Anime",
                                  "Avantgarde",
                                  "Ballad",
                                  "Bass",
                                  "Beat",
                                  "Bebob",
                                  "Big Band",
                                  "Black Metal",
                                  "Bluegrass",
                                  "Blues",
                                  "Booty Bass",
                                  "BritPop",
                                  "Cabaret",
                                  "Celtic",
                                  "Chamber Music",
                                  "Chanson",
                                  "Chorus",
                                  "Christian Gangsta",
                                  "Christian Rap",
                                  "Christian Rock",
                                  "Classic Rock",
                                  "Classical",
                                  "Club",
                                  "Club-House",
                                  "Comedy",
                                  "Contemporary Christian",
                                  "Country",
                                  "Crossover",
                                  "Cult",
                                  "Dance",
                                  "Dance Hall",
                                  "Darkwave",
                                  "Death Metal",
                                  "Disco",
                                  "Dream",
                                  "Drum & Base",
                                  "Drum Solo",
                                  "Duet",
                                  "Easy Listening",
                                  "Electronic",
                                  "Ethnic",
                                  "Eurodance",
                                  "Euro-House",
                                  "Euro-Techno",
                                  "Fast-Fusion",
                                  "Folk",
                                  "Folk/Rock",
                                  "Folklore",
                                  "Freestyle",
                                  "Funk",
                                  "Fusion",
                                  "Game",
                                  "Gangsta Rap",
                                  "Goa",
                                  "Gospel",
                                  "Gothic",
                                  "Gothic Rock",
                                  "Grunge",
                                  "Hard Rock",
                                  "Hardcore",
                                  "Heavy Metal",
                                  "Hip-Hop",
                                  "House",
                                  "Humour",
                                  "Indie",
                                  "Industrial",
                                  "Instrumental",
                                  "Instrumental Pop",
                                  "Instrumental Rock",
                                  "Jazz",
                                  "Jazz+Funk",
                                  "JPop",
                                  "Jungle",
                                  "Latin",
                                  "Lo-Fi",
                                  "Meditative",
                                  "Merengue",
                                  "Metal",
                                  "Musical",
                                  "National Folk",
                                  "Native American",
                                  "Negerpunk",
                                  "New Age",
                                  "New Wave",
                                  "Noise",
                                  "Oldies",
                                  "Opera",
                                  "Other",
                                  "Polka",
                                  "Polsk Punk",
                                  "Pop",
                                  "Pop/Funk",
                                  "Pop-Folk",
                                  "Porn Groove",
                                  "Power Ballad",
                                  "Pranks",
                                  "Primus",
                                  "Progressive Rock",
                                  "Psychedelic",
                                  "Psychedelic Rock",
                                  "Punk",
                                  "Punk Rock",
                                  "R&B",
                                  "Rap",
                                  "Rave",
                                  "Reggae",
                                  "Retro",
                                  "Revival",
                                  "Rhythmic Soul",
                                  "Rock",
                                  "Rock & Roll",
                                  "Salsa",
                                  "Samba",
                                  "Satire",
                                  "Showtunes",
                                  "Ska",
                                  "Slow Jam",
                                  "Slow Rock",
                                  "Sonata",
                                  "Soul",
                                  "Sound Clip",
                                  "Soundtrack",
                                  "Southern Rock",
                                  "Space",
                                  "Speech",
                                  "Swing",
                                  "Symphonic Rock",
                                  "Symphony",
                                  "Synthpop",
                                  "Tango",
                                  "Techno",
                                  "Techno-Industrial",
                                  "Terror",
                                  "Thrash Metal",
                                  "Top 40",
                                  "Trailer",
                                  "Trance",
                                  "Tribal",
                                  "Trip-Hop",
                                  "Vocal"};

} // namespace

const QStringList &GenreNames()
{
    static const QStringList names = [] {
        QStringList list;
        for (const char *name : genreNames)
            list << QString::fromUtf8(name);
        return list;
    }();
    return names;
}

int GenreIndex(const QString &name)
{
    return static_cast<int>(GenreNames().indexOf(name));
}

QString GenreName(int number)
{
    const QStringList &names = GenreNames();
    return number >= 1 && number <= int(names.size()) ? names.at(number - 1) : QString();
}

QString DiscGenre(const TCDInfo &disc)
{
    return disc.Genre > 0 ? GenreName(disc.Genre) : disc.GenreText;
}
