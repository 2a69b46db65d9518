// The built executable: its mode is decided from the name it was started under and "--app",
// exactly as the unit tests decide it, including through symbolic links.
#include "run_executable.h"
#include "test_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tovanel {
namespace {

namespace fs = std::filesystem;
using test::ExecutableRun;
using test::TestDirectory;
using ::testing::HasSubstr;

// Each mode shows itself by how it fails here, at once: capture mode finds no sound server,
// app mode finds no tovanel-sender beside the executable.
const std::string kCaptureMode = "tovanel-macos-capture: shareable content unavailable: ";
const std::string kAppMode = "PC Tovanel Sender failed to start: ";

class EntryPoint : public ::testing::Test {
  protected:
    TestDirectory dir;
    const std::string executable = TOVANEL_EXECUTABLE;
    test::ScopedEnvironment noServer{"PULSE_SERVER", "unix:" + (dir / "no-server")};
    test::ScopedEnvironment ownTemporaryDirectory{"TMPDIR", dir.path()};

    ExecutableRun run(const std::string& path, const std::vector<std::string>& argv) {
        return test::runExecutable(path, argv, dir.path());
    }

    std::string linkNamed(const std::string& name, const std::string& target) {
        const std::string link = dir / name;
        fs::create_symlink(target, link);
        return link;
    }
};

TEST_F(EntryPoint, PlainNameRunsCaptureMode) {
    const ExecutableRun result = run(executable, {executable});
    EXPECT_THAT(result.standardError, ::testing::StartsWith(kCaptureMode));
    EXPECT_EQ(result.standardOutput, "");
    EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(EntryPoint, AppModeLooksForTheSenderBesideTheExecutable) {
    const ExecutableRun result = run(executable, {executable, "--app"});
    EXPECT_THAT(result.standardError, ::testing::StartsWith(kAppMode));
    EXPECT_THAT(result.standardError, HasSubstr("tovanel-sender"));
    EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(EntryPoint, OtherArgumentsAreIgnored) {
    const ExecutableRun result = run(executable, {executable, "--port", "1", "-app", "--APP"});
    EXPECT_THAT(result.standardError, HasSubstr(kCaptureMode));
}

TEST_F(EntryPoint, AppSwitchAnywhereRunsAppMode) {
    EXPECT_THAT(run(executable, {executable, "x", "--app"}).standardError, HasSubstr(kAppMode));
    EXPECT_THAT(run(executable, {"--app"}).standardError, HasSubstr(kAppMode));
}

TEST_F(EntryPoint, SymlinkNamedLikeTheAppRunsAppMode) {
    for (const char* name : {"Tovanel Sender", "PC Tovanel Sender"}) {
        const std::string link = linkNamed(name, executable);
        EXPECT_THAT(run(link, {link}).standardError, HasSubstr(kAppMode)) << name;
    }
}

TEST_F(EntryPoint, NameThatOnlyResemblesTheAppRunsCaptureMode) {
    for (const char* name : {"tovanel sender", "Tovanel-Sender", "Tovanel Sender "}) {
        const std::string link = linkNamed(name, executable);
        EXPECT_THAT(run(link, {link}).standardError, HasSubstr(kCaptureMode)) << name;
    }
}

TEST_F(EntryPoint, LinkWithAnotherNameToAnAppNamedExecutableRunsCaptureMode) {
    fs::create_directory(dir / "bundle");
    const std::string appNamed = dir / "bundle/Tovanel Sender";
    fs::copy_file(executable, appNamed);
    fs::permissions(appNamed, fs::perms::owner_all);
    const std::string link = linkNamed("capture-link", appNamed);
    EXPECT_THAT(run(link, {link}).standardError, HasSubstr(kCaptureMode));
    EXPECT_THAT(run(link, {link, "--app"}).standardError, HasSubstr(kAppMode));
}

TEST_F(EntryPoint, EmptyArgumentVectorRunsCaptureModeWithoutCrashing) {
    const ExecutableRun result = run(executable, {});
    EXPECT_THAT(result.standardError, HasSubstr(kCaptureMode));
    EXPECT_EQ(result.exitStatus, 1);
}

} // namespace
} // namespace tovanel
