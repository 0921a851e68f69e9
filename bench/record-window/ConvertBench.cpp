// BGRA to I420 at 1280x720 and 1920x1080: FFmpeg's scaler with the BT.709
// matrix, libyuv's ARGBToI420 (BT.601 only in Debian 12's libyuv, so not
// usable for movies tagged BT.709; the speed anchor), and Quorvane's own
// BT.709 converter. Prints milliseconds per picture.
#include "ffmpeg/BgraToYuv.h"

#include <libyuv/convert_from_argb.h>
extern "C" {
#include <libswscale/swscale.h>
}

#include <chrono>
#include <cstdio>
#include <vector>

int main() {
    using clock = std::chrono::steady_clock;
    for (auto [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        const int n = 200;
        std::vector<std::uint8_t> bgra(static_cast<std::size_t>(w) * h * 4);
        for (std::size_t i = 0; i < bgra.size(); ++i)
            bgra[i] = static_cast<std::uint8_t>(i * 7 + i / 4093);
        std::vector<std::uint8_t> y(static_cast<std::size_t>(w) * h), u(y.size() / 4),
            v(y.size() / 4);
        double anchor = 0;
        auto time = [&](const char* name, auto convert) {
            convert();
            const auto start = clock::now();
            for (int i = 0; i < n; ++i)
                convert();
            const double ms =
                std::chrono::duration<double, std::milli>(clock::now() - start).count() / n;
            if (anchor == 0) anchor = ms;
            std::printf("%4dx%-4d %-30s %6.2f ms  %5.2fx swscale\n", w, h, name, ms, ms / anchor);
        };
        SwsContext* sws = sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, AV_PIX_FMT_YUV420P,
                                         SWS_BILINEAR, nullptr, nullptr, nullptr);
        const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
        sws_setColorspaceDetails(sws, bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
        const std::uint8_t* in[1] = {bgra.data()};
        const int inStride[1] = {w * 4};
        std::uint8_t* out[3] = {y.data(), u.data(), v.data()};
        const int outStride[3] = {w, w / 2, w / 2};
        time("swscale BT.709 (bilinear)",
             [&] { sws_scale(sws, in, inStride, 0, h, out, outStride); });
        sws_freeContext(sws);
        time("libyuv ARGBToI420 (BT.601)", [&] {
            libyuv::ARGBToI420(bgra.data(), w * 4, y.data(), w, u.data(), w / 2, v.data(), w / 2, w,
                               h);
        });
        time("quorvane BT.709", [&] {
            quorvane::backends::ffmpeg::bgraToI420Bt709(bgra.data(), w * 4, w, h, y.data(), w,
                                                        u.data(), w / 2, v.data(), w / 2);
        });
    }
}
