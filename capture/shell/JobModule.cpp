#include "shell/JobModule.h"

#include "shell/BuildInfo.h"
#include "shell/Output.h"

#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace quorvane::shell {
namespace {

[[noreturn]] void cannotLoad(std::string_view module, std::string_view why) {
    failWith("Quorvane could not load its " + std::string(module) + " part. " + std::string(why));
}

// Beside the program in the build tree; under ../lib/quorvane/ once installed
// (bin/ and lib/ share a prefix). When neither is there, the name beside the
// program is the one the error gives.
std::filesystem::path modulePath(const std::filesystem::path& program, std::string_view module) {
    const auto file = "quorvane-capture-" + std::string(module) + ".so";
    const auto beside = program.parent_path() / file;
    const auto installed = program.parent_path().parent_path() / "lib" / "quorvane" / file;
    std::error_code ec;
    if (!std::filesystem::exists(beside, ec) && std::filesystem::exists(installed, ec))
        return installed;
    return beside;
}

std::string dlerrorText() {
    const char* text = ::dlerror();
    return text ? text : "";
}

} // namespace

void runJobModule(std::string_view module, const char* entry,
                  const std::vector<std::string>& rest) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) cannotLoad(module, "Its own program file cannot be found: " + ec.message() + ".");
    const auto path = modulePath(self, module);
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) cannotLoad(module, dlerrorText());

    // A module of another build would disagree with the program on the types
    // that cross into the entry; it is refused before its entry is called.
    using BuildText = const char* (*)();
    auto build = reinterpret_cast<BuildText>(::dlsym(handle, "quorvane_module_build_id"));
    if (!build) cannotLoad(module, dlerrorText());
    if (std::strcmp(build(), buildId()) != 0)
        cannotLoad(module, path.string() + " comes from another build than " + self.string() + ".");

    auto run = reinterpret_cast<JobEntry>(::dlsym(handle, entry));
    if (!run) cannotLoad(module, dlerrorText());
    run(rest);
    exitProcess(0); // jobs end the process themselves
}

} // namespace quorvane::shell
