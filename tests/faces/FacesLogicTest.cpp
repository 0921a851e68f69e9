// The faces job's portable logic against test doubles of the detector and
// the picture and video readers.
#include "jobs/faces/Faces.h"
#include "shell/UserError.h"
#include "json/Writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace quorvane::jobs::faces {
namespace {

using platform::FaceObservation;
using platform::Picture;

std::string text(const json::Value& v) {
    return json::serialize(v);
}

FaceObservation observation(double x, double y, double w, double h, float confidence = 0.5f) {
    return FaceObservation{{x, y, w, h}, confidence};
}

TEST(FaceObject, ConvertsClampsAndRoundsToExactDecimals) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        FaceObservation in;
        const char* out;
    } cases[] = {
        // lower-left origin to top-left; 0.123456 → 0.1235; 0.99853515625 → 0.999
        {observation(0.123456, 0.5, 0.2, 0.25, 0.99853515625f),
         R"({"confidence":0.999,"h":0.25,"w":0.2,"x":0.1235,"y":0.25})"},
        // poking out on the left: x becomes 0 and w shrinks by the part cut off
        {observation(-0.02, 0.1, 0.3, 0.2), R"({"confidence":0.5,"h":0.2,"w":0.28,"x":0,"y":0.7})"},
        // reaching above the top: y becomes 0 and h shrinks likewise
        {observation(0.2, 0.8, 0.1, 0.3), R"({"confidence":0.5,"h":0.2,"w":0.1,"x":0.2,"y":0})"},
        // wholly outside: nothing of it is left
        {observation(-0.5, 1.2, 0.2, 0.3), R"({"confidence":0.5,"h":0,"w":0,"x":0,"y":0})"},
        // reaching past the right and bottom edges: cut to fit, written exactly
        {observation(0.9, -0.1, 0.2, 0.3), R"({"confidence":0.5,"h":0.2,"w":0.1,"x":0.9,"y":0.8})"},
        // tiny left edge rounds to 0; halves go away from zero
        {observation(0.00004, 0.5, 0.00005, 0.12345, 0.0005f),
         R"({"confidence":0.001,"h":0.1235,"w":0.0001,"x":0,"y":0.3765})"},
        // not a number and negative sizes become 0
        {observation(nan, 0.5, -0.2, -0.1), R"({"confidence":0.5,"h":0,"w":0,"x":0,"y":0.5})"},
        // sums that are not exact in binary are still written as the short decimal
        {observation(0.1 * 3, 1 - 0.7000000000000001, 0.1 + 0.2, 0.1 * 7),
         R"({"confidence":0.5,"h":0.7,"w":0.3,"x":0.3,"y":0})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(text(faceObject(c.in)), c.out);
}

TEST(FaceObject, BoxStaysInsidePicture) {
    for (double x : {-0.5, 0.0, 0.3, 0.99, 1.2})
        for (double w : {0.0, 0.5, 1.5}) {
            const auto face = faceObject(observation(x, 0.5, w, 0.9));
            const auto get = [&](const char* k) {
                return std::get<json::Decimal>(face.at(k).storage()).value;
            };
            EXPECT_LE(get("x") + get("w"), 1.0 + 1e-12);
            EXPECT_LE(get("y") + get("h"), 1.0 + 1e-12);
        }
}

// A 3×2 picture whose pixels carry their own index.
Picture numbered() {
    Picture p{3, 2, {}};
    for (int i = 0; i < 6; ++i)
        p.rgb.insert(p.rgb.end(), {std::uint8_t(i), 0, 0});
    return p;
}

std::vector<int> indices(const Picture& p) {
    std::vector<int> out;
    for (std::size_t i = 0; i < p.rgb.size(); i += 3)
        out.push_back(p.rgb[i]);
    return out;
}

TEST(Upright, EveryOrientationCode) {
    // Stored rows: 0 1 2 / 3 4 5.
    const std::map<std::uint32_t, std::vector<int>> expected = {
        {1, {0, 1, 2, 3, 4, 5}}, {2, {2, 1, 0, 5, 4, 3}}, {3, {5, 4, 3, 2, 1, 0}},
        {4, {3, 4, 5, 0, 1, 2}}, {5, {0, 3, 1, 4, 2, 5}}, {6, {3, 0, 4, 1, 5, 2}},
        {7, {5, 2, 4, 1, 3, 0}}, {8, {2, 5, 1, 4, 0, 3}},
    };
    for (const auto& [code, pixels] : expected) {
        const auto up = uprightPicture(numbered(), code);
        EXPECT_EQ(indices(up), pixels) << "orientation " << code;
        EXPECT_EQ(up.width, code >= 5 ? 2 : 3);
        EXPECT_EQ(up.height, code >= 5 ? 3 : 2);
    }
    for (std::uint32_t bad : {0u, 9u, 0xffffffffu})
        EXPECT_THROW(uprightPicture(numbered(), bad), platform::FaceDetectionError);
}

TEST(IsImageFile, DecidedByTheNameOnly) {
    for (const char* yes : {"PHOTO.JPG", "/a/b/c.jpeg", "x.jpe", "x.Png", "x.gif", "x.bmp", "x.TIF",
                            "x.tiff", "x.webp", "x.HEIC", "x.heif", "x.avif", "x.JFIF", "x.pbm",
                            "x.pgm", "x.ppm", "x.pnm", "dir.d/x.jpg", "does-not-exist.png"})
        EXPECT_TRUE(isImageFile(yes)) << yes;
    for (const char* no : {"photo", "clip.mov", "x.txt", "x.jpg.mp4", "dir.jpg/clip", "x.", ""})
        EXPECT_FALSE(isImageFile(no)) << no;
}

class FakeDetector : public platform::FaceDetector {
  public:
    std::vector<FaceObservation> detect(const Picture& picture, double enlargement) override {
        seen.emplace_back(picture.width, picture.height);
        enlargements.push_back(enlargement);
        if (failAt.count(seen.size() - 1)) throw platform::FaceDetectionError("the detector broke");
        return answer;
    }
    std::vector<FaceObservation> answer{observation(0.1, 0.2, 0.3, 0.4, 0.875f)};
    std::vector<std::pair<int, int>> seen;
    std::vector<double> enlargements;
    std::set<std::size_t> failAt;
};

std::string failureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const UserError& e) {
        return e.what();
    }
    return "(no failure)";
}

TEST(FacesInImage, OrientationTurnsPictureAndSize) {
    FakeDetector detector;
    const auto read = [](const std::string&, int maxSide) {
        EXPECT_EQ(maxSide, maxPictureSide);
        return platform::StoredPicture{Picture{4, 3, std::vector<std::uint8_t>(36)}, 4, 3, 6u};
    };
    const auto result = facesInImage("p.jpg", 0.25, read, detector);
    EXPECT_EQ(text(result),
              R"({"duration":0,"every":0.25,"height":4,"samples":[{"faces":[{"confidence":0.875,)"
              R"("h":0.4,"w":0.3,"x":0.1,"y":0.4}],"t":0}],"width":3})");
    ASSERT_EQ(detector.seen.size(), 1u);
    EXPECT_EQ(detector.seen[0], std::make_pair(3, 4));
    EXPECT_EQ(detector.enlargements, std::vector<double>{2}); // small pictures: twice as large
}

TEST(FacesInImage, ScaledDownPictureReportsTheFileSize) {
    // Read scaled down to 2048 × 1536 from 8192 × 6144, stored turned a quarter.
    FakeDetector detector;
    const auto read = [](const std::string&, int) {
        return platform::StoredPicture{
            Picture{2048, 1536, std::vector<std::uint8_t>(std::size_t{2048} * 1536 * 3)}, 8192,
            6144, 8u};
    };
    const auto result = facesInImage("big.png", 0.5, read, detector);
    EXPECT_EQ(text(result.at("width")), "6144");
    EXPECT_EQ(text(result.at("height")), "8192");
    ASSERT_EQ(detector.seen.size(), 1u);
    EXPECT_EQ(detector.seen[0], std::make_pair(1536, 2048));
    EXPECT_EQ(detector.enlargements, std::vector<double>{1});
}

TEST(FacesInImage, Failures) {
    FakeDetector detector;
    const auto unreadable = [](const std::string&, int) {
        return std::optional<platform::StoredPicture>();
    };
    EXPECT_EQ(failureOf([&] { facesInImage("p.jpg", 0.5, unreadable, detector); }),
              "Quorvane could not open that picture.");
    const auto badOrientation = [](const std::string&, int) {
        return platform::StoredPicture{Picture{1, 1, {0, 0, 0}}, 1, 1, 9u};
    };
    EXPECT_EQ(failureOf([&] { facesInImage("p.jpg", 0.5, badOrientation, detector); }),
              "Quorvane could not look for faces in that picture. The picture's orientation code 9 "
              "is not one of 1 "
              "to 8.");
    detector.failAt = {0};
    const auto plain = [](const std::string&, int) {
        return platform::StoredPicture{Picture{1, 1, {0, 0, 0}}, 1, 1, {}};
    };
    EXPECT_EQ(failureOf([&] { facesInImage("p.jpg", 0.5, plain, detector); }),
              "Quorvane could not look for faces in that picture. the detector broke");
}

// A picture of one flat level, or of noise around it.
Picture flat(int width, int height, std::uint8_t level) {
    return Picture{width, height,
                   std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3, level)};
}

class FakeVideo : public platform::VideoSource {
  public:
    double duration() const override { return length; }
    bool hasPictureTrack() const override { return track; }
    platform::ShownSize shownSize() const override {
        if (sizeFails) throw platform::VideoError("size unknown");
        return size;
    }
    std::optional<Picture> pictureAt(double seconds, int maxWidth, int maxHeight) override {
        asked->push_back(seconds);
        EXPECT_EQ(maxWidth, maxFrameSide);
        EXPECT_EQ(maxHeight, maxFrameSide);
        for (double m : missing)
            if (std::fabs(seconds - m) < 1e-9) return std::nullopt;
        return flat(8, 8, static_cast<std::uint8_t>(scene(seconds) * 7 % 256));
    }
    double length = 10;
    bool track = true;
    bool sizeFails = false;
    platform::ShownSize size{-720.4, 1280.5};
    std::vector<double> missing;
    // Which scene is on screen at a time: every asked time its own, unless told.
    std::function<int(double)> scene = [](double t) {
        return static_cast<int>(std::lround(t * 4));
    };
    std::shared_ptr<std::vector<double>> asked = std::make_shared<std::vector<double>>();
};

// Answers by the picture's level, so every picture has faces of its own,
// from any thread; fails on the levels it is told.
class LevelDetector : public platform::FaceDetector {
  public:
    struct Shared {
        std::mutex lock;
        std::vector<int> examined; // levels, in the order examined
        std::set<int> failOn;
        double enlargement = 0;
    };
    explicit LevelDetector(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    std::vector<FaceObservation> detect(const Picture& picture, double enlargement) override {
        const int level = picture.rgb.at(0);
        {
            const std::lock_guard hold(shared_->lock);
            shared_->examined.push_back(level);
            shared_->enlargement = enlargement;
            if (shared_->failOn.count(level)) throw platform::FaceDetectionError("broke");
        }
        // Uneven times, so that workers finish out of order.
        std::this_thread::sleep_for(std::chrono::microseconds(level % 3 * 300));
        return {observation(level / 1000.0, 0.5, 0.1, 0.1, 0.75f)};
    }

  private:
    std::shared_ptr<Shared> shared_;
};

Detectors levelDetectors(std::size_t count, const std::shared_ptr<LevelDetector::Shared>& shared) {
    Detectors detectors;
    for (std::size_t i = 0; i < count; ++i)
        detectors.push_back(std::make_unique<LevelDetector>(shared));
    return detectors;
}

std::string times(const json::Object& result) {
    std::string out;
    for (const auto& s : std::get<json::Array>(result.at("samples").storage())) {
        if (!out.empty()) out += ' ';
        out += text(std::get<json::Object>(s.storage()).at("t"));
    }
    return out;
}

VideoOpening opening(const FakeVideo& fake) {
    return [&fake](const std::string&) -> std::unique_ptr<platform::VideoSource> {
        return std::make_unique<FakeVideo>(fake);
    };
}

json::Object video(const FakeVideo& fake, double every, std::int64_t max, std::size_t workers = 1,
                   std::shared_ptr<LevelDetector::Shared> shared = nullptr) {
    if (!shared) shared = std::make_shared<LevelDetector::Shared>();
    return facesInVideo("v.mov", every, max, opening(fake), levelDetectors(workers, shared));
}

TEST(FacesInVideo, SampleTimesLimitsAndMissingPictures) {
    FakeVideo v;
    auto r = video(v, 0.5, 2400);
    EXPECT_EQ(times(r), "0 0.5 1 1.5 2 2.5 3 3.5 4 4.5 5 5.5 6 6.5 7 7.5 8 8.5 9 9.5");
    // Shown size: absolute values, rounded half away from zero.
    EXPECT_EQ(text(r.at("width")), "720");
    EXPECT_EQ(text(r.at("height")), "1281");
    EXPECT_EQ(text(r.at("duration")), "10");
    EXPECT_EQ(times(video(v, 0.5, 3)), "0 0.5 1");

    v.missing = {2.0};
    EXPECT_EQ(times(video(v, 0.5, 6)), "0 0.5 1 1.5 2.5"); // the missed time still counts

    v.missing = {};
    v.length = 1.0;
    EXPECT_EQ(times(video(v, 0.1, 2400)), "0 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9");
    v.length = 0.3;
    EXPECT_EQ(times(video(v, 0.5, 2400)), "0");
    v.length = 12.34567;
    EXPECT_EQ(text(video(v, 5, 2400).at("duration")), "12.346");
}

TEST(FacesInVideo, FramesAreLookedAtEnlarged) {
    FakeVideo v;
    v.length = 1;
    const auto shared = std::make_shared<LevelDetector::Shared>();
    video(v, 0.5, 2400, 1, shared);
    // The fake's shown size is about 720 × 1281: looked at with a long side of 1536.
    EXPECT_NEAR(shared->enlargement, 1536.0 / 1281, 1e-3);
}

TEST(FaceSizes, EnlargementFollowsThePictureSizeWithoutACliff) {
    // The examined long side never shrinks as the picture grows.
    for (const auto& [examined, most] : {std::pair(stillExaminedSide, mostStillEnlargement),
                                         std::pair(frameExaminedSide, mostFrameEnlargement)}) {
        double previous = 0;
        for (int side = 100; side <= 5000; ++side) {
            const double e = enlargementFor(side, examined, most);
            EXPECT_GE(e, 1);
            EXPECT_LE(e, most);
            EXPECT_GE(side * e, previous - 1e-9) << side;
            previous = side * e;
        }
    }
    struct Case {
        int width, height;
        double still, frame;
    };
    for (const Case c : {Case{1000, 438, 2, 1.2}, Case{1001, 438, 2000.0 / 1001, 1.2},
                         Case{1280, 720, 2000.0 / 1280, 1.2}, Case{1920, 1080, 2000.0 / 1920, 1},
                         Case{3840, 2160, 1, 1}, Case{480, 640, 2, 1.2}}) {
        platform::Picture p;
        p.width = c.width;
        p.height = c.height;
        EXPECT_DOUBLE_EQ(pictureEnlargement(p), c.still) << c.width;
        EXPECT_DOUBLE_EQ(frameEnlargement(c.width, c.height), c.frame) << c.width;
    }
    // Video pictures beyond the conversion bound are examined at its size.
    EXPECT_DOUBLE_EQ(frameEnlargement(7680, 4320), 1);
}

TEST(FacesInVideo, DetectorFailureLeavesSampleWithoutFaces) {
    FakeVideo v;
    v.length = 1.5;
    const auto shared = std::make_shared<LevelDetector::Shared>();
    shared->failOn = {14}; // the picture at 0.5 s: scene 2
    const auto r = video(v, 0.5, 2400, 1, shared);
    EXPECT_EQ(text(r.at("samples")),
              R"([{"faces":[{"confidence":0.75,"h":0.1,"w":0.1,"x":0,"y":0.4}],"t":0},)"
              R"({"faces":[],"t":0.5},)"
              R"({"faces":[{"confidence":0.75,"h":0.1,"w":0.1,"x":0.028,"y":0.4}],"t":1}])");
}

TEST(FacesInVideo, StillStretchesAreExaminedOnce) {
    // Scene 0 until 2 s, 1 until 4 s, then 0 again: the return to 0 differs
    // from the last picture examined, so it is examined again.
    FakeVideo v;
    v.length = 6;
    v.scene = [](double t) { return t < 2 ? 0 : t < 4 ? 1 : 0; };
    const auto shared = std::make_shared<LevelDetector::Shared>();
    const auto r = video(v, 0.25, 2400, 2, shared);
    // Two workers: the order in which they start is their own.
    std::sort(shared->examined.begin(), shared->examined.end());
    EXPECT_EQ(shared->examined, (std::vector<int>{0, 0, 7}));
    const auto& samples = std::get<json::Array>(r.at("samples").storage());
    ASSERT_EQ(samples.size(), 24u);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const auto& faces = std::get<json::Object>(samples[i].storage()).at("faces");
        EXPECT_EQ(text(faces), i >= 8 && i < 16
                                   ? R"([{"confidence":0.75,"h":0.1,"w":0.1,"x":0.007,"y":0.4}])"
                                   : R"([{"confidence":0.75,"h":0.1,"w":0.1,"x":0,"y":0.4}])")
            << i;
    }
}

TEST(FacesInVideo, SameResultForAnyNumberOfWorkers) {
    FakeVideo v;
    v.length = 30;
    v.missing = {1.5, 7.25};
    // Stills of a second now and then, between changing pictures.
    v.scene = [](double t) {
        return static_cast<int>(t) % 5 == 0 ? static_cast<int>(t) : static_cast<int>(t * 4);
    };
    const auto shared = std::make_shared<LevelDetector::Shared>();
    shared->failOn = {35, 98};
    const std::string one = text(video(v, 0.25, 2400, 1, shared));
    for (std::size_t workers : {2u, 3u, 8u}) {
        const auto other = std::make_shared<LevelDetector::Shared>();
        other->failOn = shared->failOn;
        EXPECT_EQ(text(video(v, 0.25, 2400, workers, other)), one) << workers << " workers";
        EXPECT_EQ(other->examined.size(), shared->examined.size());
    }
}

TEST(FacesInVideo, Failures) {
    const auto fail = [&](const FakeVideo& v) { return failureOf([&] { video(v, 0.5, 2400); }); };
    FakeVideo v;
    v.track = false;
    EXPECT_EQ(fail(v), "That file has no picture to look at.");
    v = FakeVideo();
    v.sizeFails = true;
    EXPECT_EQ(fail(v), "Quorvane could not open that video. size unknown");
    for (double length : {0.0, -1.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        v = FakeVideo();
        v.length = length;
        EXPECT_EQ(fail(v), "That video has no length.") << length;
    }
    v = FakeVideo();
    v.size = {std::numeric_limits<double>::infinity(), 10};
    EXPECT_EQ(fail(v), "Quorvane could not open that video. Its picture track has a damaged size.");
    v = FakeVideo();
    v.size = {1e300, 10};
    EXPECT_EQ(fail(v), "Quorvane could not open that video. Its picture track has a damaged size.");
    v = FakeVideo();
    v.length = 1;
    v.missing = {0.0, 0.5};
    EXPECT_EQ(fail(v), "Quorvane could not read any picture from that video.");
    const auto shared = std::make_shared<LevelDetector::Shared>();
    EXPECT_EQ(failureOf([&] {
                  facesInVideo(
                      "v.mov", 0.5, 10,
                      [](const std::string&) -> std::unique_ptr<platform::VideoSource> {
                          throw platform::VideoError("Invalid data found when processing input");
                      },
                      levelDetectors(1, shared));
              }),
              "Quorvane could not open that video. Invalid data found when processing input");
}

TEST(LooksTheSame, NoiseIsTheSameAndRealChangesAreNot) {
    const Picture base = flat(320, 240, 100);
    const auto changed = [&](const std::function<void(Picture&)>& change) {
        Picture p = base;
        change(p);
        return p;
    };
    const auto patch = [](Picture& p, int x0, int y0, int side, int delta) {
        for (int y = y0; y < y0 + side; ++y)
            for (int x = x0; x < x0 + side; ++x)
                for (int c = 0; c < 3; ++c) {
                    auto& v = p.rgb[(static_cast<std::size_t>(y) * p.width + x) * 3 + c];
                    v = static_cast<std::uint8_t>(v + delta);
                }
    };
    struct Case {
        const char* what;
        Picture other;
        bool same;
    } cases[] = {
        {"identical", base, true},
        {"one level on every other value", changed([](Picture& p) {
             for (std::size_t i = 0; i < p.rgb.size(); i += 2)
                 ++p.rgb[i];
         }),
         true},
        {"a few levels here and there", changed([](Picture& p) {
             for (std::size_t i = 0; i < p.rgb.size(); i += 7)
                 p.rgb[i] = static_cast<std::uint8_t>(p.rgb[i] + (i % 2 ? 3 : -3));
         }),
         true},
        {"one level everywhere", changed([](Picture& p) {
             for (auto& v : p.rgb)
                 ++v;
         }),
         false},
        // Under a level on average over the picture, but dense in one place.
        {"a small bright square", changed([&](Picture& p) { patch(p, 150, 100, 16, 100); }), false},
        {"a square at the bottom-right edge",
         changed([&](Picture& p) { patch(p, 304, 224, 16, 60); }), false},
        {"another size", flat(240, 320, 100), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(looksTheSame(base, c.other), c.same) << c.what;
        EXPECT_EQ(looksTheSame(c.other, base), c.same) << c.what;
    }
}

} // namespace
} // namespace quorvane::jobs::faces
