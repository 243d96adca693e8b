#pragma once
// The per-user settings store. On Windows it is the current user's registry: the path names the
// key below HKEY_CURRENT_USER that is the tree's root (empty: HKEY_CURRENT_USER itself), and the
// tree holds the vendor's key (kRegistryScope) below it. Elsewhere it is the stand-in for that
// registry hive described here. The whole tree
// lives in one human-readable text file (see SettingsKey.h for the form). Every access runs under
// an exclusive lock on a companion ".lock" file, and a change is written to a temporary file,
// flushed and renamed over the old one, so processes that update the store at the same time
// neither lose nor mix each other's changes and a reader never sees half a file. A symlinked
// file is written through the link with its mode and owner kept; a path naming anything but a
// regular file is never written (the update fails). A damaged file
// is reported on standard error, moved aside as ".bad" and read as absent.
//
// Threads: holds only its path; any thread or process may use any number of stores on one file
// at once (the file lock serialises them).
#include <filesystem>
#include <functional>

#include "platform/SettingsKey.h"

namespace lumora::platform {

class SettingsStore {
public:
    static constexpr const char* kFileName = "LumoraM5XIRTEC3T2Sdk.conf";
    // The part of the tree a registry-backed store reads and writes.
    static constexpr const char* kRegistryScope = "Software\\Quenta";

    explicit SettingsStore(std::filesystem::path file) : path_(std::move(file)) {}

    // $LUMORA_CONFIG_HOME/<file>; else $XDG_CONFIG_HOME/quenta/<file>; else
    // $HOME/.config/quenta/<file> (the password database when HOME is unset). On Windows:
    // $LUMORA_REGISTRY_ROOT (tests keep their settings apart with it), else HKEY_CURRENT_USER.
    static std::filesystem::path DefaultPath();
    static SettingsStore ForCurrentUser() { return SettingsStore(DefaultPath()); }

    const std::filesystem::path& Path() const { return path_; }

    // The stored tree; empty when the file is absent, unreadable or damaged.
    SettingsKey Read() const;

    // Reads the tree, lets `edit` change it and writes it back, all under the lock. `edit`
    // returns false to leave the file as it is. Returns false when `edit` declined or the file
    // could not be written (the stored file is then unchanged).
    bool Update(const std::function<bool(SettingsKey& root)>& edit);

private:
    std::filesystem::path path_;
};

}  // namespace lumora::platform
