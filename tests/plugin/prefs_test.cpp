#include "plugin/app_data_folder.h"
#include "plugin/prefs.h"
#include "tests/io/storage_test_folder.h"

#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string textOf(const fs::path& path) {
    const std::vector<std::uint8_t> bytes = cvtest::contentsOf(path);
    return std::string(bytes.begin(), bytes.end());
}

void writeText(const fs::path& path, const std::string& text) {
    cvtest::writeBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 0777;
}

} // namespace

TEST(Prefs, ReadsTheFileLineByLineAndParsesIntegersStrictly) {
    cvtest::ScratchFolder folder;
    writeText(folder / "prefs.ini", "# comment=9\nexportDepthIdx=2\nno equals sign\n\n=empty key\n"
                                    "exportDepthIdx=0\ncr=3\r\nspace= 3\nx=3x\nplus=+3\nminus=-3\n"
                                    "plusminus=+-3\nempty=\nmax=2147483647\nover=2147483648\n"
                                    "min=-2147483648\nhex=0x10\ntrail=3 \nlast=7");
    const cv::Prefs prefs(folder.path());
    struct Case {
        const char* key;
        int expected; // with fallback 5
    };
    const Case cases[] = {
        {"exportDepthIdx", 0},
        {"# comment", 5},
        {"cr", 3}, // a line end of another system
        {"space", 3},
        {"x", 5},
        {"plus", 3},
        {"minus", -3},
        {"plusminus", 5},
        {"empty", 5},
        {"max", 2147483647},
        {"over", 5},
        {"min", -2147483647 - 1},
        {"hex", 5},
        {"trail", 5},
        {"last", 7},
        {"absent", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(prefs.getInt(c.key, 5), c.expected);
    }
    EXPECT_TRUE(prefs.lastError().empty());
}

TEST(Prefs, SetMergesIntoTheFileAsOtherInstancesLeftIt) {
    cvtest::ScratchFolder folder;
    writeText(folder / "prefs.ini", "# written by hand\nexportDepthIdx=2\n");
    cv::Prefs prefs(folder.path());
    // Another instance adds a key after this store was loaded.
    writeText(folder / "prefs.ini", "exportDepthIdx=2\nautosaveEnabled=0\n");
    ASSERT_TRUE(prefs.set("a4Idx", "5")) << prefs.lastError();
    EXPECT_EQ(textOf(folder / "prefs.ini"), "a4Idx=5\nautosaveEnabled=0\nexportDepthIdx=2\n");
    EXPECT_EQ(modeOf(folder / "prefs.ini"), 0600u);
    EXPECT_EQ(prefs.getInt("a4Idx", 3), 5);
    EXPECT_EQ(prefs.getInt("autosaveEnabled", 1), 1); // this store's copy is not reloaded
    EXPECT_EQ(cv::Prefs(folder.path()).getInt("autosaveEnabled", 1), 0);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"prefs.ini", "prefs.ini.lock"}));
}

TEST(Prefs, RefusesBadKeysAndValuesAndChangesNothing) {
    cvtest::ScratchFolder folder;
    cv::Prefs prefs(folder.path());
    ASSERT_TRUE(prefs.set("a4Idx", "4"));
    const std::string before = textOf(folder / "prefs.ini");
    const std::pair<std::string, std::string> refused[] = {
        {"a=b", "1"},  {"", "1"},        {"#a4Idx", "1"},  {"a\nb", "1"},
        {"a\rb", "1"}, {"a4Idx", "1\n"}, {"a4Idx", "1\r"},
    };
    for (const auto& [key, value] : refused) {
        SCOPED_TRACE(key + "=" + value);
        EXPECT_FALSE(prefs.set(key, value));
        EXPECT_EQ(prefs.lastError(), "Couldn't save that preference.");
        EXPECT_EQ(prefs.getInt("a4Idx", 0), 4);
        EXPECT_EQ(textOf(folder / "prefs.ini"), before);
    }
    EXPECT_TRUE(prefs.set("a4Idx", "6"));
    EXPECT_TRUE(prefs.lastError().empty()); // a good save clears the last failure
}

TEST(Prefs, AFailedSaveRollsBackAndKeepsTheFile) {
    cvtest::ScratchFolder folder;
    writeText(folder / "prefs.ini", "a4Idx=4\n");
    // A write that fails at the file-size limit, in a child so the limit stays there.
    const int status = cvtest::runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        cv::Prefs prefs(folder.path());
        const rlimit limit{16, 16};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 10;
        }
        if (prefs.set("a4Idx", std::string(64, '7')) || prefs.lastError().empty() ||
            prefs.getInt("a4Idx", 0) != 4) {
            return 11;
        }
        if (prefs.set("exportDepthIdx", std::string(64, '1')) || prefs.getInt("exportDepthIdx", -1) != -1) {
            return 12;
        }
        return 0;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(textOf(folder / "prefs.ini"), "a4Idx=4\n");
    EXPECT_EQ(folder.names(), (std::set<std::string>{"prefs.ini", "prefs.ini.lock"}));

    // A file over the read limit is neither read nor overwritten.
    const std::string oversized = "a4Idx=4\n" + std::string(cv::kPrefsMaxFileBytes, '#');
    writeText(folder / "prefs.ini", oversized);
    cv::Prefs prefs(folder.path());
    EXPECT_EQ(prefs.getInt("a4Idx", 3), 3);
    EXPECT_FALSE(prefs.set("a4Idx", "5"));
    EXPECT_EQ(prefs.lastError(), "The file exceeds the supported size limit");
    EXPECT_EQ(prefs.getInt("a4Idx", 3), 3);
    EXPECT_EQ(textOf(folder / "prefs.ini"), oversized);

    // Without a folder nothing can be saved.
    cv::Prefs nowhere{fs::path()};
    EXPECT_FALSE(nowhere.set("a4Idx", "5"));
    EXPECT_EQ(nowhere.getInt("a4Idx", 3), 3);
}

// A save that would make the file larger than the reader reads is refused, so the file never locks
// every later read and save out; a save that lands exactly on the limit is taken.
TEST(Prefs, RefusesASaveThatWouldPassTheReadLimitAndKeepsTheFile) {
    cvtest::ScratchFolder folder;
    // One entry of filler whose line leaves room for exactly "a4Idx=5\n" (8 bytes) within the limit.
    const std::string filler = "filler=" + std::string(cv::kPrefsMaxFileBytes - 8 - 8, 'x') + "\n";
    writeText(folder / "prefs.ini", filler);
    cv::Prefs prefs(folder.path());
    EXPECT_FALSE(prefs.set("a4Idx", "55"));
    EXPECT_EQ(prefs.lastError(), "Couldn't save that preference: " + (folder / "prefs.ini").string() +
                                     " would pass the 65536-byte limit of the preferences file.");
    EXPECT_EQ(prefs.getInt("a4Idx", 3), 3);
    EXPECT_TRUE(textOf(folder / "prefs.ini") == filler) << "the file changed";
    ASSERT_TRUE(prefs.set("a4Idx", "5")) << prefs.lastError();
    EXPECT_EQ(textOf(folder / "prefs.ini").size(), cv::kPrefsMaxFileBytes);
    EXPECT_EQ(cv::Prefs(folder.path()).getInt("a4Idx", 3), 5);
}

TEST(Prefs, TwoProcessesChangingDifferentKeysKeepBoth) {
    cvtest::ScratchFolder folder;
    constexpr int kKeysEach = 25;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (const char* prefix : {"first", "second"}) {
        const pid_t child = ::fork();
        if (child == 0) {
            char go = 0;
            ::close(start[1]);
            // Both wait for the same byte-less end of the pipe, so they begin together.
            [[maybe_unused]] const ssize_t got = ::read(start[0], &go, 1);
            cv::Prefs prefs(folder.path());
            int failures = 0;
            for (int i = 0; i < kKeysEach; ++i) {
                failures += prefs.set(prefix + std::to_string(i), std::to_string(i)) ? 0 : 1;
            }
            ::_exit(failures);
        }
        children.push_back(child);
    }
    ::close(start[0]);
    ::close(start[1]); // releases both children at once
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const cv::Prefs merged(folder.path());
    for (const char* prefix : {"first", "second"}) {
        for (int i = 0; i < kKeysEach; ++i) {
            EXPECT_EQ(merged.getInt(prefix + std::to_string(i), -1), i) << prefix << i;
        }
    }
}

TEST(AppDataFolder, ChosenFromXdgDataHomeHomeOrTheAccountRecord) {
    using Sources = cv::detail::AppDataSources;
    const char* notFound = "Corvalinth can't find its application data folder.";
    const char* inaccessible = "Corvalinth can't access its application data folder.";
    struct Case {
        const char* name;
        Sources sources;
        std::string folder;
        const char* error;
    };
    const std::vector<Case> cases = {
        {"home", {"/h", std::nullopt, "/acct"}, "/h/.local/share/Corvalinth", ""},
        {"empty home uses the account", {"", std::nullopt, "/acct"}, "/acct/.local/share/Corvalinth", ""},
        {"unset home uses the account",
         {std::nullopt, std::nullopt, "/acct"},
         "/acct/.local/share/Corvalinth",
         ""},
        {"no home at all", {std::nullopt, std::nullopt, std::nullopt}, "", notFound},
        {"relative home", {"h", std::nullopt, "/acct"}, "", inaccessible},
        {"relative account home", {"", std::nullopt, "acct"}, "", inaccessible},
        {"xdg data home", {"/h", "/data", "/acct"}, "/data/Corvalinth", ""},
        {"xdg data home without any home", {std::nullopt, "/data", std::nullopt}, "/data/Corvalinth", ""},
        {"empty xdg data home", {"/h", "", "/acct"}, "/h/.local/share/Corvalinth", ""},
        {"relative xdg data home is ignored", {"/h", "data", "/acct"}, "/h/.local/share/Corvalinth", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error = "stale";
        EXPECT_EQ(cv::detail::appDataDirFrom(c.sources, &error), fs::path(c.folder));
        EXPECT_EQ(error, c.error);
    }
}

TEST(AppDataFolder, SharedStoreLivesInAPrivateFolderUnderHome) {
    cvtest::ScratchFolder home;
    // In a child: the environment and the process-wide store stay the child's own.
    const int status = cvtest::runInChild([&] {
        ::setenv("HOME", home.path().c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        return cv::Prefs::shared().set(cv::kPrefA4Idx, "6") ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const fs::path folder = home / ".local/share/Corvalinth";
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(modeOf(folder / "prefs.ini"), 0600u);
    EXPECT_EQ(cv::Prefs(folder).getInt(cv::kPrefA4Idx, 3), 6);

    // A plain file where the folder should be: the folder cannot be made.
    cvtest::ScratchFolder blocked;
    writeText(blocked / ".local", "");
    const int refused = cvtest::runInChild([&] {
        ::setenv("HOME", blocked.path().c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
        std::string error;
        const bool failed = cv::appDataDir(&error).empty() &&
                            error == "Corvalinth can't access its application data folder." &&
                            cv::Prefs::shared().lastError() == error && !cv::Prefs::shared().set("a", "1");
        return failed ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(refused));
    EXPECT_EQ(WEXITSTATUS(refused), 0);
}
