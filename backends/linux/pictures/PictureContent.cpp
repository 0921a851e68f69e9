#include "pictures/PictureContent.h"

#include "io/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace quorvane::backends::pictures {
namespace {

bool startsWith(const std::uint8_t* bytes, std::size_t size, std::string_view prefix,
                std::size_t at = 0) {
    return size >= at + prefix.size() && std::memcmp(bytes + at, prefix.data(), prefix.size()) == 0;
}

// ISO media brands of still pictures (HEIF, HEIC, AVIF and their sequences).
bool stillPictureBrand(std::string_view brand) {
    static constexpr std::array<std::string_view, 10> brands = {
        "heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"};
    for (const auto b : brands)
        if (b == brand) return true;
    return false;
}

} // namespace

PictureContent contentOf(const std::uint8_t* bytes, std::size_t size) {
    using namespace std::string_view_literals;
    if (startsWith(bytes, size, "\xFF\xD8\xFF"sv)) return PictureContent::jpeg;
    if (startsWith(bytes, size, "\x89PNG\r\n\x1A\n"sv)) return PictureContent::png;
    if (startsWith(bytes, size, "GIF87a"sv) || startsWith(bytes, size, "GIF89a"sv))
        return PictureContent::gif;
    if (startsWith(bytes, size, "BM"sv) && size >= 14) return PictureContent::bmp;
    if (startsWith(bytes, size, "II*\0"sv) || startsWith(bytes, size, "MM\0*"sv))
        return PictureContent::tiff;
    if (startsWith(bytes, size, "RIFF"sv) && startsWith(bytes, size, "WEBP"sv, 8))
        return PictureContent::webp;
    if (startsWith(bytes, size, "ftyp"sv, 4) && size >= 12) {
        // The major brand, then the compatible ones up to the box's end.
        const std::size_t boxSize = (std::size_t{bytes[0]} << 24) | (std::size_t{bytes[1]} << 16) |
                                    (std::size_t{bytes[2]} << 8) | bytes[3];
        const std::size_t end = std::min(size, boxSize);
        for (std::size_t at = 8; at + 4 <= end; at += at == 8 ? 8 : 4) // skip the minor version
            if (stillPictureBrand(std::string_view(reinterpret_cast<const char*>(bytes + at), 4)))
                return PictureContent::heif;
        return PictureContent::unknown;
    }
    if (size >= 3 && bytes[0] == 'P' && bytes[1] >= '1' && bytes[1] <= '7' &&
        (bytes[2] == '\n' || bytes[2] == '\r' || bytes[2] == ' ' || bytes[2] == '\t'))
        return PictureContent::anymap;
    if (startsWith(bytes, size, "\0\0\0\x0CjP  \r\n\x87\n"sv) ||
        startsWith(bytes, size, "\xFF\x4F\xFF\x51"sv))
        return PictureContent::jpeg2000;
    if (startsWith(bytes, size, "8BPS"sv)) return PictureContent::photoshop;
    if (startsWith(bytes, size, "\x76\x2F\x31\x01"sv)) return PictureContent::openExr;
    // An icon directory: reserved 0, type 1, at least one picture.
    if (size >= 6 && startsWith(bytes, size, "\0\0\1\0"sv) && (bytes[4] | bytes[5]) != 0)
        return PictureContent::icon;
    return PictureContent::unknown;
}

PictureContent contentOfFile(const std::string& path) {
    // Non-blocking, and only a plain file is read: a FIFO would wait forever.
    io::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return PictureContent::unknown;
    std::array<std::uint8_t, 64> head{};
    std::size_t got = 0;
    while (got < head.size()) {
        const ssize_t n = ::read(fd.get(), head.data() + got, head.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return contentOf(head.data(), got);
}

} // namespace quorvane::backends::pictures
