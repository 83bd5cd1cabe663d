// Stands in for the locator in the tests of its callers: writes its call to
// the log and reports what the test set in fake::machine.locatorResult.
#include "FakeWin32.h"
#include "Launcher.h"

BOOL LocateAndLaunchSetup(void)
{
    fake::Record("LocateAndLaunchSetup()");
    return fake::machine.locatorResult;
}
