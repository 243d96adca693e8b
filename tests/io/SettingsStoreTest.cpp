#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "io/TempFolder.h"
#include "platform/SettingsStore.h"

namespace lumora::platform {
namespace {

using lumora::testing::ReadFileText;
using lumora::testing::TempFolder;
using lumora::testing::WriteFileText;

SettingsKey SampleTree() {
    SettingsKey root;
    SettingsKey* camera = root.Create("Software\\Quenta\\Product\\Camera_00");
    camera->SetDword("Size", 0);
    camera->SetDword("Offset", static_cast<uint32_t>(-255));
    camera->SetDword("Big", 0xFFFFFFFFu);
    const uint8_t bytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    camera->SetBinary("Blob", bytes);
    camera->SetBinary("Empty", {});
    camera->SetString("Text", "quote \" backslash \\ newline \n tab \t bracket ] caf\xC3\xA9");
    camera->SetString("", "the default value");
    root.Create("Software\\Quenta\\Product\\Camera_00\\Gray");  // a key without values
    root.Create("Software\\Other")->SetDword("x", 1);
    return root;
}

TEST(SettingsStore, TreeSurvivesAWriteAndReadBackExactly) {
    TempFolder folder;
    SettingsStore store(folder / "deep/er/settings.conf");
    const SettingsKey tree = SampleTree();
    ASSERT_TRUE(store.Update([&](SettingsKey& root) {
        root = tree;
        return true;
    }));
    EXPECT_EQ(store.Read(), tree);
    // Another store object on the same file (as another process would be) sees the same.
    EXPECT_EQ(SettingsStore(store.Path()).Read(), tree);
    const SettingsKey back = store.Read();
    ASSERT_NE(back.Open("software\\QUENTA\\product\\camera_00\\gray"), nullptr);
    EXPECT_EQ(back.Open("Software\\Quenta\\Product\\Camera_00")->QueryDword("OFFSET"),
              static_cast<uint32_t>(-255));
}

TEST(SettingsStore, FileIsReadableTextWithSignedIntegers) {
    TempFolder folder;
    SettingsStore store(folder / "s.conf");
    ASSERT_TRUE(store.Update([](SettingsKey& root) {
        root.Create("A\\B")->SetDword("Offset", static_cast<uint32_t>(-255));
        return true;
    }));
    const std::string text = ReadFileText(store.Path());
    EXPECT_NE(text.find("[A\\B]\n\"Offset\" = dword:-255\n"), std::string::npos) << text;
}

TEST(SettingsStore, QueriesReportMissingAndMistypedValuesAsAbsent) {
    SettingsKey key;
    key.SetBinary("Bin", std::vector<uint8_t>{1, 2, 3, 4});
    key.SetDword("Num", 7);
    EXPECT_FALSE(key.QueryDword("Missing"));
    EXPECT_FALSE(key.QueryDword("Bin"));  // four bytes, but not a DWORD
    EXPECT_FALSE(key.QueryString("Num"));
    EXPECT_EQ(key.QueryDword("num"), 7u);
    EXPECT_EQ(key.Open("Nope\\Deeper"), nullptr);
    EXPECT_EQ(key.Create("bad\\\\name"), nullptr);  // empty part
    EXPECT_EQ(key.Create("tab\there"), nullptr);
    EXPECT_FALSE(key.SetDword("new\nline", 1));
}

TEST(SettingsStore, EditThatDeclinesWritesNothing) {
    TempFolder folder;
    SettingsStore store(folder / "s.conf");
    EXPECT_FALSE(store.Update([](SettingsKey& root) {
        root.Create("X");
        return false;
    }));
    EXPECT_FALSE(std::filesystem::exists(store.Path()));
}

TEST(SettingsStore, MissingFileReadsAsEmptyTree) {
    TempFolder folder;
    EXPECT_TRUE(SettingsStore(folder / "none/s.conf").Read().IsEmpty());
}

TEST(SettingsStore, DamagedFileIsReportedKeptAsideAndReadAsAbsent) {
    TempFolder folder;
    SettingsStore store(folder / "s.conf");
    const std::string garbage = "LumoraSettings 1\n[A]\n\"x\" = dword:12abc\nend\n";
    WriteFileText(store.Path(), garbage);
    ::testing::internal::CaptureStderr();
    const SettingsKey root = store.Read();
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(root.IsEmpty());  // not half-loaded: key "A" was fine but is not kept
    EXPECT_NE(report.find("damaged"), std::string::npos);
    EXPECT_NE(report.find("line 3"), std::string::npos) << report;
    EXPECT_FALSE(std::filesystem::exists(store.Path()));
    EXPECT_EQ(ReadFileText(store.Path().string() + ".bad"), garbage);
    // The store goes on working from a fresh tree.
    EXPECT_TRUE(store.Update([](SettingsKey& r) { return r.Create("B")->SetDword("y", 2); }));
    EXPECT_EQ(store.Read().Open("B")->QueryDword("y"), 2u);
}

TEST(SettingsStore, TruncatedFileIsDamagedNotPartlyUsed) {
    TempFolder folder;
    SettingsStore store(folder / "s.conf");
    ASSERT_TRUE(store.Update([](SettingsKey& root) {
        root.Create("A")->SetDword("x", 1);
        root.Create("B")->SetDword("y", 2);
        return true;
    }));
    std::string text = ReadFileText(store.Path());
    text.resize(text.find("[B]"));  // cut at a line boundary
    WriteFileText(store.Path(), text);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(store.Read().IsEmpty());
    ::testing::internal::GetCapturedStderr();
}

TEST(SettingsStore, ParserRefusesMalformedLines) {
    const char* bad[] = {
        "",
        "not settings\nend\n",
        "LumoraSettings 1\n\"x\" = dword:1\nend\n",  // value outside a section
        "LumoraSettings 1\n[A]\n\"x\" = dword:1\n\"X\" = dword:2\nend\n",  // duplicate value
        "LumoraSettings 1\n[A]\n\"x\" = dword:4294967296\nend\n",          // too large
        "LumoraSettings 1\n[A]\n\"x\" = binary:0\nend\n",
        "LumoraSettings 1\n[A]\n\"x\" = string:\"open\nend\n",
        "LumoraSettings 1\n[A]\n\"x\" = float:1\nend\n",
        "LumoraSettings 1\n[A\\]\nend\n",
        "LumoraSettings 1\n[A]\nend\n[B]\n",
    };
    for (const char* text : bad) {
        SettingsKey root;
        std::string error;
        EXPECT_FALSE(ParseSettingsText(text, root, error)) << text;
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(root.IsEmpty());
    }
    SettingsKey root;
    std::string error;
    EXPECT_TRUE(ParseSettingsText(
        "# hand edited\r\nLumoraSettings 1\r\n[A]\r\n\"x\" = dword:0x10\r\nend\r\n", root, error))
        << error;
    EXPECT_EQ(root.Open("A")->QueryDword("x"), 16u);
}

// Several processes add their own values and bump one shared counter at the same time; with
// the lock and the atomic rename nothing is lost and the file never mixes two writers.
TEST(SettingsStore, ConcurrentProcessesNeitherLoseNorMixUpdates) {
    TempFolder folder;
    const std::filesystem::path file = folder / "s.conf";
    constexpr int kProcesses = 4;
    constexpr int kUpdates = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SettingsStore store(file);
            bool ok = true;
            for (int i = 0; i < kUpdates; ++i) {
                ok = store.Update([&](SettingsKey& root) {
                    SettingsKey* key = root.Create("Shared");
                    key->SetDword("Counter", key->QueryDword("Counter").value_or(0) + 1);
                    return key->SetDword("p" + std::to_string(p) + "_" + std::to_string(i), 1);
                }) && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const SettingsKey root = SettingsStore(file).Read();
    const SettingsKey* shared = root.Open("Shared");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->QueryDword("Counter"), static_cast<uint32_t>(kProcesses * kUpdates));
    EXPECT_EQ(shared->ValueMap().size(), static_cast<size_t>(kProcesses * kUpdates + 1));
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".bad"));
}

// Threads of one process contend through the same file lock as processes do.
TEST(SettingsStore, ConcurrentThreadsNeitherLoseNorMixUpdates) {
    TempFolder folder;
    const std::filesystem::path file = folder / "s.conf";
    constexpr int kThreads = 4;
    constexpr int kUpdates = 10;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            SettingsStore store(file);
            for (int i = 0; i < kUpdates; ++i) {
                const bool ok = store.Update([&](SettingsKey& root) {
                    SettingsKey* key = root.Create("Shared");
                    key->SetDword("Counter", key->QueryDword("Counter").value_or(0) + 1);
                    return key->SetDword("t" + std::to_string(t) + "_" + std::to_string(i), 1);
                });
                if (!ok) ++failures;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    const SettingsKey root = SettingsStore(file).Read();
    ASSERT_NE(root.Open("Shared"), nullptr);
    EXPECT_EQ(root.Open("Shared")->QueryDword("Counter"),
              static_cast<uint32_t>(kThreads * kUpdates));
}

TEST(SettingsStore, UnwritableFolderFailsTheWriteAndReadsAsEmpty) {
    TempFolder folder;
    WriteFileText(folder / "file", "a regular file where a folder should be");
    SettingsStore store(folder / "file/sub/s.conf");
    EXPECT_FALSE(store.Update([](SettingsKey& root) { return root.Create("A") != nullptr; }));
    EXPECT_TRUE(store.Read().IsEmpty());
}

TEST(SettingsStore, ReadOnlyFolderKeepsTheStoredFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    TempFolder folder;
    const auto dir = folder / "ro";
    std::filesystem::create_directory(dir);
    SettingsStore store(dir / "s.conf");
    ASSERT_TRUE(store.Update([](SettingsKey& root) { return root.Create("A")->SetDword("x", 1); }));
    ::chmod(dir.c_str(), 0500);
    const bool written =
        store.Update([](SettingsKey& root) { return root.Create("A")->SetDword("x", 2); });
    ::chmod(dir.c_str(), 0700);
    EXPECT_FALSE(written);
    EXPECT_EQ(store.Read().Open("A")->QueryDword("x"), 1u);
}

TEST(SettingsStore, DefaultPathFollowsTheEnvironment) {
    const char* saved = std::getenv("LUMORA_CONFIG_HOME");
    const std::string keep = saved != nullptr ? saved : "";
    const char* savedHome = std::getenv("HOME");
    const std::string keepHome = savedHome != nullptr ? savedHome : "";
    ::setenv("LUMORA_CONFIG_HOME", "/tmp/own", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/tmp/own/LumoraM5XIRTEC3T2Sdk.conf");
    ::unsetenv("LUMORA_CONFIG_HOME");
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/tmp/xdg/quenta/LumoraM5XIRTEC3T2Sdk.conf");
    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", "/tmp/home", 1);
    EXPECT_EQ(SettingsStore::DefaultPath(), "/tmp/home/.config/quenta/LumoraM5XIRTEC3T2Sdk.conf");
    if (saved != nullptr) ::setenv("LUMORA_CONFIG_HOME", keep.c_str(), 1);
    if (savedHome != nullptr) ::setenv("HOME", keepHome.c_str(), 1);
}

}  // namespace
}  // namespace lumora::platform

namespace lumora::platform {
namespace {

TEST(SettingsStoreTarget, SymlinkedFileIsWrittenThroughTheLinkWithItsModeKept) {
    TempFolder folder;
    const auto real = folder / "real.conf";
    const auto link = folder / "s.conf";
    SettingsStore direct(real);
    ASSERT_TRUE(
        direct.Update([](SettingsKey& root) { return root.Create("A")->SetDword("x", 1); }));
    ASSERT_EQ(::chmod(real.c_str(), 0644), 0);
    std::filesystem::create_symlink(real, link);

    SettingsStore store(link);
    ASSERT_TRUE(store.Update([](SettingsKey& root) { return root.Create("A")->SetDword("x", 2); }));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(direct.Read().Open("A")->QueryDword("x"), 2u);
    struct stat info {};
    ASSERT_EQ(::stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST(SettingsStoreTarget, PathNamingAPipeIsNeverReplaced) {
    TempFolder folder;
    const auto pipe = folder / "s.conf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    SettingsStore store(pipe);
    EXPECT_FALSE(store.Update([](SettingsKey& root) { return root.Create("A") != nullptr; }));
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
}

}  // namespace
}  // namespace lumora::platform
