// A job module that no build of the program made, for the loader's tests: it
// exports what a real module exports, but its build text (or, built with
// STAND_IN_WITHOUT_BUILD, the build text itself) is not the program's.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef STAND_IN_WITHOUT_BUILD
extern "C" const char* quorvane_module_build_id() {
    return "0.0.2-another-build";
}
#endif

// Never called by a program that checks its modules; says so if it is.
extern "C" [[noreturn]] void quorvane_run_windows(const std::vector<std::string>&) {
    std::puts("{\"ok\":true,\"ranBy\":\"the stand-in module\"}");
    std::_Exit(0);
}
