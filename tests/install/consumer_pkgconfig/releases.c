/* Built with the flags pkg-config gives; prints both libraries' releases. */
#include <stdio.h>

#include <KORUHVWrapper.h>
#include <KORUVMElib.h>

int main(void)
{
    char vmeRelease[64] = "";
    if (KORUVME_SWRelease(vmeRelease) != 0)
        return 1;
    printf("%s %s\n", KORUHVLibSwRel(), vmeRelease);
    return 0;
}
