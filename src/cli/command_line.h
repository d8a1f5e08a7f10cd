// The modes of the program that need no window (and no display): --convert,
// --help and --version.
#pragma once

#include <optional>

// Runs them when the arguments ask for one of them, and gives the exit
// status; nothing when the arguments are for the window.
std::optional<int> runWithoutWindow(int argc, char** argv);
