// The line every object becomes, even when the writer refuses it, and the
// failure line of the job boundary.
#include "shell/Output.h"
#include "shell/JobBoundary.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>
#include <stdexcept>

namespace {

using namespace quorvane;

TEST(OutputLine, ARefusedObjectIsStillOneLineOfValidText) {
    const struct {
        const char* name;
        json::Object object;
        std::string line;
    } cases[] = {
        {"valid", {{"ok", true}, {"file", "a/b.mov"}}, R"({"file":"a\/b.mov","ok":true})"},
        {"invalid text",
         {{"ok", true}, {"file", "take\xff.mov"}},
         "{\"file\":\"take\xEF\xBF\xBD.mov\",\"ok\":true}"},
        {"invalid key", {{"k\xC3", 1}}, "{\"k\xEF\xBF\xBD\":1}"},
        {"nested",
         {{"list", json::Array{json::Object{{"name", "\xE2\x82"}}}}},
         "{\"list\":[{\"name\":\"\xEF\xBF\xBD\"}]}"},
        {"not finite",
         {{"x", std::numeric_limits<double>::infinity()}, {"y", json::Decimal{NAN}}, {"t", "\xff"}},
         "{\"t\":\"\xEF\xBF\xBD\",\"x\":null,\"y\":null}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string line = shell::lineFor(c.object);
        EXPECT_EQ(line, c.line);
        EXPECT_TRUE(text::isValidUtf8(line));
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
}

TEST(JobBoundary, FailureLineNamesTheJobAndTheReason) {
    const shell::JobFailure failure{"The recording failed."};
    const struct {
        const char* name;
        std::exception_ptr error;
        std::string line;
    } cases[] = {
        {"memory", std::make_exception_ptr(std::bad_alloc()),
         "The recording failed. There was not enough memory."},
        {"library message over lines",
         std::make_exception_ptr(
             std::runtime_error("OpenCV(4.6.0) error:\n\tInsufficient memory\n")),
         "The recording failed. OpenCV(4.6.0) error: Insufficient memory"},
        {"invalid text", std::make_exception_ptr(std::runtime_error("no file at \xff")),
         "The recording failed. no file at \xEF\xBF\xBD"},
        {"empty message", std::make_exception_ptr(std::runtime_error("")),
         "The recording failed. Something went wrong that Quorvane did not expect."},
        {"not an exception", std::make_exception_ptr(42),
         "The recording failed. Something went wrong that Quorvane did not expect."},
        {"nothing", nullptr,
         "The recording failed. Something went wrong that Quorvane did not expect."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(shell::failureText(failure, c.error), c.line);
    }
}

} // namespace
