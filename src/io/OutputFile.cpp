#include "io/OutputFile.h"

namespace lumora {

OutputFile::~OutputFile() {
    if (file_ != nullptr) std::fclose(file_);
}

bool OutputFile::Open(const char* path) {
    if (file_ != nullptr || path == nullptr || *path == '\0') return false;
    file_ = std::fopen(path, "wb");
    failed_ = false;
    return file_ != nullptr;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (file_ == nullptr || failed_) return false;
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) failed_ = true;
    return !failed_;
}

bool OutputFile::Close() {
    if (file_ == nullptr) return false;
    bool ok = !failed_ && std::fflush(file_) == 0 && std::ferror(file_) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace lumora
