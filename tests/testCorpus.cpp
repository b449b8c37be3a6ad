// Whole drawings from other projects, and the project's own hostile ones: each runs to its
// end without a leak, gives exactly the records its NAME.expected lists, and gives the same
// through the plug-in loaded the way a host loads it as through the linked library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "FakeHost.hpp"
#include "Plugin.hpp"
#include "Transcript.hpp"

namespace {

namespace fs = std::filesystem;
using wqtest::FakeHost;
using Lines = std::vector<std::string>;

const std::string kRealDir = std::string(WQ_SHARED_DIR) + "/corpus/real";
const std::string kOwnDir = std::string(WQ_TEST_DATA_DIR) + "/../corpus";

// The drawings of a folder, sorted by name; empty when the folder is absent.
std::vector<fs::path> drawingsIn(const std::string& dir) {
    std::vector<fs::path> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
        if (entry.path().extension() == ".dxf") found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// One run of a drawing, checked for what every run must do: end, and give back all the
// library took from the host and close the document.
Lines runDrawing(const std::string& bytes, const wqtest::EntryPoints& entry) {
    FakeHost host(bytes);
    const Lines lines = wqtest::transcribe(host, entry);
    EXPECT_EQ(host.poolBlocksLive(), 0);
    EXPECT_EQ(host.foreignFrees, 0);
    EXPECT_EQ(host.opens, host.closes);
    EXPECT_FALSE(lines.empty());
    if (!lines.empty()) {
        const std::string& last = lines.back();
        EXPECT_TRUE(last == "D" || last.rfind("FAIL ", 0) == 0) << "ended with " << last;
    }
    return lines;
}

std::string firstDifference(const Lines& got, const Lines& want) {
    const size_t n = std::min(got.size(), want.size());
    size_t i = 0;
    while (i < n && got[i] == want[i]) ++i;
    return "line " + std::to_string(i + 1) + ": got '" + (i < got.size() ? got[i] : "(end)") +
           "', expected '" + (i < want.size() ? want[i] : "(end)") + "' (" +
           std::to_string(got.size()) + " vs " + std::to_string(want.size()) + " lines)";
}

class Corpus : public ::testing::Test {
protected:
    void SetUp() override {
        char error[256] = "";
        loaded = wqhost::loadPlugin(&plugin, WQ_PLUGIN_PATH, error, sizeof error);
        loadError = error;
    }
    void TearDown() override { wqhost::unloadPlugin(&plugin); }

    wqhost::Plugin plugin{};
    bool loaded = false;
    std::string loadError;
};

TEST_F(Corpus, RealDrawingsGiveTheirExpectedRecordsLinkedAndLoaded) {
    const std::vector<fs::path> drawings = drawingsIn(kRealDir);
    if (drawings.empty()) GTEST_SKIP() << "no shared drawings at " << kRealDir;
    ASSERT_TRUE(loaded) << loadError;
    EXPECT_EQ(plugin.version, 1);
    int32_t compared = 0;
    for (const fs::path& drawing : drawings) {
        SCOPED_TRACE(drawing.filename().string());
        std::string bytes;
        ASSERT_TRUE(wqtest::readFile(drawing.string(), &bytes));
        const Lines linked = runDrawing(bytes, wqtest::linkedEntryPoints());
        const Lines viaPlugin = runDrawing(bytes, wqtest::pluginEntryPoints(plugin));
        EXPECT_TRUE(linked == viaPlugin) << firstDifference(viaPlugin, linked);
        Lines expected;
        fs::path expectedPath = drawing;
        expectedPath.replace_extension(".expected");
        if (!wqtest::readLines(expectedPath.string(), &expected)) continue;
        ++compared;
        EXPECT_TRUE(linked == expected) << firstDifference(linked, expected);
    }
    EXPECT_GT(compared, 0) << "no NAME.expected beside the drawings";
}

TEST_F(Corpus, OwnHostileDrawingsEndTheSameWayLinkedAndLoaded) {
    const std::vector<fs::path> drawings = drawingsIn(kOwnDir);
    ASSERT_FALSE(drawings.empty()) << "no drawings in " << kOwnDir;
    ASSERT_TRUE(loaded) << loadError;
    for (const fs::path& drawing : drawings) {
        SCOPED_TRACE(drawing.filename().string());
        std::string bytes;
        ASSERT_TRUE(wqtest::readFile(drawing.string(), &bytes));
        const Lines linked = runDrawing(bytes, wqtest::linkedEntryPoints());
        const Lines viaPlugin = runDrawing(bytes, wqtest::pluginEntryPoints(plugin));
        EXPECT_TRUE(linked == viaPlugin) << firstDifference(viaPlugin, linked);
    }
}

// The line ends of a drawing do not change its records, through the loaded plug-in too.
TEST_F(Corpus, LineEndsDoNotChangeTheRecordsOfTheLoadedPlugin) {
    ASSERT_TRUE(loaded) << loadError;
    const std::string lf =
        "0\nSECTION\n2\nENTITIES\n0\nTEXT\n 1 \nleft\n0\nATTRIB\n1\nA\n2\nB\n0\nENDSEC\n0\nEOF\n";
    const Lines want = {"S", "T 6c656674", "E", "S", "T 41", "T 42", "E", "D"};
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        std::string doc;
        for (char c : lf) {
            if (c == '\n') {
                doc += eol;
            } else {
                doc += c;
            }
        }
        EXPECT_EQ(runDrawing(doc, wqtest::pluginEntryPoints(plugin)), want);
    }
    FakeHost host("0\nEOF\n");
    EXPECT_EQ(wqtest::transcribe(host, wqtest::pluginEntryPoints(plugin)),
              Lines{"FAIL refused Illigal DXF file"});
}

}  // namespace
