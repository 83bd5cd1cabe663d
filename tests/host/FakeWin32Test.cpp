// The simulated machine keeps to the documented behaviour that the launcher's
// tests depend on: the bounded string functions, the drive list's sizing and
// the module path's truncation.
#include "FakeWin32.h"

#include <shlwapi.h>
#include <strsafe.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// ---------------------------------------------------------------------------
// StringCchCopyA and StringCchCatA into a 6-character buffer.

struct StringCase {
    const char *name;
    bool append;
    const char *before;  // the buffer's text before the call; NULL: no zero in it
    const char *source;
    size_t cchDest;
    HRESULT result;
    const char *after;
};

std::ostream &operator<<(std::ostream &out, const StringCase &string)
{
    return out << string.name;
}

class BoundedString : public ::testing::TestWithParam<StringCase> {};

TEST_P(BoundedString, BehavesAsDocumented)
{
    const StringCase &c = GetParam();
    CHAR buffer[6];
    std::memset(buffer, 'z', sizeof buffer);
    if (c.before)
        std::memcpy(buffer, c.before, std::strlen(c.before) + 1);

    HRESULT result = c.append ? StringCchCatA(buffer, c.cchDest, c.source)
                              : StringCchCopyA(buffer, c.cchDest, c.source);

    EXPECT_EQ(result, c.result);
    if (c.after)
        EXPECT_EQ(std::string(buffer), c.after);
    else
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'z'));
}

INSTANTIATE_TEST_SUITE_P(Cases, BoundedString, ::testing::Values(
    StringCase{"CopyFits", false, "", "abc", 6, S_OK, "abc"},
    StringCase{"CopyExactFit", false, "", "abcde", 6, S_OK, "abcde"},
    StringCase{"CopyTruncates", false, "", "abcdefgh", 6, STRSAFE_E_INSUFFICIENT_BUFFER, "abcde"},
    StringCase{"CopyIntoOneCharacter", false, "q", "abc", 1, STRSAFE_E_INSUFFICIENT_BUFFER, ""},
    StringCase{"CopyZeroSize", false, nullptr, "abc", 0, STRSAFE_E_INVALID_PARAMETER, nullptr},
    StringCase{"CatFits", true, "ab", "cd", 6, S_OK, "abcd"},
    StringCase{"CatExactFit", true, "ab", "cde", 6, S_OK, "abcde"},
    StringCase{"CatTruncates", true, "ab", "cdefg", 6, STRSAFE_E_INSUFFICIENT_BUFFER, "abcde"},
    StringCase{"CatOntoFullBuffer", true, "abcde", "f", 6, STRSAFE_E_INSUFFICIENT_BUFFER, "abcde"},
    StringCase{"CatOntoUnterminated", true, nullptr, "f", 6, STRSAFE_E_INVALID_PARAMETER, nullptr},
    StringCase{"CatZeroSize", true, nullptr, "f", 0, STRSAFE_E_INVALID_PARAMETER, nullptr}),
    [](const ::testing::TestParamInfo<StringCase> &info) { return std::string(info.param.name); });

TEST(StrRChr, FindsTheLastOccurrence)
{
    char path[] = "C:\\a\\b";
    EXPECT_EQ(StrRChrA(path, nullptr, '\\'), path + 4);
    EXPECT_EQ(StrRChrA(path, path + 4, '\\'), path + 2);
    EXPECT_EQ(StrRChrA(path, nullptr, '/'), nullptr);
}

// ---------------------------------------------------------------------------
// GetLogicalDriveStringsA: the buffer length includes the closing zero; a
// list that does not fit is not written and the size it needs is returned.

class DriveStrings : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::machine.drives = {{"C:\\", DRIVE_FIXED}, {"E:\\", DRIVE_CDROM}};
    }
    CHAR buffer[16];
};

TEST_F(DriveStrings, ListThatFitsIsWrittenWithItsLengthReturned)
{
    EXPECT_EQ(GetLogicalDriveStringsA(9, buffer), 8u);
    EXPECT_EQ(std::string(buffer, 9), std::string("C:\\\0E:\\\0\0", 9));
}

TEST_F(DriveStrings, ListThatDoesNotFitIsNotWritten)
{
    EXPECT_EQ(GetLogicalDriveStringsA(8, buffer), 9u);
    CHAR poison[8];
    fake::FillWithPoison(poison, sizeof poison);
    EXPECT_EQ(std::string(buffer, 8), std::string(poison, 8));
}

TEST_F(DriveStrings, FailureReturnsZero)
{
    fake::machine.driveList = fake::DriveList::CallFails;
    EXPECT_EQ(GetLogicalDriveStringsA(sizeof buffer, buffer), 0u);
}

TEST_F(DriveStrings, AllTwentySixRootsNeed105)
{
    fake::machine.drives.clear();
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        fake::machine.drives.push_back({std::string(1, letter) + ":\\", DRIVE_FIXED});
    CHAR list[105];
    EXPECT_EQ(GetLogicalDriveStringsA(104, list), 105u);
    EXPECT_EQ(GetLogicalDriveStringsA(105, list), 104u);
}

// ---------------------------------------------------------------------------
// GetModuleFileNameA: a path that does not fit returns the buffer size; on
// Windows XP the buffer then holds no terminating zero.

TEST(ModuleFileName, TruncationAsOnWindowsXPLeavesNoZero)
{
    fake::Reset();
    fake::machine.modulePath = "C:\\Setup\\Quilra3Patch.exe";
    CHAR buffer[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 8), 8u);
    EXPECT_EQ(std::string(buffer, 8), "C:\\Setup");
}

TEST(ModuleFileName, TruncationOnLaterSystemsEndsWithZero)
{
    fake::Reset();
    fake::machine.modulePath = "C:\\Setup\\Quilra3Patch.exe";
    fake::machine.truncation = fake::Truncation::Later;
    CHAR buffer[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, 8), 8u);
    EXPECT_EQ(std::string(buffer), "C:\\Setu");
}

TEST(ModuleFileName, PathThatFitsEndsWithZeroAndReturnsItsLength)
{
    fake::Reset();
    fake::machine.modulePath = "C:\\Setup\\Quilra3Patch.exe";
    CHAR buffer[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, MAX_PATH), 25u);
    EXPECT_EQ(std::string(buffer), "C:\\Setup\\Quilra3Patch.exe");
}

} // namespace
