#include "jobs/faces/Faces.h"

namespace quorvane::jobs::faces {

json::Object facesResult(json::Value duration, std::int64_t width, std::int64_t height,
                         double every, json::Array samples) {
    return json::Object{
        {"duration", std::move(duration)},
        {"width", static_cast<long long>(width)},
        {"height", static_cast<long long>(height)},
        {"every", every},
        {"samples", std::move(samples)},
    };
}

json::Object faceSample(json::Value t, json::Array faces) {
    return json::Object{{"t", std::move(t)}, {"faces", std::move(faces)}};
}

} // namespace quorvane::jobs::faces
