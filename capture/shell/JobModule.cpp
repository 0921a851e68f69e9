#include "shell/JobModule.h"

#include "shell/Output.h"

#include <dlfcn.h>
#include <filesystem>
#include <system_error>

namespace quorvane::shell {

void runJobModule(std::string_view module, const std::string& command,
                  const std::vector<std::string>& rest) {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto path = self.parent_path() / ("quorvane-capture-" + std::string(module) + ".so");
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        failWith("Quorvane could not load its " + std::string(module) + " part. " +
                 std::string(::dlerror()));
    using Entry = void (*)(const std::string&, const std::vector<std::string>&);
    auto entry = reinterpret_cast<Entry>(::dlsym(handle, "quorvane_job_entry"));
    if (!entry)
        failWith("Quorvane could not load its " + std::string(module) + " part. " +
                 std::string(::dlerror()));
    entry(command, rest);
    exitProcess(0); // jobs end the process themselves
}

} // namespace quorvane::shell
