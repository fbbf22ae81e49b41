// The build's fixed locations and test programs, for tests.
#include "FakeServer.h"
#include "TEVLocations.h"

namespace TEV {
namespace Test {

const int kServerPort = TEV_SERVER_PORT;
const char* const kMakerFolder = TEV_MAKER_FOLDER;
const char* const kBuildDir = TEV_TEST_BUILD_DIR;
const char* const kFakeRuntime = TEV_FAKE_RUNTIME;

}  // namespace Test
}  // namespace TEV
