/* read_channel ADDRESS: opens the crate at ADDRESS (default user and
 * password), reads V0Set of channel 0 in slot 0 and closes it again. */
#include <stdio.h>

#include <KORUHVWrapper.h>
#include <KORUVMElib.h>

int main(int argc, char **argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: read_channel ADDRESS\n");
        return 2;
    }
    char vmeRelease[64] = "";
    KORUVME_SWRelease(vmeRelease);
    printf("libkoruhvwrapper %s, libKORUVME %s\n", KORUHVLibSwRel(), vmeRelease);

    int handle = -1;
    int rc = KORUHV_InitSystem(2, 0, argv[1], "admin", "admin", &handle);
    if (rc != 0) {
        fprintf(stderr, "open failed: %d\n", rc);
        return 1;
    }
    unsigned short channel = 0;
    float v0set = 0;
    rc = KORUHV_GetChParam(handle, 0, "V0Set", 1, &channel, &v0set);
    if (rc != 0) {
        fprintf(stderr, "read failed: %d\n", rc);
        KORUHV_DeinitSystem(handle);
        return 1;
    }
    printf("slot 0 channel 0 V0Set = %g\n", v0set);
    rc = KORUHV_DeinitSystem(handle);
    if (rc != 0) {
        fprintf(stderr, "close failed: %d\n", rc);
        return 1;
    }
    return 0;
}
