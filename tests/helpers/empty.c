/* An empty GUI program: the baseline for the start-up benchmark. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR pszCmdLine, int nShowCmd)
{
    (void)hInstance;
    (void)hPrevInstance;
    (void)pszCmdLine;
    (void)nShowCmd;
    return 0;
}
