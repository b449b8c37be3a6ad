// Whole drawings from other projects: each runs to its end without a leak and gives
// exactly the records its NAME.expected lists, through the linked library and through the
// plug-in loaded the way a host loads it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DrawingFiles.hpp"
#include "FakeHost.hpp"
#include "Plugin.hpp"
#include "Transcript.hpp"

namespace {

// The transcript of one run as the text of an expected file, after checking that the run
// gave back all it took from the host.
std::string run(const std::string& bytes, const wqtest::EntryPoints& entry) {
    wqtest::FakeHost host(bytes);
    std::string text;
    for (const std::string& line : wqtest::transcribe(host, entry)) text += line + '\n';
    EXPECT_TRUE(host.poolBlocksLive() == 0 && host.foreignFrees == 0 && host.opens == host.closes);
    return text;
}

TEST(Corpus, RealDrawingsGiveTheirExpectedRecordsLinkedAndLoaded) {
    const std::string dir = std::string(WQ_SHARED_DIR) + "/corpus/real";
    std::vector<std::string> drawings;
    std::string error;
    wqhost::findDrawings(dir, &drawings, &error);
    if (drawings.empty()) GTEST_SKIP() << "no shared drawings at " << dir;

    wqhost::Plugin plugin{};
    char loadError[256] = "";
    ASSERT_TRUE(wqhost::loadPlugin(&plugin, WQ_PLUGIN_PATH, loadError, sizeof loadError))
        << loadError;
    EXPECT_EQ(plugin.version, 1);
    for (const std::string& drawing : drawings) {
        SCOPED_TRACE(drawing);
        std::string bytes, expected;
        ASSERT_TRUE(wqhost::readFile(drawing, &bytes));
        const std::string stem = drawing.substr(0, drawing.size() - 4);  // without ".dxf"
        ASSERT_TRUE(wqhost::readFile(stem + ".expected", &expected));
        EXPECT_EQ(run(bytes, wqtest::linkedEntryPoints()), expected) << "linked";
        EXPECT_EQ(run(bytes, {plugin.startSrcDXF, plugin.getDXFobject, plugin.shutDownDXFsrc}),
                  expected) << "loaded";
    }
    wqhost::unloadPlugin(&plugin);
}

}  // namespace
