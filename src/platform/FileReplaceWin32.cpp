// Whole-file saves on Windows: a temporary file beside the real one, flushed and moved over it,
// or (when the caller allows it and no temporary can be made) a write in place.
#include "platform/FileReplace.h"

#include <string>
#include <vector>

#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {

// The path of the file itself, after every symbolic link; empty when it cannot be told.
std::string FinalPath(HANDLE handle) {
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = ::GetFinalPathNameByHandleA(handle, nullptr, 0, flags);
    if (needed == 0) return {};
    std::vector<char> path(needed + 1);
    const DWORD got =
        ::GetFinalPathNameByHandleA(handle, path.data(), static_cast<DWORD>(path.size()), flags);
    if (got == 0 || got >= path.size()) return {};
    return std::string(path.data(), got);
}

enum class Replaced { kDone, kFailed, kNotPossible };

// Temporary beside the real file, moved over it once complete. The target is closed before the
// move, so no handle of ours stands in its way.
Replaced ReplaceBeside(const std::string& real, RegularFile& target, const FileSave& save) {
    RegularFile temp;
    if (!temp.CreateUnique(real)) return Replaced::kNotPossible;  // a folder we may not create in
    const bool ok = save.write(temp) && (!save.durable || temp.Sync());
    const std::string name = temp.Path();
    if (!temp.Close() || !ok) {
        temp.RemoveIfCreated();
        return Replaced::kFailed;
    }
    target.Close();
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (save.durable ? MOVEFILE_WRITE_THROUGH : 0);
    if (::MoveFileExA(name.c_str(), real.c_str(), flags) == FALSE) {
        temp.RemoveIfCreated();
        return Replaced::kFailed;
    }
    return Replaced::kDone;
}

bool WriteInPlace(RegularFile& file, const FileSave& save) {
    // Reserve the space first, so a full disk fails before a byte of the old content changes.
    const uint64_t before = file.Size();
    if (save.size > 0 && save.size > before && !file.Reserve(save.size)) {
        file.Truncate(before);
        return false;
    }
    if (!file.Seek(0) || !save.write(file)) return false;
    return file.Truncate(file.Position()) && (!save.durable || file.Sync());
}

}  // namespace

bool SaveFile(const std::filesystem::path& path, const FileSave& save) {
    if (path.empty() || !save.write) return false;
    // Opening for writing decides, as it would for any program: a file the user may not write
    // is refused, never replaced; so is anything that is not a file.
    RegularFile target;
    if (!target.OpenForWriting(path.string().c_str(), save.newFileMode)) return false;
    auto fail = [&] {
        target.RemoveIfCreated();  // no empty file left behind by a failed save
        return false;
    };
    const auto handle = reinterpret_cast<HANDLE>(target.Native());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) return fail();

    // Replacing a file with further names would part it from them: it is written in place.
    const std::string real = FinalPath(handle);
    if (!real.empty() && info.nNumberOfLinks == 1) {
        switch (ReplaceBeside(real, target, save)) {
            case Replaced::kDone:
                return true;
            case Replaced::kFailed:
                return fail();
            case Replaced::kNotPossible:
                break;
        }
    }
    if (!save.allowInPlace || !WriteInPlace(target, save)) return fail();
    return target.Close();
}

}  // namespace lumora::platform
