// The module as a file: what it exports, and its resource description's
// flags against those global setup declares.
#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include <gmock/gmock.h>

#include "PluginTestSupport.h"

namespace TEV::PluginTest {
namespace {

using ::testing::ElementsAre;

// Names of the dynamic symbols that `library` defines, with their nm type letters.
std::set<std::string> definedDynamicSymbols(const std::string& library) {
    const std::string command = std::string(NM_PROGRAM) + " -D --defined-only '" + library + "'";
    std::set<std::string> symbols;
    FILE* nm = popen(command.c_str(), "r");
    if (!nm) {
        ADD_FAILURE() << "cannot run " << command;
        return symbols;
    }
    char line[1024];
    while (std::fgets(line, sizeof line, nm)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) symbols.insert(type + " " + name);
    }
    EXPECT_EQ(pclose(nm), 0) << command;
    return symbols;
}

TEST(PluginModule, ExportsEffectMainAndNothingElse) {
    EXPECT_THAT(definedDynamicSymbols(EXAMPLE_PLUGIN_PATH), ElementsAre("T EffectMain"));
}

// The number in `text` after `key` and its opening brace.
unsigned long resourceNumber(const std::string& text, const std::string& key) {
    const std::regex entry(key + R"(\s*\{\s*(0[xX][0-9a-fA-F]+|[0-9]+)\s*\})");
    std::smatch m;
    if (!std::regex_search(text, m, entry)) {
        ADD_FAILURE() << key << " not found in the resource description";
        return 0;
    }
    return std::stoul(m[1].str(), nullptr, 0);
}

TEST_F(PluginTest, TheResourceDescriptionDeclaresTheFlagsAndVersionOfGlobalSetup) {
    std::ifstream in(PIPL_PREPROCESSED);
    ASSERT_TRUE(in) << "missing " << PIPL_PREPROCESSED;
    const std::string pipl((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    start();
    EXPECT_EQ(resourceNumber(pipl, "AE_Effect_Global_OutFlags"), host->declaredOutFlags());
    EXPECT_EQ(resourceNumber(pipl, "AE_Effect_Global_OutFlags_2"), host->declaredOutFlags2());
    EXPECT_EQ(resourceNumber(pipl, "AE_Effect_Version"), host->declaredVersion());
    EXPECT_THAT(pipl, ::testing::HasSubstr("\"ExamplePlugin\""));
}

}  // namespace
}  // namespace TEV::PluginTest
