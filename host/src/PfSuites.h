// The table of suites the host offers, filled by the PF and AEGP sources.
#pragma once

#include <map>
#include <string>
#include <utility>

namespace TEV::Host {

using SuiteTable = std::map<std::pair<std::string, int>, const void*>;

void addPfSuites(SuiteTable& table);
void addAegpSuites(SuiteTable& table);

}  // namespace TEV::Host
