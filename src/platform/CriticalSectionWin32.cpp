#include "platform/CriticalSection.h"

#include "platform/Win32Api.h"

namespace lumora::platform {
namespace {
static_assert(sizeof(CRITICAL_SECTION) <= 40 && alignof(CRITICAL_SECTION) <= 8,
              "CriticalSection reserves room for a CRITICAL_SECTION");
}

CriticalSection::CriticalSection() {
    ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
}

CriticalSection::~CriticalSection() {
    ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
}

void CriticalSection::Enter() {
    ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
}

bool CriticalSection::TryEnter() {
    return ::TryEnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_)) != FALSE;
}

void CriticalSection::Leave() {
    ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(section_));
}

}  // namespace lumora::platform
