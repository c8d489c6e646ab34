// Starting the program: options, the home folder, the built-in simulated instrument, the
// window and its message loop.
#pragma once

namespace dielmon {

int RunProgram(int argc, char** argv);

} // namespace dielmon
