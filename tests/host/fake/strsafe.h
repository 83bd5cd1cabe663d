// Host stand-in for the bounded string functions the launcher uses, written
// from their documented behaviour: the result always ends in a zero inside
// the buffer; a source that does not fit is cut to the room there is and
// reported as STRSAFE_E_INSUFFICIENT_BUFFER; a size of 0 or above
// STRSAFE_MAX_CCH, or a destination to append to that has no zero inside its
// size, is STRSAFE_E_INVALID_PARAMETER and leaves the buffer alone.
#pragma once

#include <windows.h>

#define STRSAFE_MAX_CCH 2147483647

#define S_OK                          (static_cast<HRESULT>(0))
#define STRSAFE_E_INSUFFICIENT_BUFFER (static_cast<HRESULT>(0x8007007Au))
#define STRSAFE_E_INVALID_PARAMETER   (static_cast<HRESULT>(0x80070057u))

namespace fake_strsafe {

// Reads the last byte the caller says it owns, so that a size larger than
// the real buffer shows up under AddressSanitizer even when the text fits.
inline void TouchLastByte(const CHAR *pszDest, size_t cchDest)
{
    const volatile unsigned char *last =
        reinterpret_cast<const volatile unsigned char *>(pszDest + cchDest - 1);
    (void)*last;
}

inline HRESULT CopyBounded(CHAR *pszDest, size_t cchDest, const CHAR *pszSrc)
{
    size_t i = 0;
    for (; i + 1 < cchDest && pszSrc[i] != '\0'; ++i)
        pszDest[i] = pszSrc[i];
    pszDest[i] = '\0';
    return pszSrc[i] == '\0' ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

} // namespace fake_strsafe

inline HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc)
{
    if (cchDest == 0 || cchDest > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    fake_strsafe::TouchLastByte(pszDest, cchDest);
    return fake_strsafe::CopyBounded(pszDest, cchDest, pszSrc);
}

inline HRESULT StringCchCatA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc)
{
    if (cchDest == 0 || cchDest > STRSAFE_MAX_CCH)
        return STRSAFE_E_INVALID_PARAMETER;
    fake_strsafe::TouchLastByte(pszDest, cchDest);
    size_t cchUsed = 0;
    while (cchUsed < cchDest && pszDest[cchUsed] != '\0')
        ++cchUsed;
    if (cchUsed == cchDest)
        return STRSAFE_E_INVALID_PARAMETER;
    return fake_strsafe::CopyBounded(pszDest + cchUsed, cchDest - cchUsed, pszSrc);
}
