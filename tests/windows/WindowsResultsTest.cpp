#include "jobs/windows/WindowsResults.h"
#include "FakeScreenCapture.h"
#include "jobs/windows/ScreenPermission.h"
#include "json/Writer.h"

#include <gtest/gtest.h>

namespace quorvane::jobs::windows {
namespace {

using testing::FakeScreenCapture;
using testing::window;

TEST(WindowsResult, ListsDescriptionsWithoutAskingForPermission) {
    FakeScreenCapture service;
    service.windows = {window(2, 800, 600, "B", 0, "two"), window(1, 100, 100),
                       window(3, 640.7, 480, "A")};
    const auto result = windowsResult(service);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(json::serialize(result.object),
              R"({"ok":true,"windows":[{"app":"B","height":600,"id":2,"title":"two","width":800},)"
              R"({"app":"A","height":480,"id":3,"title":"","width":640}]})");
    EXPECT_EQ(service.preflights + service.requests, 0);
}

TEST(WindowsResult, NoRecordableWindowIsAnEmptyList) {
    FakeScreenCapture service;
    service.windows = {window(1, 100, 100)};
    const auto result = windowsResult(service);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(json::serialize(result.object), R"({"ok":true,"windows":[]})");
}

TEST(WindowsResult, FailureMessageDependsOnPermissionAskedAfterwards) {
    FakeScreenCapture service;
    service.failure = "The display went away.";
    service.granted = true;
    auto result = windowsResult(service);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(json::serialize(result.object), R"({"error":"The display went away.","ok":false})");
    EXPECT_EQ(service.preflights, 1);

    service.granted = false;
    result = windowsResult(service);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.object.size(), 2u);
    EXPECT_EQ(json::serialize(result.object),
              json::serialize(
                  json::Object{{"ok", false}, {"error", std::string(kScreenPermissionMessage)}}));
    EXPECT_EQ(service.requests, 0);
}

TEST(ScreenAccessResult, AsksOnlyWhenMissingAndAskIsTheFirstWord) {
    struct Case {
        Args args;
        bool granted, grantedOnRequest;
        int requests;
        bool answer;
    };
    const Case cases[] = {
        {{}, false, true, 0, false},
        {{"ask"}, false, true, 1, true},
        {{"ask"}, false, false, 1, false},
        {{"ask", "more"}, false, true, 1, true},
        {{"now", "ask"}, false, true, 0, false},
        {{"ASK"}, false, true, 0, false},
        {{"ask"}, true, false, 0, true},
        {{}, true, false, 0, true},
    };
    for (const auto& c : cases) {
        FakeScreenCapture service;
        service.granted = c.granted;
        service.grantedOnRequest = c.grantedOnRequest;
        const auto result = screenAccessResult(service, c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(json::serialize(result.object),
                  c.answer ? R"({"granted":true,"ok":true})" : R"({"granted":false,"ok":true})");
        EXPECT_EQ(service.requests, c.requests);
        EXPECT_EQ(service.preflights, 1);
        EXPECT_EQ(service.listings, 0);
    }
}

} // namespace
} // namespace quorvane::jobs::windows
