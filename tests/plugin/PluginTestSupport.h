// Shared set-up for the plug-in tests: the real ExamplePlugin module (or the
// fault shim in front of it) in the headless host, the fake server on the
// build's port, the plug-in's log file, and pixel helpers that say what the
// output world should hold.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "CaptureStdout.h"
#include "FakeServer.h"
#include "FaultShim.h"
#include "TEV.h"
#include "TestInstall.h"
#include "tevhost/HeadlessHost.h"

namespace TEV::PluginTest {

using namespace TEV::Host;
using namespace TEV::Test;

// Parameter indices of the effect (0 is the input layer).
enum { kReconnect = 1, kTimestamp, kBrightness, kContrast, kSaturation, kEnable, kType };

// The plug-in's log file in the build's maker folder.
std::string logPath();
// The messages of the log file's lines, each line's "YYYY-mm-dd HH:MM:SS "
// stamp checked and removed; a line without that stamp fails the test.
std::vector<std::string> logMessages();
// Number of log messages that begin with `prefix`.
int countLogMessages(const std::string& prefix);

// A map Dict from key/value pairs.
Dict makeMap(std::initializer_list<std::pair<const std::string, Dict>> entries);
// A job result as the server hands it to a render: {"result": {"image": image}}.
Dict renderResult(const Image& image);
// The image of a received render call ("args" → "image").
Image receivedImage(const ReceivedRequest& call);
// The image with every colour sample inverted on its depth's scale
// (255 - v, 32768 - v, 1 - v).
Image inverted(const Image& image);
// A job script whose result is the received frame inverted.
JobScript invertingJob();

// Sample `s` of pixel (x, y) of an image, on its depth's scale.
double sampleAt(const Image& image, int x, int y, int s);

// The output world UniversalRender writes for `image`: its colour samples
// and its alpha, or full alpha for a 3-channel image.
PixelWorld worldFromImage(const Image& image, int padding = PixelWorld::kDefaultRowPadding);
// The 3-channel frame image the plug-in makes of `input` (the input alpha dropped).
Image imageFromWorld(const PixelWorld& input, float downsample = 1.0f);
// What the output world holds when the plug-in draws the three lines on `input`.
PixelWorld expectedOverlay(const PixelWorld& input, const std::string& line1, const std::string& line2,
                           const std::string& line3, float scale = 1.0f);
// Number of pixels (all four channels compared exactly) in which a and b differ.
long differingPixels(const PixelWorld& a, const PixelWorld& b);
// True when every channel of every pixel is zero.
bool allZero(const PixelWorld& world);
// Rows whose every pixel is the input pixel darkened to 40 % (and opaque).
int darkenedRows(const PixelWorld& input, const PixelWorld& output);
// Writes the world as an 8-bit RGBA PNG into pictures/ of the working
// directory (under ctest: the suite's build folder); returns the path.
std::string writePng(const PixelWorld& world, const std::string& name);

// A host with the effect loaded and set up (global and parameter setup).
// Every test ends with global setdown and the host's books balanced.
class PluginTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Loads `module`, runs global and parameter setup and expects both to succeed.
    HeadlessHost& start(HostOptions options = {}, const std::string& module = EXAMPLE_PLUGIN_PATH);
    // As start(), through the fault shim configured with `config`.
    HeadlessHost& startShim(const FaultShimConfig& config, HostOptions options = {});
    // Loads and global-sets-up nothing: the caller drives the commands.
    HeadlessHost& load(HostOptions options = {}, const std::string& module = EXAMPLE_PLUGIN_PATH);
    // Starts the fake server on the build's port.
    FakeServer& startServer();

    // The call_plugin requests of function "render" the server received.
    std::vector<ReceivedRequest> renderCalls() const;

    std::unique_ptr<HeadlessHost> host;
    std::unique_ptr<FakeServer> server;
};

// The same tests in each host profile: After Effects (smart rendering, the
// parameters checked out) and Premiere Pro (frame setup, render and frame
// setdown, the parameters in the params array, no AEGP suites).
class ProfileTest : public PluginTest, public ::testing::WithParamInterface<HostProfile> {
protected:
    // `options` in this test's profile: its identity, withheld suites and render commands.
    HostOptions inProfile(HostOptions options = {}) const;
    bool smart() const { return GetParam() == HostProfile::AfterEffects; }
    // The host tag of the identification line: "ae13" or "premiere13".
    std::string hostTag() const;
    // The depths whose frames the plug-in processes in this profile: 8, 16
    // and 32 with smart rendering; 8 and 16 without.
    std::vector<int> processedDepths() const;
};

// "AfterEffects" or "PremierePro", for the names of parameterised tests.
std::string profileParamName(const ::testing::TestParamInfo<HostProfile>& info);

}  // namespace TEV::PluginTest
