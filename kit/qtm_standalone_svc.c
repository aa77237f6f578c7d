/* Stand-in standalone service program: reports that it was started and ends. */
#include "kit_common.h"

int main(void) {
    KitReport("QTMStandaloneSvc", GetCommandLineA());
    return 0;
}
