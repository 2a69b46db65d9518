// POSIX files: atomic replacement (complete content only, exclusive unpredictable temporary
// names, planted links replaced and never followed), temporary directory, path resolution.
#include "platform/posix/files.h"
#include "test_directory.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

namespace tovanel::platform::posix {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::ScopedEnvironment;
using test::TestDirectory;
using test::writeFile;
using ::testing::HasSubstr;

std::vector<std::string> entriesOf(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicReplacement, WritesExactlyTheGivenBytes) {
    TestDirectory dir;
    PosixFiles files;
    const std::string target = dir / "tovanel-sender-48100-status.txt";
    for (std::string content :
         {std::string("ok: screenFrames=1 audioBuffers=2"), std::string("ends with a space "),
          std::string(""), std::string("caf\xC3\xA9 \xEB\x8B\xA4\xEC\xA4\x91"),
          std::string("no newline at the end")}) {
        ASSERT_EQ(files.replaceFileAtomically(target, content), std::nullopt);
        EXPECT_EQ(readFile(target), content);
    }
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"tovanel-sender-48100-status.txt"});
}

TEST(AtomicReplacement, ReplacesAPlantedSymlinkInsteadOfFollowingIt) {
    TestDirectory dir;
    PosixFiles files;
    const std::string victim = dir / "victim";
    writeFile(victim, "precious");
    const std::string target = dir / "status.txt";
    fs::create_symlink(victim, target);

    ASSERT_EQ(files.replaceFileAtomically(target, "new"), std::nullopt);
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(target)));
    EXPECT_EQ(readFile(target), "new");
}

TEST(AtomicReplacement, NeverOpensAPlantedTemporaryName) {
    // Someone who guessed a temporary name and planted a link there must gain nothing: the
    // link is not followed, and the next name is tried.
    TestDirectory dir;
    const std::string victim = dir / "victim";
    writeFile(victim, "precious");
    fs::create_symlink(victim, dir / ".status.txt.guessed.tmp");
    writeFile(dir / ".status.txt.taken.tmp", "someone else's");
    std::vector<std::string> names{"guessed", "taken", "fresh"};
    std::size_t next = 0;
    PosixFiles files([&] { return names.at(next++); });

    ASSERT_EQ(files.replaceFileAtomically(dir / "status.txt", "new"), std::nullopt);
    EXPECT_EQ(next, 3u);
    EXPECT_EQ(readFile(victim), "precious");
    EXPECT_EQ(readFile(dir / ".status.txt.taken.tmp"), "someone else's");
    EXPECT_EQ(readFile(dir / "status.txt"), "new");
}

TEST(AtomicReplacement, GivesUpWhenEveryNameIsTaken) {
    TestDirectory dir;
    writeFile(dir / ".status.txt.same.tmp", "");
    PosixFiles files([] { return std::string("same"); });
    const auto error = files.replaceFileAtomically(dir / "status.txt", "new");
    ASSERT_TRUE(error.has_value());
    EXPECT_THAT(error->localizedDescription(), HasSubstr("File exists"));
    EXPECT_FALSE(fs::exists(dir / "status.txt"));
}

TEST(AtomicReplacement, TemporaryNamesAreUnpredictable) {
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = unpredictableName();
        ASSERT_EQ(name.size(), 16u);
        for (char c : name) {
            ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << name;
        }
        seen.insert(name);
    }
    EXPECT_EQ(seen.size(), 2000u);
}

TEST(AtomicReplacement, ReportsAMissingDirectoryAndCreatesNothing) {
    TestDirectory dir;
    PosixFiles files;
    const auto error = files.replaceFileAtomically(dir / "missing/status.txt", "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->call, "open");
    EXPECT_THAT(error->localizedDescription(), HasSubstr("missing/status.txt"));
    EXPECT_THAT(error->localizedDescription(), HasSubstr("No such file or directory"));
    EXPECT_TRUE(entriesOf(dir.path()).empty());
}

TEST(AtomicReplacement, ReportsATargetThatIsADirectoryAndLeavesNothingBehind) {
    TestDirectory dir;
    fs::create_directory(dir / "status.txt");
    PosixFiles files;
    const auto error = files.replaceFileAtomically(dir / "status.txt", "x");
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->call, "rename");
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"status.txt"});
}

TEST(AtomicReplacement, AReaderOnlyEverSeesOneCompleteMessage) {
    TestDirectory dir;
    PosixFiles files;
    const std::string target = dir / "status.txt";
    // Messages of very different lengths, so a torn read would show.
    std::vector<std::string> messages;
    for (int writer = 0; writer < 6; ++writer) {
        messages.push_back("ok: writer=" + std::to_string(writer) + " " +
                           std::string(static_cast<std::size_t>(1 + writer * 3000), 'a' + writer));
    }
    ASSERT_EQ(files.replaceFileAtomically(target, messages[0]), std::nullopt);
    const std::set<std::string> complete(messages.begin(), messages.end());

    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> writers;
    for (int writer = 0; writer < 6; ++writer) {
        writers.emplace_back([&, writer] {
            while (!stop) {
                if (files.replaceFileAtomically(target, messages[writer])) {
                    ++failures;
                }
            }
        });
    }
    int reads = 0;
    int torn = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
    while (std::chrono::steady_clock::now() < until) {
        if (!complete.count(readFile(target))) {
            ++torn;
        }
        ++reads;
    }
    stop = true;
    for (auto& writer : writers) {
        writer.join();
    }
    EXPECT_GT(reads, 100);
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{"status.txt"});
}

struct TemporaryDirectoryCase {
    const char* name;
    std::optional<std::string> tmpdir;
    std::string expected;
};

class TemporaryDirectory : public ::testing::TestWithParam<TemporaryDirectoryCase> {};

TEST_P(TemporaryDirectory, ComesFromTmpdirOrIsSlashTmp) {
    ScopedEnvironment environment("TMPDIR", GetParam().tmpdir);
    EXPECT_EQ(PosixFiles().temporaryDirectory(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TemporaryDirectory,
    ::testing::Values(TemporaryDirectoryCase{"Unset", std::nullopt, "/tmp"},
                      TemporaryDirectoryCase{"Empty", "", "/tmp"},
                      TemporaryDirectoryCase{"Set", "/var/tmp/user", "/var/tmp/user"},
                      TemporaryDirectoryCase{"TrailingSlashes", "/var/tmp/user//", "/var/tmp/user"},
                      TemporaryDirectoryCase{"Root", "/", "/"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PathResolution, ResolvesEverySymlinkOnThePath) {
    TestDirectory dir;
    const std::string real = fs::canonical(dir.path()).string();
    fs::create_directories(real + "/app.dir/bin");
    writeFile(real + "/app.dir/bin/capture", "");
    fs::create_directory_symlink(real + "/app.dir", real + "/linked-dir");
    fs::create_symlink(real + "/linked-dir/bin/capture", real + "/Tovanel Sender");
    fs::create_symlink("Tovanel Sender", real + "/second hop"); // a relative link to a link

    PosixFiles files;
    EXPECT_EQ(files.resolvingSymlinksInPath(real + "/Tovanel Sender"),
              real + "/app.dir/bin/capture");
    EXPECT_EQ(files.resolvingSymlinksInPath(real + "/second hop"), real + "/app.dir/bin/capture");
    EXPECT_EQ(files.resolvingSymlinksInPath(real + "/linked-dir/./bin/../bin/capture"),
              real + "/app.dir/bin/capture");
}

TEST(PathResolution, KeepsAMissingLastComponentAndResolvesItsDirectory) {
    TestDirectory dir;
    const std::string real = fs::canonical(dir.path()).string();
    fs::create_directory(real + "/bin");
    fs::create_directory_symlink(real + "/bin", real + "/link");
    PosixFiles files;
    EXPECT_EQ(files.resolvingSymlinksInPath(real + "/link/tovanel-sender"),
              real + "/bin/tovanel-sender");
    EXPECT_EQ(files.resolvingSymlinksInPath(real + "/nowhere/at/all"), real + "/nowhere/at/all");
}

TEST(CurrentDirectory, IsTheProcessWorkingDirectory) {
    EXPECT_EQ(PosixFiles().currentDirectory(), fs::current_path().string());
}

} // namespace
} // namespace tovanel::platform::posix
