// What the front end knows about the one plug-in it was made for: the failure
// messages it draws into frames and the log lines they go with, its log file,
// and its Reconnect button. The texts themselves come from the plug-in's own
// header (plugin/UserTexts.h), so the two cannot drift apart.
//
// Every other plug-in loads and renders all the same; it just has no
// overlays to recognise, no log file to read and no Reconnect button.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tevhost/HeadlessHost.h"

namespace TEV::Host::Cli {

// --- Failure messages --------------------------------------------------------

// The three lines of a failure overlay.
struct OverlayText {
    std::string line1, line2, line3;
    // The server was out of reach or lost the job ("Can't connect", a time-out,
    // "no job with request id"): rendering again after Reconnect may succeed.
    // Errors the server states about the request are not outages.
    bool outage = false;
    bool operator==(const OverlayText& o) const {
        return line1 == o.line1 && line2 == o.line2 && line3 == o.line3;
    }
    // The non-empty lines joined by " / ".
    std::string summary() const;
};

// The overlays the plug-in may have drawn, given the messages of the log
// records written during the frame: always its two "Can't connect" overlays
// (drawn without sending, or after a failed exchange), then those derived from each
// "TEV Error in UniversalRender: ..." and "Error in UniversalRender: ..."
// record (an ambiguous record gives several candidates).
std::vector<OverlayText> overlayCandidates(const std::vector<std::string>& log_messages);

// True for the log record of a failed render ("TEV Error in UniversalRender: ..."
// or "Error in UniversalRender: ...").
bool isRenderFailure(const std::string& log_message);

// --- The log file --------------------------------------------------------------

// The plug-in's log file in the build's maker folder:
// <maker>/Logs/<file name of the plug-in without extension>_Adobe.log.
std::string defaultLogFile(const std::string& plugin_path);

// The plug-in's log file as it grows during a render.
class PluginLog {
public:
    explicit PluginLog(std::string path);

    const std::string& path() const { return path_; }
    // The file's size now; 0 when it does not exist.
    std::uint64_t size() const;
    // The messages of the records written from byte `offset` to the end, with
    // their "YYYY-MM-DD HH:MM:SS " stamps removed; a line without a stamp
    // continues the record before it. A file now shorter than `offset` has
    // rotated: it is read from its start. Empty when it cannot be read.
    std::vector<std::string> messagesSince(std::uint64_t offset) const;

private:
    std::string path_;
};

// Why the front end cannot name overlays from `log`, the plug-in's log file
// (`default_path`: where the plug-in logs): it does not exist and the plug-in
// cannot create it, it cannot be read, or the plug-in cannot write it; with the
// folder's owner and mode and the command that fixes them. "" when it can be
// read (or the plug-in will create it on its first line).
std::string logProblem(const PluginLog& log, const std::string& default_path);

// --- The Reconnect button ------------------------------------------------------

// True when the loaded plug-in has the button labelled "Reconnect": it is the
// plug-in this file knows.
bool hasReconnectButton(const HeadlessHost& host);

// Sends the press of the plug-in's button labelled "Reconnect". HostError when
// there is none or the plug-in answers with an error.
void pressReconnect(HeadlessHost& host, InstanceId inst);

}  // namespace TEV::Host::Cli
