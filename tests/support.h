// Running the program over a simulated machine.
#pragma once

#include <string>
#include <vector>

#include "sim/machine.h"

namespace test {

// Runs the program's main on `machine` from a clean process state; returns its exit code.
int RunMain(sim::Machine& machine, const std::vector<std::string>& args = {});

// Puts every module variable back to its start and installs `machine` for a unit test.
void Fresh(sim::Machine& machine);

// The texts of a catalogue entry as the console shows them (UTF-8).
std::string En(int id);
std::string Ja(int id);

// The conversion specifications of a format string, in order, separated by spaces ("%d %.4s").
std::string Placeholders(const char* format);

}  // namespace test
