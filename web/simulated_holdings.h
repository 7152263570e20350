// What the page's simulated controllers hold, for whoever watches the demo
// (the page's tests among them): JSON from tarvik_web_simulated_controllers().
#pragma once

#include <string>
#include <vector>

#include "sim/sim_setup.h"

namespace tarvik {

// The controllers of the page's simulated bus; set once, before the window runs.
void SetSimulatedControllers(std::vector<SimPopulation> controllers);

// [{"protocol":"boot","regions":[{"mcu":"main","address":N,"bytes":"hex"}],
//   "stamps":[{"mcu":"main","version":N}],"resets":N},
//  {"protocol":"packet","firmware":"hex","transfers":N}]
std::string DescribeSimulatedControllers();

}  // namespace tarvik
