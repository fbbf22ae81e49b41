// The texts the plug-in shows its user: the lines of the messages it draws
// into a frame when a render fails, and the lines it writes to its log file.
//
// They are part of what the plug-in promises: users read them in the viewer,
// scripts and the tev-host front end look for them in frames and in the log.
// The front end includes this header to recognise them, so a text changed
// here changes in both. Change one only on purpose, byte for byte.
#pragma once

namespace UserTexts {

// --- Overlay lines: drawn onto a copy of the input frame (three lines) -------

// The server cannot be reached: line 1 and line 2.
inline constexpr char kCantConnect[] = "Can't connect to the TEVORA";
inline constexpr char kStartOrRestart[] = "Please start or restart it.";
// Line 3 when the server is known to be down and nothing was sent.
inline constexpr char kClickReconnect[] = "Then, click the Reconnect button from this plugin.";
// Line 3 when an exchange has just failed to connect: the same advice without
// the full stop. The two have always differed; frames already rendered show them.
inline constexpr char kClickReconnectAfterFailure[] = "Then, click the Reconnect button from this plugin";

// The server answered with an error text (line 2), or with no result at all
// (line 2 empty), or with a result that does not fit the frame.
inline constexpr char kServerError[] = "Error in Tevora";
// The message library failed: line 2 the error's detail, line 3 its context.
inline constexpr char kLibraryError[] = "Error in Tevora Plugin";
// Any other exception: line 2 its what().
inline constexpr char kGenericError[] = "Generic Error in Tevora";
// Line 3 of the server and generic messages.
inline constexpr char kViewLogs[] = "View logs for details";

// Line 2 (and the log line's text) for results that hold nothing to show.
inline constexpr char kNoResult[] = "the server returned no result";
inline constexpr char kNoResultImage[] = "The result holds no image";

// Shown by the host when a render cannot acquire the host's world suite.
inline constexpr char kCantLoadSuite[] = "Couldn't load suite.";
inline constexpr char kCantReleaseSuite[] = "Couldn't release suite.";

// --- The Reconnect button ------------------------------------------------------

// The row's name and the button's label.
inline constexpr char kReconnectRowName[] = "Start TEVORA and then: ";
inline constexpr char kReconnectLabel[] = "Reconnect";

// --- Log lines ---------------------------------------------------------------

// Written at global setup, before the line "<name>, v<major>.<minor>.<bug> in <host tag>".
inline constexpr char kWelcome[] = "welcome!";

// Prefixes of failure lines, each naming the routine that failed. The
// "TEV Error in" lines carry a message library error, the others any other
// failure (in a render also a server-reported error).
inline constexpr char kRenderLibraryErrorPrefix[] = "TEV Error in UniversalRender: ";
inline constexpr char kRenderErrorPrefix[] = "Error in UniversalRender: ";
inline constexpr char kGlobalSetupLibraryErrorPrefix[] = "TEV Error in GlobalSetup: ";
inline constexpr char kGlobalSetupErrorPrefix[] = "Error in GlobalSetup: ";
inline constexpr char kSequenceSetupLibraryErrorPrefix[] = "TEV Error in SequenceSetup: ";
inline constexpr char kSequenceSetupErrorPrefix[] = "Error in SequenceSetup: ";
inline constexpr char kSetdownErrorPrefix[] = "Could not set down gracefully: ";
// PF_Cmd_RENDER (a host without smart rendering) on a frame it leaves to the
// render bridge's own lines: worlds of different sizes, or a frame it passes on
// unchanged: "<prefix>a frame in pixel format '<code>' (output '<code>')<suffix>".
inline constexpr char kNonSmartRenderErrorPrefix[] = "Error in Render: ";
inline constexpr char kPassedOnUnchanged[] = " can't be processed without smart rendering; it is passed on unchanged";
// Global setdown's first line is "At line 185" and a line break; log readers
// have long matched that fixed line, so it stays as it is.
inline constexpr char kSetdownLinePrefix[] = "At line ";
inline constexpr int kSetdownLineNumber = 185;

// --- The log file --------------------------------------------------------------

// The log file is <maker folder>/Logs/<plug-in name> followed by this. A macro
// so that the path can be joined at compile time.
#define TEV_LOG_FILE_SUFFIX "_Adobe.log"
inline constexpr char kLogFileSuffix[] = TEV_LOG_FILE_SUFFIX;

}  // namespace UserTexts
