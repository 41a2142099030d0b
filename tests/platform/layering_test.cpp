// SPDX-License-Identifier: GPL-2.0-or-later
// The platform layer is the bottom one: none of its files includes a header
// of another layer or names a class that another layer defines.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isSource(const fs::path& path)
{
    const std::string ext = path.extension().string();
    return ext == ".h" || ext == ".cpp" || ext == ".c";
}

}  // namespace

TEST(PlatformLayer, KnowsNoClassOrHeaderOfTheLayersAboveIt)
{
    const fs::path src = fs::path(QX_SOURCE_DIR) / "src";
    const fs::path platform = src / "platform";

    // Every class or struct that a header outside the platform layer defines.
    const std::regex definition(R"((?:^|\n)\s*(?:class|struct)\s+(\w+)\s*(?:final\s*)?[:{])");
    std::set<std::string> upperClasses;
    for (const auto& e : fs::recursive_directory_iterator(src)) {
        if (!e.is_regular_file() || e.path().extension() != ".h")
            continue;
        if (e.path().string().rfind(platform.string() + "/", 0) == 0)
            continue;
        const std::string text = readFile(e.path());
        for (std::sregex_iterator m(text.begin(), text.end(), definition), end; m != end; ++m)
            upperClasses.insert((*m)[1]);
    }
    ASSERT_TRUE(upperClasses.count("TFormImage"));  // the scan sees the dialogs
    ASSERT_TRUE(upperClasses.count("RecordTable"));

    const std::regex include(R"(#\s*include\s*"(\w+)/)");
    const std::regex word(R"(\b[A-Za-z_]\w*\b)");
    int files = 0;
    for (const auto& e : fs::directory_iterator(platform)) {
        if (!e.is_regular_file() || !isSource(e.path()))
            continue;
        ++files;
        SCOPED_TRACE(e.path().filename().string());
        const std::string text = readFile(e.path());
        for (std::sregex_iterator m(text.begin(), text.end(), include), end; m != end; ++m)
            EXPECT_EQ((*m)[1], "platform");
        for (std::sregex_iterator m(text.begin(), text.end(), word), end; m != end; ++m)
            EXPECT_FALSE(upperClasses.count(m->str())) << m->str();
    }
    EXPECT_GT(files, 5);
}
