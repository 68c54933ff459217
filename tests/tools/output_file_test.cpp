// The tool's all-or-nothing output file and its checks of inputs, on real files in a
// temporary folder.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tool.h"

namespace orvane_tool {
namespace {

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/orvane_output_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back(0);
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        folder_ = name.data();
    }
    void TearDown() override {
        for (const std::string& name : Names())
            unlink((folder_ + "/" + name).c_str());
        rmdir(folder_.c_str());
    }
    std::string At(const char* name) const { return folder_ + "/" + name; }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        if (DIR* dir = opendir(folder_.c_str())) {
            while (dirent* entry = readdir(dir))
                if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
                    names.push_back(entry->d_name);
            closedir(dir);
        }
        return names;
    }
    static void Put(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Get(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string folder_;
};

TEST_F(OutputFileTest, CommitReplacesTheFileWholeAndKeepsItsMode) {
    Put(At("out"), "old contents");
    ASSERT_EQ(chmod(At("out").c_str(), 0640), 0);
    OutputFile output;
    std::string problem;
    ASSERT_TRUE(output.Open(At("out"), {}, false, &problem)) << problem;
    // The work writes a temporary file beside the destination; the destination is untouched.
    EXPECT_EQ(output.path().rfind(folder_ + "/", 0), 0u) << output.path();
    Put(output.path(), "new");
    EXPECT_EQ(Get(At("out")), "old contents");
    ASSERT_TRUE(output.Commit(&problem)) << problem;
    EXPECT_EQ(Get(At("out")), "new");
    struct stat st;
    ASSERT_EQ(stat(At("out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Names(), std::vector<std::string>{"out"});
}

TEST_F(OutputFileTest, WorkThatIsNotCommittedLeavesTheOldFileAndNoTemporaryFile) {
    Put(At("out"), "old contents");
    {
        OutputFile output;
        std::string problem;
        ASSERT_TRUE(output.Open(At("out"), {}, false, &problem)) << problem;
        Put(output.path(), "half");
    }
    EXPECT_EQ(Get(At("out")), "old contents");
    EXPECT_EQ(Names(), std::vector<std::string>{"out"});
    {
        OutputFile output;
        std::string problem;
        ASSERT_TRUE(output.Open(At("new"), {}, false, &problem)) << problem;
        Put(output.path(), "half");
        output.Discard();
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"out"});
}

TEST_F(OutputFileTest, AnInputIsRefusedAsTheDestinationUnlessInPlace) {
    Put(At("in"), "input");
    ASSERT_EQ(symlink("in", At("link").c_str()), 0);
    ASSERT_EQ(link(At("in").c_str(), At("hard").c_str()), 0);
    std::string problem;
    for (const char* name : {"in", "link", "hard"}) {
        OutputFile output;
        EXPECT_FALSE(output.Open(At(name), {At("in")}, false, &problem)) << name;
        EXPECT_NE(problem.find("input"), std::string::npos) << problem;
    }
    EXPECT_EQ(Get(At("in")), "input");
    // In place, through the link: the file it leads to is replaced and the link stays.
    OutputFile output;
    ASSERT_TRUE(output.Open(At("link"), {At("in")}, true, &problem)) << problem;
    Put(output.path(), "rewritten");
    ASSERT_TRUE(output.Commit(&problem)) << problem;
    EXPECT_EQ(Get(At("in")), "rewritten");
    struct stat st;
    ASSERT_EQ(lstat(At("link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(OutputFileTest, SpecialDestinationsAreWrittenIntoOrRefusedNeverReplaced) {
    std::string problem;
    {
        OutputFile output;
        EXPECT_FALSE(output.Open(folder_, {}, false, &problem));
        EXPECT_NE(problem.find("is a directory"), std::string::npos) << problem;
    }
    {
        OutputFile output;
        EXPECT_FALSE(output.Open(At("missing/out"), {}, false, &problem));
        EXPECT_NE(problem.find("No such file or directory"), std::string::npos) << problem;
    }
    {
        OutputFile output;
        ASSERT_TRUE(output.Open("/dev/null", {}, false, &problem)) << problem;
        Put(output.path(), "into the device");
        ASSERT_TRUE(output.Commit(&problem)) << problem;
        struct stat st;
        ASSERT_EQ(stat("/dev/null", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
    if (access("/dev/full", W_OK) == 0) {
        OutputFile output;
        ASSERT_TRUE(output.Open("/dev/full", {}, false, &problem)) << problem;
        Put(output.path(), "more than it takes");
        EXPECT_FALSE(output.Commit(&problem));
        EXPECT_NE(problem.find("No space left on device"), std::string::npos) << problem;
    }
}

TEST_F(OutputFileTest, InputsAreCheckedBeforeAnyWork) {
    std::string problem;
    EXPECT_FALSE(CheckInput(folder_, &problem));
    EXPECT_NE(problem.find("is a directory"), std::string::npos) << problem;
    EXPECT_FALSE(CheckInput("/dev/zero", &problem));
    EXPECT_NE(problem.find("not a regular file"), std::string::npos) << problem;
    EXPECT_FALSE(CheckInput(At("missing"), &problem));
    EXPECT_NE(problem.find("No such file or directory"), std::string::npos) << problem;
    Put(At("small"), "0123456789");
    EXPECT_TRUE(CheckInput(At("small"), &problem, 10)) << problem;
    EXPECT_FALSE(CheckInput(At("small"), &problem, 9));
    EXPECT_NE(problem.find("larger than any content file"), std::string::npos) << problem;
    FileHead head;
    EXPECT_FALSE(ReadHead(At("small").c_str(), &head, &problem));
    EXPECT_NE(problem.find("too short"), std::string::npos) << problem;
}

}  // namespace
}  // namespace orvane_tool
