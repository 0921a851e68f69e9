// The face scanner built for the baseline processor and the one built for
// AVX2 find the same faces: each build runs its own copy of dlib's code.
#include "dlib/FaceScan.h"
#include "platform/PictureReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane::backends::facescan {
namespace {

// Read at most 320 px wide: dlib is slow under the sanitizers.
platform::Picture photo(const std::string& name) {
    const auto stored = platform::readPicture(
        std::string(QUORVANE_SOURCE_DIR) + "/tests/fixtures/faces/" + name, 320);
    EXPECT_TRUE(stored);
    return stored ? stored->pixels : platform::Picture{};
}

TEST(FaceScanBuilds, BaselineAndAvx2FindTheSameFaces) {
    if (!avx2Usable()) GTEST_SKIP() << "this processor has no AVX2";
    auto baseline = makeBaselineScanners(1);
    auto avx2 = makeAvx2Scanners(1);
    for (const char* name : {"astronaut.jpg", "grace_hopper.jpg", "coffee.jpg"}) {
        const auto picture = photo(name);
        for (const double enlargement : {1.0, 1.2}) {
            const auto a = baseline.front()->scan(picture, enlargement);
            const auto b = avx2.front()->scan(picture, enlargement);
            ASSERT_EQ(a.size(), b.size()) << name << " at " << enlargement;
            for (std::size_t i = 0; i < a.size(); ++i) {
                EXPECT_DOUBLE_EQ(a[i].left, b[i].left) << name;
                EXPECT_DOUBLE_EQ(a[i].top, b[i].top) << name;
                EXPECT_DOUBLE_EQ(a[i].width, b[i].width) << name;
                EXPECT_DOUBLE_EQ(a[i].height, b[i].height) << name;
                // Fused multiply-adds round differently: scores agree closely.
                EXPECT_NEAR(a[i].score, b[i].score, 1e-3) << name;
            }
        }
    }
}

TEST(FaceScanBuilds, BaselineFindsTheKnownFace) {
    auto baseline = makeBaselineScanners(1);
    std::vector<ScannedFace> faces;
    // Raw scores: weak candidates below the job's confidence are left out.
    for (const auto& face : baseline.front()->scan(photo("astronaut.jpg"), 1.2))
        if (face.score > 0.34) faces.push_back(face);
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_NEAR(faces[0].left + faces[0].width / 2, 0.43, 0.06);
    EXPECT_NEAR(faces[0].top + faces[0].height / 2, 0.24, 0.06);
    EXPECT_GT(faces[0].score, 0.5);
}

} // namespace
} // namespace quorvane::backends::facescan
