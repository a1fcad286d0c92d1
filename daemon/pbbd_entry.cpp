// Process entry of the PBB daemon: everything happens in PBB_main_Main.
#include "daemon/pbb_main.h"

int main()
{
    return static_cast<int>(PBB_main_Main());
}
