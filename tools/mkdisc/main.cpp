// SPDX-License-Identifier: GPL-3.0-or-later
// sondrel-mkdisc: writes a CUE/BIN disc image from a list of tracks, for tests, benchmarks and the demo disc.
//
//   sondrel-mkdisc -o DISC.cue [--seed N] [--bad FIRST[-LAST]]... [--flaky FIRST[-LAST]]...
//                  [--damage KEY=VALUE]... [--title T] [--performer P]
//                  [--track-title N=T]... [--track-performer N=P]... TRACK...
//
// A TRACK is LENGTH[,AUDIO] for an audio track or data:LENGTH for a data track (MODE1/2352).
//   LENGTH  a number of sectors (75 a second) or mm:ss:ff
//   AUDIO   tone[:HZ] (default 440), noise, silence, music, or wav:PATH (16-bit PCM, 44100 Hz, mono or
//           stereo; a shorter file is padded with silence). The default is tone.
// The same arguments always give the same bytes. --damage writes a line of the image's damage profile
// (DISC.cue.damage: seed, jitter, jitter_rate, unreadable, flaky, flaky_rate, wrong, slow), which makes the
// image read as a damaged disc in a poor drive would; --bad RANGE is --damage unreadable=RANGE, --flaky RANGE
// is
// --damage flaky=RANGE (at the default rate, every second read of those sectors is wrong). --title and
// --performer (and their per-track forms) write CD-Text into the CUE sheet as TITLE and PERFORMER lines.
// --pregap N=SECTORS marks the last sectors of track N-1 as track N's pregap (an INDEX 00 line).
// --catalog MCN writes the disc's catalogue number (a CATALOG line), --isrc N=CODE track N's ISRC, and
// --pre N flags track N as pre-emphasised (FLAGS PRE); their texts go into the sheet as given.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int sectorBytes = 2352;
constexpr int framesPerSector = 588; // stereo sample frames in one sector

struct Track {
    bool data = false;
    long sectors = 0;
    long pregap = 0; // sectors of the track before it marked as this one's pregap (INDEX 00)
    std::string isrc;
    bool preemphasis = false;
    std::string audio = "tone";
};

[[noreturn]] void fail(const std::string &message)
{
    throw std::runtime_error(message);
}

long parseLength(const std::string &text)
{
    int m = 0, s = 0, f = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%d:%d:%d%c", &m, &s, &f, &tail) == 3) {
        if (m < 0 || s < 0 || s > 59 || f < 0 || f > 74)
            fail("bad length " + text);
        return long(m) * 4500 + s * 75 + f;
    }
    size_t used = 0;
    long sectors = 0;
    try {
        sectors = std::stol(text, &used);
    } catch (...) {
        fail("bad length " + text);
    }
    if (used != text.size() || sectors <= 0)
        fail("bad length " + text);
    return sectors;
}

Track parseTrack(const std::string &text)
{
    Track track;
    if (text.rfind("data:", 0) == 0) {
        track.data = true;
        track.sectors = parseLength(text.substr(5));
        return track;
    }
    const size_t comma = text.find(',');
    track.sectors = parseLength(text.substr(0, comma));
    if (comma != std::string::npos)
        track.audio = text.substr(comma + 1);
    return track;
}

std::string msf(long sectors)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02ld:%02ld:%02ld", sectors / 4500, sectors / 75 % 60,
                  sectors % 75);
    return buffer;
}

// A small deterministic generator, so the same seed gives the same noise everywhere.
struct Random {
    uint64_t state;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<uint32_t>(state >> 16);
    }
};

int16_t clip(double v)
{
    return static_cast<int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

void putSample(std::vector<uint8_t> &out, size_t frame, int16_t left, int16_t right)
{
    uint8_t *p = out.data() + frame * 4;
    p[0] = uint8_t(left & 0xff);
    p[1] = uint8_t((left >> 8) & 0xff);
    p[2] = uint8_t(right & 0xff);
    p[3] = uint8_t((right >> 8) & 0xff);
}

// A few bars of a synthesized tune: plucked notes over a bass line, different for every track.
void synthMusic(std::vector<uint8_t> &out, size_t frames, int trackIndex, Random &random)
{
    static const int scale[] = {0, 2, 4, 7, 9, 12, 14, 16};
    const double root = 196.0 * std::pow(2.0, (trackIndex * 5 % 12) / 12.0);
    const double tempo = 0.18 + 0.04 * (trackIndex % 4); // seconds a note
    const size_t noteFrames = static_cast<size_t>(tempo * 44100);
    std::vector<double> melody;
    for (size_t n = 0; n <= frames / noteFrames; ++n)
        melody.push_back(root * std::pow(2.0, scale[random.next() % 8] / 12.0));
    for (size_t i = 0; i < frames; ++i) {
        const size_t note = i / noteFrames;
        const double t = double(i % noteFrames) / 44100.0;
        const double envelope = std::exp(-t * 6.0);
        const double f = melody[note];
        const double lead =
            std::sin(2 * std::numbers::pi * f * t) + 0.3 * std::sin(4 * std::numbers::pi * f * t);
        const double bassFreq = root / 2 * ((note / 8) % 2 ? 1.5 : 1.0);
        const double bass = std::sin(2 * std::numbers::pi * bassFreq * double(i) / 44100.0);
        const double pan = 0.5 + 0.4 * std::sin(double(note) * 0.7);
        const double l = 9000 * envelope * lead * (1 - pan) + 5000 * bass;
        const double r = 9000 * envelope * lead * pan + 5000 * bass;
        putSample(out, i, clip(l), clip(r));
    }
}

void readWav(const std::string &path, std::vector<uint8_t> &out, size_t frames)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot open " + path);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    const auto u16 = [&](size_t at) { return uint32_t(file[at] | file[at + 1] << 8); };
    const auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0)
        fail(path + " is not a WAV file");
    int channels = 0;
    size_t pos = 12;
    while (pos + 8 <= file.size()) {
        const uint32_t size = u32(pos + 4);
        if (std::memcmp(file.data() + pos, "fmt ", 4) == 0 && pos + 24 <= file.size()) {
            channels = int(u16(pos + 10));
            if (u16(pos + 8) != 1 || u32(pos + 12) != 44100 || u16(pos + 22) != 16 || channels < 1 ||
                channels > 2)
                fail(path + ": only 16-bit PCM at 44100 Hz, mono or stereo, is taken");
        } else if (std::memcmp(file.data() + pos, "data", 4) == 0) {
            if (!channels)
                fail(path + ": data before format");
            const size_t available = std::min<size_t>(size, file.size() - pos - 8) / (2 * channels);
            const uint8_t *p = file.data() + pos + 8;
            for (size_t i = 0; i < std::min(frames, available); ++i) {
                const auto sample = [&](int c) {
                    return int16_t(p[(i * channels + c) * 2] | p[(i * channels + c) * 2 + 1] << 8);
                };
                putSample(out, i, sample(0), sample(channels - 1));
            }
            return;
        }
        pos += 8 + size + (size & 1);
    }
    fail(path + ": no audio data");
}

std::vector<uint8_t> audioTrack(const Track &track, int trackIndex, uint64_t seed)
{
    const size_t frames = size_t(track.sectors) * framesPerSector;
    std::vector<uint8_t> out(frames * 4, 0);
    Random random{seed * 0x9E3779B97F4A7C15ull + uint64_t(trackIndex) * 7919 + 1};
    const std::string &a = track.audio;
    if (a == "silence") {
        return out;
    } else if (a == "noise") {
        for (size_t i = 0; i < frames; ++i)
            putSample(out, i, int16_t(random.next()), int16_t(random.next()));
    } else if (a == "music") {
        synthMusic(out, frames, trackIndex, random);
    } else if (a.rfind("wav:", 0) == 0) {
        readWav(a.substr(4), out, frames);
    } else if (a == "tone" || a.rfind("tone:", 0) == 0) {
        const double hz = a.size() > 5 ? std::stod(a.substr(5)) : 440.0;
        for (size_t i = 0; i < frames; ++i) {
            const double v = 12000 * std::sin(2 * std::numbers::pi * hz * double(i) / 44100.0);
            putSample(out, i, clip(v), clip(v * 0.8));
        }
    } else {
        fail("unknown audio " + a);
    }
    return out;
}

// A MODE1 sector with its sync pattern and header; the user data is deterministic, the error codes zero.
void dataSector(uint8_t *sector, long lba, Random &random)
{
    std::memset(sector, 0, sectorBytes);
    std::memset(sector + 1, 0xff, 10);
    const long address = lba + 150;
    const auto bcd = [](long v) { return uint8_t((v / 10) << 4 | v % 10); };
    sector[12] = bcd(address / 4500);
    sector[13] = bcd(address / 75 % 60);
    sector[14] = bcd(address % 75);
    sector[15] = 1;
    for (int i = 16; i < 16 + 2048; i += 4) {
        const uint32_t v = random.next();
        std::memcpy(sector + i, &v, 4);
    }
}

// CD-Text for the CUE sheet: index 0 is the disc, n track n.
struct CdText {
    std::map<int, std::string> titles;
    std::map<int, std::string> performers;
};

// A CUE text field: quoted, with the quote characters it cannot hold left out.
std::string cueText(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        if (c != '"' && c != '\n' && c != '\r')
            out += c;
    }
    return "\"" + out + "\"";
}

// The image's damage profile beside it; none when it has no damage.
void writeDamage(const std::string &path, const std::vector<std::string> &lines)
{
    std::remove(path.c_str());
    if (lines.empty())
        return;
    std::ofstream profile(path, std::ios::trunc);
    profile << "[damage]\n";
    for (const std::string &line : lines)
        profile << line << '\n';
    if (!profile.flush())
        fail("cannot write " + path);
}

void writeImage(const std::string &cuePath, const std::vector<Track> &tracks, uint64_t seed,
                const std::vector<std::string> &damage, const CdText &text, const std::string &catalog)
{
    std::string binPath = cuePath;
    if (binPath.size() > 4 && binPath.compare(binPath.size() - 4, 4, ".cue") == 0)
        binPath.resize(binPath.size() - 4);
    binPath += ".bin";
    const std::string binName = binPath.substr(binPath.find_last_of('/') + 1);

    std::ofstream bin(binPath, std::ios::binary | std::ios::trunc);
    std::ofstream cue(cuePath, std::ios::trunc);
    if (!bin || !cue)
        fail("cannot write " + cuePath);
    const auto textLines = [&](int index, const char *indent) {
        if (const auto t = text.titles.find(index); t != text.titles.end())
            cue << indent << "TITLE " << cueText(t->second) << "\n";
        if (const auto p = text.performers.find(index); p != text.performers.end())
            cue << indent << "PERFORMER " << cueText(p->second) << "\n";
    };
    if (!catalog.empty())
        cue << "CATALOG " << catalog << "\n";
    textLines(0, "");
    cue << "FILE \"" << binName << "\" BINARY\n";
    long lba = 0;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const Track &t = tracks[i];
        char number[24];
        std::snprintf(number, sizeof number, "%02zu", i + 1);
        cue << "  TRACK " << number << (t.data ? " MODE1/2352\n" : " AUDIO\n");
        textLines(int(i) + 1, "    ");
        if (t.preemphasis)
            cue << "    FLAGS PRE\n";
        if (!t.isrc.empty())
            cue << "    ISRC " << t.isrc << "\n";
        if (t.pregap > 0)
            cue << "    INDEX 00 " << msf(lba - t.pregap) << "\n";
        cue << "    INDEX 01 " << msf(lba) << "\n";
        if (t.data) {
            Random random{seed + 0xDA7A + i};
            std::vector<uint8_t> sector(sectorBytes);
            for (long s = 0; s < t.sectors; ++s) {
                dataSector(sector.data(), lba + s, random);
                bin.write(reinterpret_cast<const char *>(sector.data()), sectorBytes);
            }
        } else {
            const std::vector<uint8_t> audio = audioTrack(t, int(i), seed);
            bin.write(reinterpret_cast<const char *>(audio.data()), std::streamsize(audio.size()));
        }
        lba += t.sectors;
    }
    if (!bin.flush() || !cue.flush())
        fail("cannot write " + binPath);

    writeDamage(cuePath + ".damage", damage);
}

void usage()
{
    std::cerr
        << "usage: sondrel-mkdisc -o DISC.cue [--seed N] [--bad FIRST[-LAST]]... [--flaky FIRST[-LAST]]...\n"
           "                      [--damage KEY=VALUE]...\n"
           "                      [--title T] [--performer P] [--catalog MCN] [--isrc N=CODE]... [--pre "
           "N]...\n"
           "                      [--track-title N=T]... [--track-performer N=P]... TRACK...\n"
           "  TRACK: LENGTH[,tone[:HZ]|noise|silence|music|wav:PATH] or data:LENGTH\n"
           "  LENGTH: sectors or mm:ss:ff\n";
}

} // namespace

int main(int argc, char **argv)
{
    try {
        std::string out;
        uint64_t seed = 1;
        std::vector<Track> tracks;
        std::vector<std::string> damage; // the profile's lines
        std::map<int, long> pregaps;
        std::map<int, std::string> isrcs;
        std::vector<int> preemphasised;
        std::string catalog;
        CdText text;
        const auto numbered = [](const std::string &spec) {
            const size_t equals = spec.find('=');
            if (equals == std::string::npos)
                fail("expected N=TEXT, not " + spec);
            const int n = std::stoi(spec.substr(0, equals));
            if (n < 1 || n > 99)
                fail("no track " + spec.substr(0, equals));
            return std::pair{n, spec.substr(equals + 1)};
        };
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            const auto value = [&]() -> std::string {
                if (i + 1 >= argc)
                    fail(arg + " needs a value");
                return argv[++i];
            };
            if (arg == "-o") {
                out = value();
            } else if (arg == "--seed") {
                seed = std::stoull(value());
            } else if (arg == "--bad" || arg == "--flaky") {
                const std::string range = value();
                const size_t dash = range.find('-');
                const long first = std::stol(range.substr(0, dash));
                const long last = dash == std::string::npos ? first : std::stol(range.substr(dash + 1));
                if (first < 0 || last < first)
                    fail("bad range " + range);
                damage.push_back((arg == "--bad" ? "unreadable=" : "flaky=") + std::to_string(first) + "-" +
                                 std::to_string(last));
            } else if (arg == "--damage") {
                const std::string line = value();
                const std::string key = line.substr(0, line.find('='));
                static const std::vector<std::string> keys = {"seed",       "jitter", "jitter_rate",
                                                              "unreadable", "flaky",  "flaky_rate",
                                                              "wrong",      "slow",   "c2"};
                if (line.find('=') == std::string::npos ||
                    std::find(keys.begin(), keys.end(), key) == keys.end())
                    fail("not a damage KEY=VALUE: " + line);
                damage.push_back(line);
            } else if (arg == "--pregap") {
                const auto [n, sectors] = numbered(value());
                pregaps[n] = std::stol(sectors);
            } else if (arg == "--catalog") {
                catalog = value();
            } else if (arg == "--isrc") {
                const auto [n, code] = numbered(value());
                isrcs[n] = code;
            } else if (arg == "--pre") {
                preemphasised.push_back(std::stoi(value()));
            } else if (arg == "--title") {
                text.titles[0] = value();
            } else if (arg == "--performer") {
                text.performers[0] = value();
            } else if (arg == "--track-title") {
                const auto [n, t] = numbered(value());
                text.titles[n] = t;
            } else if (arg == "--track-performer") {
                const auto [n, p] = numbered(value());
                text.performers[n] = p;
            } else if (arg == "-h" || arg == "--help") {
                usage();
                return 0;
            } else if (!arg.empty() && arg[0] == '-') {
                fail("unknown option " + arg);
            } else {
                tracks.push_back(parseTrack(arg));
            }
        }
        if (out.empty() || tracks.empty() || tracks.size() > 99) {
            usage();
            return 2;
        }
        for (const auto &[n, sectors] : pregaps) {
            if (n < 2 || n > int(tracks.size()) || sectors <= 0 || sectors >= tracks[size_t(n - 2)].sectors)
                fail("no room for a pregap of track " + std::to_string(n));
            tracks[size_t(n - 1)].pregap = sectors;
        }
        for (const auto &[n, code] : isrcs) {
            if (n > int(tracks.size()))
                fail("no track " + std::to_string(n));
            tracks[size_t(n - 1)].isrc = code;
        }
        for (const int n : preemphasised) {
            if (n < 1 || n > int(tracks.size()))
                fail("no track " + std::to_string(n));
            tracks[size_t(n - 1)].preemphasis = true;
        }
        writeImage(out, tracks, seed, damage, text, catalog);
        return 0;
    } catch (const std::exception &e) {
        std::cerr << "sondrel-mkdisc: " << e.what() << '\n';
        return 1;
    }
}
