#include "ffmpeg/MovieDurations.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace quorvane::backends::ffmpeg {
namespace {

// The header of a fragmented movie is small: the boxes sought lie well
// within this much of the file's start.
constexpr std::size_t kHeaderBytes = 64 * 1024;

std::uint64_t readBig(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

struct Box {
    std::size_t start = 0; // of its header
    std::size_t body = 0;  // of its contents
    std::size_t end = 0;
};

// The child box of `type` within [from, to), or nothing.
std::optional<Box> child(const std::vector<std::uint8_t>& d, std::size_t from, std::size_t to,
                         const char* type) {
    std::size_t at = from;
    while (at + 8 <= to) {
        std::uint64_t size = readBig(&d[at], 4);
        std::size_t header = 8;
        if (size == 1) {
            if (at + 16 > to) return std::nullopt;
            size = readBig(&d[at + 8], 8);
            header = 16;
        }
        if (size < header || size > to - at) return std::nullopt;
        if (std::memcmp(&d[at + 4], type, 4) == 0)
            return Box{at, at + header, at + static_cast<std::size_t>(size)};
        at += static_cast<std::size_t>(size);
    }
    return std::nullopt;
}

// One duration field to write: where, how wide, in which time scale.
struct Field {
    std::size_t offset = 0;
    int bytes = 4;
    std::uint64_t value = 0;
};

// The duration field of a full box: after `times` time fields (4 bytes
// each, 8 in version 1) and `extra` bytes of other fields; as wide as a time.
std::optional<Field> durationField(const std::vector<std::uint8_t>& d, const Box& box, int times,
                                   int extra) {
    if (box.body + 4 > box.end) return std::nullopt;
    const int version = d[box.body];
    const int timeBytes = version == 1 ? 8 : 4;
    Field f;
    f.offset = box.body + 4 + static_cast<std::size_t>(times * timeBytes + extra);
    f.bytes = timeBytes;
    if (f.offset + static_cast<std::size_t>(f.bytes) > box.end) return std::nullopt;
    return f;
}

std::uint64_t ticks(double seconds, std::uint64_t scale) {
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return static_cast<std::uint64_t>(std::llround(seconds * static_cast<double>(scale)));
}

} // namespace

bool writeMovieDurations(int fd, const std::vector<double>& trackSeconds) {
    if (fd < 0) return false;
    std::vector<std::uint8_t> d(kHeaderBytes);
    const ssize_t n = ::pread(fd, d.data(), d.size(), 0);
    if (n <= 0) return false;
    d.resize(static_cast<std::size_t>(n));

    const auto ftyp = child(d, 0, d.size(), "ftyp");
    if (!ftyp) return false;
    const auto moov = child(d, ftyp->end, d.size(), "moov");
    if (!moov) return false;
    const auto mvhd = child(d, moov->body, moov->end, "mvhd");
    if (!mvhd) return false;
    // mvhd: creation and modification times, the time scale, the duration.
    auto movie = durationField(d, *mvhd, 2, 4);
    if (!movie) return false;
    const std::uint64_t movieScale = readBig(&d[movie->offset - 4], 4);
    if (movieScale == 0) return false;

    std::vector<Field> fields;
    double longest = 0;
    std::size_t at = moov->body;
    for (const double seconds : trackSeconds) {
        const auto trak = child(d, at, moov->end, "trak");
        if (!trak) return false;
        at = trak->end;
        longest = std::max(longest, seconds);
        const auto tkhd = child(d, trak->body, trak->end, "tkhd");
        const auto mdia = child(d, trak->body, trak->end, "mdia");
        if (!tkhd || !mdia) return false;
        const auto mdhd = child(d, mdia->body, mdia->end, "mdhd");
        if (!mdhd) return false;
        // tkhd: two times, the track id and a reserved word, the duration.
        auto track = durationField(d, *tkhd, 2, 8);
        // mdhd: two times, the time scale, the duration.
        auto media = durationField(d, *mdhd, 2, 4);
        if (!track || !media) return false;
        const std::uint64_t mediaScale = readBig(&d[media->offset - 4], 4);
        if (mediaScale == 0) return false;
        track->value = ticks(seconds, movieScale);
        media->value = ticks(seconds, mediaScale);
        fields.push_back(*track);
        fields.push_back(*media);
    }
    movie->value = ticks(longest, movieScale);
    fields.push_back(*movie);
    if (const auto mvex = child(d, moov->body, moov->end, "mvex")) {
        if (const auto mehd = child(d, mvex->body, mvex->end, "mehd")) {
            Field f;
            f.bytes = d[mehd->body] == 1 ? 8 : 4;
            f.offset = mehd->body + 4;
            f.value = movie->value;
            if (f.offset + static_cast<std::size_t>(f.bytes) <= mehd->end) fields.push_back(f);
        }
    }

    for (const Field& f : fields) {
        std::uint8_t bytes[8];
        const std::uint64_t most = f.bytes == 4 ? 0xffffffffu : ~std::uint64_t{0};
        const std::uint64_t value = std::min(f.value, most);
        for (int i = 0; i < f.bytes; ++i)
            bytes[i] = static_cast<std::uint8_t>(value >> (8 * (f.bytes - 1 - i)));
        if (::pwrite(fd, bytes, static_cast<std::size_t>(f.bytes), static_cast<off_t>(f.offset)) !=
            f.bytes)
            return false;
    }
    return true;
}

} // namespace quorvane::backends::ffmpeg
