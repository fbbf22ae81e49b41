// Preferences and small helpers of the plug-in's toolbox. No command calls
// them today; they behave the same whenever they are used. Their names mix
// styles (Pref, file_exists, GetEnv) because code shared with the plug-in's
// sibling effects calls them by these names.
#pragma once

#include <string>
#include <vector>

#include "AE_Effect.h"
#include "PluginState.h"

// ---- preferences (the host's application-wide persistent data) ----
// The value under `key` in section "VRAL_Pelmora" (at most 255 characters),
// `def` when it is not stored, "" when the host has no application blob.
// A missing suite throws PF_Err 516.
std::string Pref(PF_InData* in_data, std::string key, std::string def);
// Stores `value` under `key` in section "VRAL_ExamplePlugin". Always true.
bool SetPref(PF_InData* in_data, std::string key, std::string value);
// Pref(...) == "true" exactly.
bool PrefBool(PF_InData* in_data, std::string key, std::string def);

// ---- files, processes, environment ----
bool file_exists(const std::string& path);    // can be opened for reading
bool folder_exists(const std::string& path);  // exists and is a directory
// The whole file as bytes; "" (and a line on stderr) when it can't be opened.
std::string readFileIntoString(const std::string& path);
// The standard output of `command` run through the shell. Throws
// std::runtime_error("popen() failed!") when it cannot be started.
std::string exec(std::string command);
// The variable's value, or "" when it is not set.
std::string GetEnv(const char* name);
// Uniform in [0, 1), freshly seeded from /dev/urandom on every call.
double getRandomDouble();

// ---- install locations ----
std::string GetInstallPath(globalData* global);        // the maker folder
std::string GetPluginInstallPath(globalData* global);  // maker folder + "/ExamplePlugin"

// ---- strings ----
// Case-insensitive containment; an empty `part` is contained in every text.
bool stringContains(std::string text, std::string part);
// Replaces every occurrence of `from` (not empty) left to right, never
// re-scanning inserted text. An empty `from` returns the text unchanged.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
// Cuts at every delimiter, keeping empty pieces ("" gives one empty piece).
// An empty delimiter gives the whole text as one piece.
std::vector<std::string> split(const std::string& text, const std::string& delimiter);
// The non-empty parts joined by `separator`.
std::string join(const std::vector<std::string>& parts, const std::string& separator);
// The label of popup parameter `index`'s current (1-based) value; "" when the
// check-out fails or the value has no label.
std::string GetStringFromPopupValue(PF_InData* in_data, A_long index);
