#include "ffmpeg/QuietLog.h"

extern "C" {
#include <libavutil/log.h>
}

namespace quorvane::backends::ffmpeg {

void silenceLibraryLog() {
    av_log_set_level(AV_LOG_QUIET);
}

} // namespace quorvane::backends::ffmpeg
