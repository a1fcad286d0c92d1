#include "daemon/pbb_main.h"

int g_iPbbEpollFd = -1;
int g_iPbbSignalFd = -1;
