// The locator against a simulated machine: which drives it tests and in what
// order, which path it launches with which parameter text, and what it does
// when the system cannot give it a drive list or its own path.
#include "FakeWin32.h"
#include "Launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

// The buffer holds all 26 roots "X:\" with their zeros and the closing zero.
const std::string kListDrives = "GetLogicalDriveStringsA(105)";
const std::string kOwnPath = "GetModuleFileNameA(NULL, 260)";

std::string TypeOf(const std::string &root)
{
    return "GetDriveTypeA(\"" + root + "\")";
}

std::string Exists(const std::string &path)
{
    return "PathFileExistsA(\"" + path + "\")";
}

std::string SetupOn(const std::string &root)
{
    return root + "Data\\setup.exe";
}

// The parameter text the setup program receives for a transform path.
std::string ParametersFor(const std::string &transformPath)
{
    return R"(/v"TRANSFORMS=\")" + transformPath + R"(\"")";
}

std::string Launch(const std::string &setupPath, const std::string &parameters)
{
    return "ShellExecuteA(NULL, \"open\", \"" + setupPath + "\", \"" + parameters + "\", NULL, 10)";
}

// A folder path of exactly `length` characters ending in a backslash, made of
// ordinary components.
std::string FolderOfLength(std::size_t length)
{
    std::string folder = "C:\\";
    while (folder.size() < length) {
        std::size_t room = length - folder.size();
        std::size_t component = room > 41 ? 40 : room - 1;
        if (component == 0) {  // one character left: widen the last component
            folder.insert(folder.size() - 1, 1, 'x');
            continue;
        }
        folder += std::string(component, 'q') + "\\";
    }
    return folder;
}

class Locator : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }

    // A CD-ROM drive E: with disc 1 in it.
    static void InsertDiscInE()
    {
        fake::machine.drives = {{"C:\\", DRIVE_FIXED}, {"E:\\", DRIVE_CDROM}};
        fake::machine.files = {"E:\\Data\\setup.exe"};
    }
};

const Calls kFindOnE = {kListDrives, TypeOf("C:\\"), TypeOf("E:\\"), Exists("E:\\Data\\setup.exe")};

Calls operator+(Calls calls, const Calls &more)
{
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

// The whole launch, character for character.
TEST_F(Locator, LaunchesSetupOnDiscWithTransformBesideLauncher)
{
    InsertDiscInE();
    fake::machine.modulePath = "C:\\Setup\\Quilra3Patch.exe";

    EXPECT_EQ(LocateAndLaunchSetup(), TRUE);
    EXPECT_EQ(fake::calls, (kFindOnE + Calls{
        kOwnPath,
        R"x(ShellExecuteA(NULL, "open", "E:\Data\setup.exe", "/v"TRANSFORMS=\"C:\Setup\QLR3InstlPatch.Mst\""", NULL, 10))x",
    }));
}

// ---------------------------------------------------------------------------
// The drive scan.

struct ScanCase {
    const char *name;
    std::vector<fake::Drive> drives;
    std::vector<std::string> files;
    BOOL result;
    Calls calls;
};

std::ostream &operator<<(std::ostream &out, const ScanCase &scan)
{
    return out << scan.name;
}

class DriveScan : public Locator, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(DriveScan, TestsOnlyCdDrivesInListOrderAndLaunchesTheFirstHit)
{
    const ScanCase &scan = GetParam();
    fake::machine.drives = scan.drives;
    fake::machine.files = scan.files;

    EXPECT_EQ(LocateAndLaunchSetup(), scan.result);
    EXPECT_EQ(fake::calls, scan.calls);
}

const std::string kLaunchSetupPath = ParametersFor("C:\\Setup\\QLR3InstlPatch.Mst");

ScanCase TwentySixDrivesLastIsCd()
{
    ScanCase scan{"TwentySixDrivesTheLastIsTheCd", {}, {"Z:\\Data\\setup.exe"}, TRUE, {kListDrives}};
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string root = std::string(1, letter) + ":\\";
        scan.drives.push_back({root, letter == 'Z' ? UINT{DRIVE_CDROM} : UINT{DRIVE_FIXED}});
        scan.calls.push_back(TypeOf(root));
    }
    scan.calls.push_back(Exists("Z:\\Data\\setup.exe"));
    scan.calls.push_back(kOwnPath);
    scan.calls.push_back(Launch("Z:\\Data\\setup.exe", kLaunchSetupPath));
    return scan;
}

INSTANTIATE_TEST_SUITE_P(Cases, DriveScan, ::testing::Values(
    ScanCase{"OtherDriveTypesAreNeverTestedEvenWithSetup",
        {{"A:\\", DRIVE_REMOVABLE}, {"C:\\", DRIVE_FIXED}, {"N:\\", DRIVE_REMOTE},
         {"R:\\", DRIVE_RAMDISK}, {"U:\\", DRIVE_UNKNOWN}, {"V:\\", DRIVE_NO_ROOT_DIR}},
        {SetupOn("A:\\"), SetupOn("C:\\"), SetupOn("N:\\"), SetupOn("R:\\"), SetupOn("U:\\"), SetupOn("V:\\")},
        FALSE,
        {kListDrives, TypeOf("A:\\"), TypeOf("C:\\"), TypeOf("N:\\"), TypeOf("R:\\"), TypeOf("U:\\"),
         TypeOf("V:\\")}},
    ScanCase{"FirstCdWithSetupWinsAndLaterDrivesAreNotTouched",
        {{"C:\\", DRIVE_FIXED}, {"D:\\", DRIVE_CDROM}, {"E:\\", DRIVE_CDROM}, {"F:\\", DRIVE_FIXED}},
        {SetupOn("D:\\"), SetupOn("E:\\")},
        TRUE,
        {kListDrives, TypeOf("C:\\"), TypeOf("D:\\"), Exists("D:\\Data\\setup.exe"), kOwnPath,
         Launch("D:\\Data\\setup.exe", kLaunchSetupPath)}},
    ScanCase{"EmptyCdIsTestedAndSkipped",
        {{"C:\\", DRIVE_FIXED}, {"D:\\", DRIVE_CDROM}, {"E:\\", DRIVE_CDROM}},
        {SetupOn("E:\\")},
        TRUE,
        {kListDrives, TypeOf("C:\\"), TypeOf("D:\\"), Exists("D:\\Data\\setup.exe"), TypeOf("E:\\"),
         Exists("E:\\Data\\setup.exe"), kOwnPath, Launch("E:\\Data\\setup.exe", kLaunchSetupPath)}},
    ScanCase{"FixedDiskBetweenCdsIsSkipped",
        {{"D:\\", DRIVE_CDROM}, {"E:\\", DRIVE_FIXED}, {"F:\\", DRIVE_CDROM}},
        {SetupOn("E:\\"), SetupOn("F:\\")},
        TRUE,
        {kListDrives, TypeOf("D:\\"), Exists("D:\\Data\\setup.exe"), TypeOf("E:\\"), TypeOf("F:\\"),
         Exists("F:\\Data\\setup.exe"), kOwnPath, Launch("F:\\Data\\setup.exe", kLaunchSetupPath)}},
    ScanCase{"DrivesAreTakenInListOrderNotSorted",
        {{"F:\\", DRIVE_CDROM}, {"D:\\", DRIVE_CDROM}},
        {SetupOn("D:\\"), SetupOn("F:\\")},
        TRUE,
        {kListDrives, TypeOf("F:\\"), Exists("F:\\Data\\setup.exe"), kOwnPath,
         Launch("F:\\Data\\setup.exe", kLaunchSetupPath)}},
    ScanCase{"SetupElsewhereOnTheDiscDoesNotCount",
        {{"D:\\", DRIVE_CDROM}},
        {"D:\\setup.exe", "D:\\Data\\Disk1\\setup.exe"},
        FALSE,
        {kListDrives, TypeOf("D:\\"), Exists("D:\\Data\\setup.exe")}},
    ScanCase{"NoCdHoldsSetup",
        {{"C:\\", DRIVE_FIXED}, {"D:\\", DRIVE_CDROM}, {"E:\\", DRIVE_CDROM}},
        {SetupOn("C:\\")},
        FALSE,
        {kListDrives, TypeOf("C:\\"), TypeOf("D:\\"), Exists("D:\\Data\\setup.exe"), TypeOf("E:\\"),
         Exists("E:\\Data\\setup.exe")}},
    ScanCase{"EmptyDriveList", {}, {}, FALSE, {kListDrives}},
    TwentySixDrivesLastIsCd()),
    [](const ::testing::TestParamInfo<ScanCase> &info) { return std::string(info.param.name); });

// A list the call did not deliver is not walked: the buffer holds no list.
class UndeliveredDriveList : public Locator, public ::testing::WithParamInterface<fake::DriveList> {};

TEST_P(UndeliveredDriveList, FindsNothingAndTestsNoDrive)
{
    InsertDiscInE();
    fake::machine.driveList = GetParam();

    EXPECT_EQ(LocateAndLaunchSetup(), FALSE);
    EXPECT_EQ(fake::calls, Calls{kListDrives});
}

INSTANTIATE_TEST_SUITE_P(Cases, UndeliveredDriveList,
    ::testing::Values(fake::DriveList::CallFails, fake::DriveList::ReportsLargerSize),
    [](const ::testing::TestParamInfo<fake::DriveList> &info) {
        return info.param == fake::DriveList::CallFails ? "CallFails" : "ReportsLargerSize";
    });

// ---------------------------------------------------------------------------
// The transform path: the launcher's folder, whatever its own file is called,
// and the transform's name.

struct TransformCase {
    const char *name;
    std::string modulePath;
    std::string transformPath;
};

std::ostream &operator<<(std::ostream &out, const TransformCase &transform)
{
    return out << transform.name;
}

class TransformPath : public Locator, public ::testing::WithParamInterface<TransformCase> {};

TEST_P(TransformPath, NamesTheTransformInTheLaunchersFolder)
{
    const TransformCase &transform = GetParam();
    InsertDiscInE();
    fake::machine.modulePath = transform.modulePath;

    EXPECT_EQ(LocateAndLaunchSetup(), TRUE);
    EXPECT_EQ(fake::calls, (kFindOnE + Calls{
        kOwnPath, Launch("E:\\Data\\setup.exe", ParametersFor(transform.transformPath))}));
}

// Paths of 259 characters, the longest the system reports whole.
const std::string kLongFolderFor16 = FolderOfLength(259 - 16);
const std::string kLongFolderFor1 = FolderOfLength(259 - 1);

INSTANTIATE_TEST_SUITE_P(Cases, TransformPath, ::testing::Values(
    TransformCase{"SpacesPassUnchanged",
        "C:\\Program Files\\Quillora Support\\Quilra3Patch.exe",
        "C:\\Program Files\\Quillora Support\\QLR3InstlPatch.Mst"},
    TransformCase{"RenamedByBrowserOnSecondDownload",
        "C:\\Users\\Ann\\Downloads\\Quilra3Patch (1).exe",
        "C:\\Users\\Ann\\Downloads\\QLR3InstlPatch.Mst"},
    TransformCase{"ShorterName",
        "C:\\Setup\\Patch.exe",
        "C:\\Setup\\QLR3InstlPatch.Mst"},
    TransformCase{"PathShorterThanTheUsualName",
        "C:\\a.exe",
        "C:\\QLR3InstlPatch.Mst"},
    TransformCase{"DotsAndSpacesInFolders",
        "D:\\Quillora 3.0\\v1.2 patch\\Quilra3Patch.exe",
        "D:\\Quillora 3.0\\v1.2 patch\\QLR3InstlPatch.Mst"},
    TransformCase{"DriveRoot",
        "D:\\Quilra3Patch.exe",
        "D:\\QLR3InstlPatch.Mst"},
    TransformCase{"NetworkShare",
        "\\\\server\\support\\Quilra3Patch.exe",
        "\\\\server\\support\\QLR3InstlPatch.Mst"},
    TransformCase{"LongestPathWithUsualName",
        kLongFolderFor16 + "Quilra3Patch.exe",
        kLongFolderFor16 + "QLR3InstlPatch.Mst"},
    TransformCase{"LongestPathWithOneCharacterName",
        kLongFolderFor1 + "q",
        kLongFolderFor1 + "QLR3InstlPatch.Mst"}),
    [](const ::testing::TestParamInfo<TransformCase> &info) { return std::string(info.param.name); });

TEST(LongPaths, AreAsLongAsTheyClaim)
{
    EXPECT_EQ((kLongFolderFor16 + "Quilra3Patch.exe").size(), 259u);
    EXPECT_EQ((kLongFolderFor1 + "q").size(), 259u);
    EXPECT_EQ(kLongFolderFor1.back(), '\\');
}

// When the launcher's own path cannot be read whole, no transform path can be
// composed: nothing is launched, yet the disc was found, so the result is
// TRUE and no prompt asks for a disc that is already in the drive.
struct OwnPathCase {
    const char *name;
    std::string modulePath;
    fake::Truncation truncation;
};

std::ostream &operator<<(std::ostream &out, const OwnPathCase &ownPath)
{
    return out << ownPath.name;
}

class UnreadableOwnPath : public Locator, public ::testing::WithParamInterface<OwnPathCase> {};

TEST_P(UnreadableOwnPath, LaunchesNothingAndReportsTheDiscFound)
{
    InsertDiscInE();
    fake::machine.modulePath = GetParam().modulePath;
    fake::machine.truncation = GetParam().truncation;

    EXPECT_EQ(LocateAndLaunchSetup(), TRUE);
    EXPECT_EQ(fake::calls, (kFindOnE + Calls{kOwnPath}));
}

INSTANTIATE_TEST_SUITE_P(Cases, UnreadableOwnPath, ::testing::Values(
    OwnPathCase{"CallFails", "", fake::Truncation::WindowsXP},
    OwnPathCase{"FillsWholeBufferWithoutZero", FolderOfLength(244) + "Quilra3Patch.exe",
        fake::Truncation::WindowsXP},
    OwnPathCase{"FillsWholeBufferWithZero", FolderOfLength(244) + "Quilra3Patch.exe",
        fake::Truncation::Later},
    OwnPathCase{"FarTooLongWithoutZero", FolderOfLength(300) + "Quilra3Patch.exe",
        fake::Truncation::WindowsXP},
    OwnPathCase{"NoBackslash", "Quilra3Patch.exe", fake::Truncation::WindowsXP}),
    [](const ::testing::TestParamInfo<OwnPathCase> &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The result does not depend on what the shell answers.

class ShellAnswer : public Locator, public ::testing::WithParamInterface<std::intptr_t> {};

TEST_P(ShellAnswer, ResultIsTrueOnceTheLaunchIsRequested)
{
    InsertDiscInE();
    fake::machine.shellExecuteResult = GetParam();

    EXPECT_EQ(LocateAndLaunchSetup(), TRUE);
    EXPECT_EQ(fake::calls.back(), Launch("E:\\Data\\setup.exe", kLaunchSetupPath));
}

// 0: out of resources; 2: file not found; 5: access denied; 42: started.
INSTANTIATE_TEST_SUITE_P(Cases, ShellAnswer, ::testing::Values(0, 2, 5, 31, 42));

// ---------------------------------------------------------------------------
// Each call starts from a clean slate: nothing of an earlier call remains.

TEST_F(Locator, SecondCallAfterTheDiscIsRemovedFindsNothing)
{
    InsertDiscInE();
    fake::machine.modulePath = kLongFolderFor1 + "q";
    ASSERT_EQ(LocateAndLaunchSetup(), TRUE);

    fake::machine.files.clear();
    fake::calls.clear();
    EXPECT_EQ(LocateAndLaunchSetup(), FALSE);
    EXPECT_EQ(fake::calls, (Calls{kListDrives, TypeOf("C:\\"), TypeOf("E:\\"), Exists("E:\\Data\\setup.exe")}));
}

TEST_F(Locator, SecondCallLaunchesFromAnotherDriveWithNothingLeftOver)
{
    fake::machine.drives = {{"D:\\", DRIVE_CDROM}, {"E:\\", DRIVE_CDROM}};
    fake::machine.files = {"E:\\Data\\setup.exe"};
    fake::machine.modulePath = kLongFolderFor1 + "q";
    ASSERT_EQ(LocateAndLaunchSetup(), TRUE);
    ASSERT_EQ(fake::calls.back(),
              Launch("E:\\Data\\setup.exe", ParametersFor(kLongFolderFor1 + "QLR3InstlPatch.Mst")));

    fake::machine.files = {"D:\\Data\\setup.exe"};
    fake::machine.modulePath = "C:\\a.exe";
    fake::calls.clear();
    EXPECT_EQ(LocateAndLaunchSetup(), TRUE);
    EXPECT_EQ(fake::calls, (Calls{kListDrives, TypeOf("D:\\"), Exists("D:\\Data\\setup.exe"), kOwnPath,
                                  R"x(ShellExecuteA(NULL, "open", "D:\Data\setup.exe", "/v"TRANSFORMS=\"C:\QLR3InstlPatch.Mst\""", NULL, 10))x"}));
}

TEST_F(Locator, SecondCallAfterAFruitlessScanTestsFreshCandidates)
{
    fake::machine.drives = {{"D:\\", DRIVE_CDROM}, {"E:\\", DRIVE_CDROM}};
    ASSERT_EQ(LocateAndLaunchSetup(), FALSE);

    fake::machine.files = {"E:\\Data\\setup.exe"};
    fake::calls.clear();
    EXPECT_EQ(LocateAndLaunchSetup(), TRUE);
    EXPECT_EQ(fake::calls, (Calls{kListDrives, TypeOf("D:\\"), Exists("D:\\Data\\setup.exe"), TypeOf("E:\\"),
                                  Exists("E:\\Data\\setup.exe"), kOwnPath,
                                  Launch("E:\\Data\\setup.exe", kLaunchSetupPath)}));
}

TEST_F(Locator, SecondCallAfterAnUnreadableOwnPathLaunches)
{
    InsertDiscInE();
    fake::machine.modulePath = FolderOfLength(300) + "Quilra3Patch.exe";
    ASSERT_EQ(LocateAndLaunchSetup(), TRUE);

    fake::machine.modulePath = "C:\\Setup\\Quilra3Patch.exe";
    fake::calls.clear();
    EXPECT_EQ(LocateAndLaunchSetup(), TRUE);
    EXPECT_EQ(fake::calls, (kFindOnE + Calls{kOwnPath, Launch("E:\\Data\\setup.exe", kLaunchSetupPath)}));
}

} // namespace
