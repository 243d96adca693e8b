// File names with counters, settings profiles, the translation catalogue and the temperature
// history.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "FileNamePattern.h"
#include "MessageCatalog.h"
#include "SettingsProfile.h"
#include "TemperatureHistory.h"

namespace lumora_viewer::testing {
namespace {

TEST(FileNamePattern, HashesBecomeTheCounterAndExistingFilesAreSkipped) {
    const auto p = FileNamePattern::Parse("swir-####-a");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->NameFor(7, ".png"), "swir-0007-a.png");
    EXPECT_EQ(p->NameFor(123456, ".png"), "swir-123456-a.png");
    EXPECT_EQ(FileNamePattern::Parse("plain")->NameFor(3, ".tif"), "plain_0003.tif");
    EXPECT_EQ(FileNamePattern::Parse("x#")->NameFor(12, ""), "x12");

    // Names are judged without their extension: 8 is taken by another kind of file.
    const std::set<std::string> present = {"out/swir-0007-a", "out/swir-0008-a"};
    const auto slot = p->NextFree(
        "out", 7, ".png", [&](const std::string& stem) { return present.count(stem) != 0; });
    EXPECT_EQ(slot.counter, 9);
    EXPECT_EQ(slot.path, "out/swir-0009-a.png");
}

TEST(FileNamePattern, NamesThatLeaveTheFolderAreRefused) {
    for (const char* bad : {"", "a/b", "../x", "/tmp/x", ".", ".."})
        EXPECT_FALSE(FileNamePattern::Parse(bad)) << bad;
}

TEST(SettingsProfile, RoundTripsInOrderAndReportsMalformedLines) {
    SettingsProfile p;
    p.Set("bits", "16");
    p.Set("window", "0 0 640 512");
    p.Set("gain", "12");
    p.Set("bits", "8");  // replaced in place
    std::vector<std::string> problems;
    const auto back = SettingsProfile::Parse(p.Text(), problems);
    ASSERT_TRUE(back);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(back->Entries(), p.Entries());
    EXPECT_EQ(back->Entries().front(), (std::pair<std::string, std::string>{"bits", "8"}));

    const auto mixed = SettingsProfile::Parse(
        "# saved by hand\nlumora-viewer-profile 1\n\ngain = 5\nno equals sign\nBad Name = 3\n"
        "exposure_ms=12.5\r\n",
        problems);
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->Get("gain"), "5");
    EXPECT_EQ(mixed->Get("exposure_ms"), "12.5");
    EXPECT_EQ(problems, (std::vector<std::string>{"line 5: not \"name = value\"",
                                                  "line 6: not \"name = value\""}));
    EXPECT_FALSE(SettingsProfile::Parse("gain = 5\n", problems));
    EXPECT_FALSE(SettingsProfile::Parse("", problems));
}

// A catalogue in the .mo layout: header, two tables of (length, offset), then the strings.
std::string MoFile(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string strings;
    std::vector<uint32_t> originals, translations;
    const uint32_t n = static_cast<uint32_t>(entries.size());
    const uint32_t start = 28 + 16 * n;
    for (const auto& [o, t] : entries) {
        originals.push_back(static_cast<uint32_t>(o.size()));
        originals.push_back(start + static_cast<uint32_t>(strings.size()));
        strings += o + '\0';
    }
    for (const auto& [o, t] : entries) {
        translations.push_back(static_cast<uint32_t>(t.size()));
        translations.push_back(start + static_cast<uint32_t>(strings.size()));
        strings += t + '\0';
    }
    std::vector<uint32_t> words = {0x950412de, 0, n, 28, 28 + 8 * n, 0, 0};
    words.insert(words.end(), originals.begin(), originals.end());
    words.insert(words.end(), translations.begin(), translations.end());
    std::string file(reinterpret_cast<const char*>(words.data()), words.size() * 4);
    return file + strings;
}

std::string WriteTemp(const std::string& data) {
    char path[] = "/tmp/viewer-catalog-XXXXXX";
    const int fd = ::mkstemp(path);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    ::close(fd);
    return path;
}

TEST(MessageCatalog, TranslatesWhatItHoldsAndRefusesDamagedFiles) {
    const std::string good = WriteTemp(
        MoFile({{"", "Content-Type: text/plain\n"}, {"Live", "ライブ"}, {"Record", "録画"}}));
    MessageCatalog catalog;
    ASSERT_TRUE(catalog.Load(good));
    EXPECT_STREQ(catalog.Translate("Live"), "ライブ");
    EXPECT_STREQ(catalog.Translate("Record"), "録画");
    EXPECT_STREQ(catalog.Translate("Other"), "Other");
    std::remove(good.c_str());

    // A string table pointing past the end of the file is refused, and nothing is kept.
    std::string damaged = MoFile({{"Live", "ライブ"}});
    const uint32_t far = 1u << 30;
    std::memcpy(&damaged[28 + 12], &far, 4);  // the translation's offset
    const std::string bad = WriteTemp(damaged);
    EXPECT_FALSE(catalog.Load(bad));
    EXPECT_TRUE(catalog.Empty());
    EXPECT_STREQ(catalog.Translate("Live"), "Live");
    std::remove(bad.c_str());
    EXPECT_FALSE(catalog.Load("/nonexistent/lumora-viewer.mo"));
}

TEST(MessageCatalog, TheFirstLanguageVariableSetDecides) {
    ::setenv("LC_ALL", "", 1);
    ::setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
    ::setenv("LANG", "en_GB.UTF-8", 1);
    EXPECT_EQ(MessageCatalog::LanguageFromEnvironment(), "ja");
    ::setenv("LC_ALL", "C", 1);
    EXPECT_EQ(MessageCatalog::LanguageFromEnvironment(), "");
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("LANG");
}

TEST(TemperatureHistory, KeepsTheRecentSpanAndWidensAFlatOne) {
    TemperatureHistory h(60);
    for (int t = 0; t <= 100; ++t) h.Add(t, 20.0 - t * 0.1);
    EXPECT_EQ(h.Readings().front().seconds, 40.0);
    EXPECT_EQ(h.Readings().size(), 61u);
    double low = 0, high = 0;
    h.ValueSpan(2.0, low, high);
    EXPECT_NEAR(low, 10.0, 1e-9);
    EXPECT_NEAR(high, 16.0, 1e-9);
    TemperatureHistory flat;
    flat.Add(1, 25.0);
    flat.Add(2, 25.0);
    flat.ValueSpan(2.0, low, high);
    EXPECT_DOUBLE_EQ(low, 24.0);
    EXPECT_DOUBLE_EQ(high, 26.0);
    flat.Add(0.5, 24.0);  // the clock went back: start afresh
    EXPECT_EQ(flat.Readings().size(), 1u);
}

}  // namespace
}  // namespace lumora_viewer::testing
