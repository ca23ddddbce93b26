// SPDX-License-Identifier: GPL-3.0-or-later
#include "tags/commontags.h"
#include "tags/vorbistags.h"

#include <gtest/gtest.h>

namespace {

TEST(TagSets, VorbisNamesEnumerateInCaseFreeAlphabeticalOrder)
{
    TVorbisTags tags;
    QStringList names;
    for (int i = 0; i < tags.Count(); ++i)
        names << tags.NameAt(i);
    EXPECT_EQ(names,
              QStringList({"album", "albumartist", "artist", "barcode", "comment", "date", "deemphasis",
                           "discnumber", "genre", "isrc", "metadata_block_picture", "replaygain_album_gain",
                           "replaygain_album_peak", "replaygain_reference_loudness", "replaygain_track_gain",
                           "replaygain_track_peak", "title", "tracknumber", "tracktotal"}));
    EXPECT_EQ(tags.NameAt(-1), "");
    EXPECT_EQ(tags.NameAt(19), "");

    TCommonTags common;
    QStringList commonNames;
    for (int i = 0; i < common.Count(); ++i)
        commonNames << common.NameAt(i);
    EXPECT_EQ(commonNames, QStringList({"Album", "Artist", "Genre", "Title", "Track", "Year"}));
}

TEST(TagSets, ValuesByNameWithoutCase)
{
    TVorbisTags tags;
    EXPECT_TRUE(tags.Empty());
    EXPECT_FALSE(tags.GetValue("artist").isValid());
    tags.SetValue("ARTIST", QString("Nina Simone"));
    EXPECT_EQ(tags.Artist(), "Nina Simone");
    EXPECT_FALSE(tags.Empty());
    EXPECT_TRUE(tags.Changed());

    // An undeclared name changes nothing, not even Empty.
    TVorbisTags other;
    other.SetValue("lyrics", QString("x"));
    EXPECT_TRUE(other.Empty());
    EXPECT_FALSE(other.Changed());
    EXPECT_FALSE(other.GetValue("lyrics").isValid());

    // The same value again is no change.
    tags.SetChanged(false);
    tags.SetArtist("Nina Simone");
    EXPECT_FALSE(tags.Changed());
}

TEST(TagSets, IntegerAndTextViews)
{
    TVorbisTags tags;
    tags.SetValue("tracknumber", 7);
    EXPECT_EQ(tags.AsInteger("tracknumber"), 7);
    EXPECT_EQ(tags.Track(), "7");
    tags.SetValue("date", QString("1999"));
    EXPECT_EQ(tags.AsInteger("date"), 1999);
    tags.SetValue("title", QString("Side A"));
    EXPECT_EQ(tags.AsInteger("title"), 0);
    EXPECT_EQ(tags.AsInteger("genre"), 0);
    EXPECT_EQ(tags.AsText("genre"), "");
    EXPECT_EQ(tags.AsText("nothing"), "");
}

TEST(TagSets, ClearKeepsNames)
{
    TVorbisTags tags;
    tags.SetAlbum("A");
    tags.SetTitle("T");
    tags.SetChanged(false);
    tags.Clear();
    EXPECT_EQ(tags.Count(), 19);
    EXPECT_TRUE(tags.Empty());
    EXPECT_TRUE(tags.Changed());
    EXPECT_EQ(tags.Album(), "");
    EXPECT_EQ(tags.Title(), "");
    EXPECT_FALSE(tags.GetValue("album").isValid());
}

TEST(TagSets, AssignCopiesSharedNamesOnly)
{
    TCommonTags common;
    EXPECT_TRUE(common.Empty());
    EXPECT_EQ(common.Title(), "");
    common.SetTitle("Song");
    common.SetAlbum("Record");
    common.SetArtist("Band");
    common.SetGenre("Jazz");
    common.SetYear("2001");
    common.SetTrack("3");

    TVorbisTags vorbis;
    vorbis.SetDate("1970");
    vorbis.Assign(common);
    EXPECT_EQ(vorbis.Title(), "Song");
    EXPECT_EQ(vorbis.Album(), "Record");
    EXPECT_EQ(vorbis.Artist(), "Band");
    EXPECT_EQ(vorbis.Genre(), "Jazz");
    EXPECT_EQ(vorbis.Date(), "");  // cleared first; Year is not a Vorbis name
    EXPECT_EQ(vorbis.Track(), ""); // "Track" is not "tracknumber"

    TCommonTags back;
    back.Assign(vorbis);
    EXPECT_EQ(back.Title(), "Song");
    EXPECT_EQ(back.Year(), "");
}

} // namespace
