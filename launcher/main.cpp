// kyrServer.com: the console launcher of the server. It loads the server core library
// kyrServer.dll and hands it the command line unchanged; it shows what it tried only when
// no entry could be obtained.
#include "launch.h"

int wmain(int argc, wchar_t** argv) {
    return runLauncher(argc, argv, &findWithCoreDllLoader);
}
