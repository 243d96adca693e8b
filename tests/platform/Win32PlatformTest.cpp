// The Windows services behind the platform layer, checked through the system's own interfaces.
#if defined(_WIN32)

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <type_traits>

#include "io/FileData.h"
#include "platform/Clock.h"
#include "platform/CodePage.h"
#include "platform/Event.h"
#include "platform/FileReplace.h"
#include "platform/Log.h"
#include "platform/MessageTarget.h"
#include "platform/SettingsStore.h"
#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

// A registry root of the test's own below HKEY_CURRENT_USER, removed again afterwards.
class RegistryRoot {
public:
    explicit RegistryRoot(const std::string& name)
        : path_("Software\\LumoraTests\\" + std::to_string(::GetCurrentProcessId()) + "\\" + name) {
        Remove();
    }
    ~RegistryRoot() { Remove(); }
    const std::string& Path() const { return path_; }
    std::string Below(const std::string& tail) const { return path_ + "\\" + tail; }

private:
    void Remove() { ::RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); }
    std::string path_;
};

struct RawValue {
    DWORD type = REG_NONE;
    std::string bytes;
};

RawValue QueryRaw(const std::string& key, const char* name) {
    RawValue value;
    char data[256];
    DWORD size = sizeof data;
    if (::RegGetValueA(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND,
                       &value.type, data, &size) == ERROR_SUCCESS) {
        value.bytes.assign(data, size);
    }
    return value;
}

TEST(Win32Registry, StoreWritesTheTypesItWasGivenUnderTheCurrentUser) {
    RegistryRoot root("types");
    SettingsStore store(root.Path());
    const uint8_t exposure[8] = {0, 0, 0, 0, 0, 0, 0xF0, 0x3F};  // 1.0 as a little-endian double
    ASSERT_TRUE(store.Update([&](SettingsKey& tree) {
        SettingsKey* gain = tree.Create("Software\\Quenta\\LumoraM5XIRTEC3T2Sdk\\Camera_00\\Gain");
        return gain != nullptr && gain->SetDword("Global", 0x1234) &&
               gain->SetBinary("ExposureEx", exposure) && gain->SetString("Note", "K\xE4lte");
    }));
    const std::string gain = root.Below("Software\\Quenta\\LumoraM5XIRTEC3T2Sdk\\Camera_00\\Gain");
    const RawValue global = QueryRaw(gain, "Global");
    EXPECT_EQ(global.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(global.bytes, std::string("\x34\x12\0\0", 4));
    const RawValue exposureEx = QueryRaw(gain, "ExposureEx");
    EXPECT_EQ(exposureEx.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(exposureEx.bytes, std::string(reinterpret_cast<const char*>(exposure), 8));
    EXPECT_EQ(QueryRaw(gain, "Note").type, static_cast<DWORD>(REG_SZ));
}

TEST(Win32Registry, StoreReadsWhatOthersWroteAndRemovesWhatTheEditDropped) {
    RegistryRoot root("others");
    const std::string gray = root.Below("Software\\Quenta\\LumoraM5XIRTEC3T2Sdk\\Camera_01\\Gray");
    HKEY key = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, gray.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD mode = 1;
    ::RegSetValueExA(key, "Mode", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), 4);
    ::RegSetValueExA(key, "Stale", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), 4);
    ::RegCloseKey(key);

    SettingsStore store(root.Path());
    const SettingsKey tree = store.Read();
    const SettingsKey* read = tree.Open("Software\\Quenta\\LumoraM5XIRTEC3T2Sdk\\Camera_01\\Gray");
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->QueryDword("Mode"), 1u);

    ASSERT_TRUE(store.Update([](SettingsKey& edited) {
        SettingsKey* camera = edited.Open("Software\\Quenta\\LumoraM5XIRTEC3T2Sdk\\Camera_01");
        return camera != nullptr && camera->Open("Gray")->DeleteValue("Stale") &&
               camera->DeleteSubkey("Gray") == true && camera->Create("Gain") != nullptr;
    }));
    EXPECT_EQ(QueryRaw(gray, "Mode").type, static_cast<DWORD>(REG_NONE));  // key gone
    HKEY gain = nullptr;
    EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER,
                              root.Below("Software\\Quenta\\LumoraM5XIRTEC3T2Sdk\\Camera_01\\Gain")
                                  .c_str(),
                              0, KEY_READ, &gain),
              ERROR_SUCCESS);
    if (gain != nullptr) ::RegCloseKey(gain);
}

TEST(Win32Events, NamedEventIsAKernelObjectOfThisProcessOnly) {
    auto event = OpenNamedEvent("thread end", true, false);
    HANDLE byName = ::OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE,
                                 NamedEventKernelName("thread end").c_str());
    ASSERT_NE(byName, nullptr);
    ::SetEvent(byName);
    EXPECT_TRUE(event->Wait(0));
    ::CloseHandle(byName);
    // Under the bare name another application's SDK would share it.
    EXPECT_EQ(::OpenEventA(SYNCHRONIZE, FALSE, "thread end"), nullptr);
}

TEST(Win32Events, AutoResetEventLooksSetWithoutLosingTheSignal) {
    Event event(false, true);
    EXPECT_TRUE(event.IsSet());
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.IsSet());
}

TEST(Win32Clock, TimerResolutionIsRaisedWhileHeldAndNests) {
    TimerResolution outer;
    EXPECT_TRUE(outer.Active());
    {
        TimerResolution inner;
        EXPECT_TRUE(inner.Active());
    }
    const uint32_t before = TimeGetTime();
    Sleep(2);
    EXPECT_GE(TicksSince(before, TimeGetTime()), 1u);
}

TEST(Win32CodePage, WideStringsAreSixteenBitWcharWithoutCasts) {
    static_assert(std::is_same_v<WideChar, wchar_t>);
    const WideString wide = L"K\u00e4lte \u6e29\u5ea6";
    std::string narrow;
    ASSERT_TRUE(WideToNarrow(wide, narrow, kMaxNarrowLength, "UTF-8"));
    EXPECT_EQ(narrow, "K\xC3\xA4lte \xE6\xB8\xA9\xE5\xBA\xA6");
    EXPECT_EQ(WideLength(wide.c_str()), wide.size());
}

TEST(Win32CodePage, ThreadCodePageFollowsTheThreadLocale) {
    const LCID saved = ::GetThreadLocale();
    ASSERT_TRUE(::SetThreadLocale(MAKELCID(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN),
                                            SORT_DEFAULT)));
    WideString wide;
    const bool converted = NarrowToWide("\x89\xB7\x93\x78", wide);  // "温度" in code page 932
    std::string back;
    const bool returned = WideToNarrow(L"\u6e29\u5ea6", back);
    ::SetThreadLocale(saved);
    ASSERT_TRUE(converted);
    EXPECT_EQ(wide, L"\u6e29\u5ea6");
    ASSERT_TRUE(returned);
    EXPECT_EQ(back, "\x89\xB7\x93\x78");
    // A character the code page lacks fails instead of becoming '?'.
    EXPECT_FALSE(WideToNarrow(L"\u6e29", back, kMaxNarrowLength, "CP1252"));
}

// Pitfalls of the Windows build, each of which once corrupted data or renamed a function.
TEST(Win32Pitfalls, FilesKeepEveryNewlineByte) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("lumora-newlines-" + std::to_string(::GetCurrentProcessId()) + ".bin");
    const std::string bytes("\n\r\n\x1a\n\0\xff", 7);
    FileSave save;
    save.size = bytes.size();
    save.write = [&](RegularFile& out) { return out.Write(bytes.data(), bytes.size()); };
    ASSERT_TRUE(SaveFile(file, save));
    EXPECT_EQ(std::filesystem::file_size(file), bytes.size());
    FileData read;
    ASSERT_TRUE(read.Read(file.string().c_str()));
    EXPECT_EQ(std::string(read.Bytes().begin(), read.Bytes().end()), bytes);
    std::filesystem::remove(file);
}

TEST(Win32Pitfalls, SizesFormatUnderTheC99Rules) {
    char text[32];
    std::snprintf(text, sizeof text, "%zu %lld", static_cast<size_t>(1) << 40, -5LL);
    EXPECT_STREQ(text, "1099511627776 -5");
}

TEST(Win32Pitfalls, SystemHeadersDoNotRenameProjectFunctions) {
    // With <windows.h> seen, PostMessage would be PostMessageA here and this call would not link.
    EXPECT_FALSE(PostMessage(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7fff0001)), 0x8003, 0, 0));
}

// A debugger's view of OutputDebugStringA: the system hands each text to whoever holds the
// DBWIN buffer and its two events, as a debug monitor does.
TEST(Win32DebugOutput, LogLinesReachTheDebuggerOutput) {
    HANDLE bufferReady = ::CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY");
    HANDLE dataReady = ::CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY");
    HANDLE mapping = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                          "DBWIN_BUFFER");
    ASSERT_TRUE(bufferReady && dataReady && mapping);
    const auto* view = static_cast<const char*>(::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 4096));
    ASSERT_NE(view, nullptr);

    LogSettings settings;
    settings.levels.fill(kLogMaxLevel);
    SetLogSettingsForTesting(settings);
    SetLogSinkForTesting(nullptr);
    LogText(LogCategory::kUsb, 1, "lumora debug line\n");
    SetLogSettingsForTesting(LogSettings{});

    ASSERT_EQ(::WaitForSingleObject(dataReady, 60000), WAIT_OBJECT_0);
    DWORD pid = 0;
    std::memcpy(&pid, view, sizeof pid);
    EXPECT_EQ(pid, ::GetCurrentProcessId());
    EXPECT_STREQ(view + sizeof pid, "lumora debug line\n");
    ::UnmapViewOfFile(view);
    ::CloseHandle(mapping);
    ::CloseHandle(dataReady);
    ::CloseHandle(bufferReady);
}

}  // namespace
}  // namespace lumora::platform

#endif  // _WIN32
