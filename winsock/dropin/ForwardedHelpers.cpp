#include "ForwardedHelpers.h"

// One slot and one jump per forwarded name; the list comes from ws2_32.def.
#define FORWARDED(name)                                                                          \
    extern "C" void* forwardSlot_##name;                                                        \
    void* forwardSlot_##name = nullptr;                                                          \
    asm(".text\n.globl _Forwarded_" #name "\n_Forwarded_" #name ":\n\tjmp *_forwardSlot_" #name  \
        "\n");
#include "ForwardedHelperList.h"
#undef FORWARDED

namespace {

struct ForwardedHelper {
    const char* name;
    void** slot;
};

#define FORWARDED(name) {#name, &forwardSlot_##name},
const ForwardedHelper forwardedHelpers[] = {
#include "ForwardedHelperList.h"
};
#undef FORWARDED

} // namespace

bool ResolveForwardedHelpers(HMODULE wineWinsock)
{
    for (const ForwardedHelper& helper : forwardedHelpers) {
        *helper.slot = reinterpret_cast<void*>(GetProcAddress(wineWinsock, helper.name));
        if (!*helper.slot)
            return false;
    }
    return true;
}
