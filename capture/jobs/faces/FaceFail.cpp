#include "jobs/faces/Faces.h"

#include "shell/Output.h"
#include "json/Writer.h"

namespace quorvane::jobs::faces {

void faceFail(std::string_view message) {
    // File names in the message are the user's, in whatever encoding.
    shell::finishWithPlainError(message);
}

void printFaces(const json::Object& result) {
    // The host application must not mistake a half-written object for a
    // result, so a result that cannot be written is a failure of its own.
    if (!json::trySerialize(result)) faceFail("Quorvane could not write the faces it found.");
    shell::finish(result, 0);
}

} // namespace quorvane::jobs::faces
