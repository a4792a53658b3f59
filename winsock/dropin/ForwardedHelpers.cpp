#include "ForwardedHelpers.h"

#include "Architecture.h"

// One slot and one jump per forwarded name; the list comes from ws2_32.def.
#define FORWARDED(name)                                                                          \
    extern "C" void* forwardSlot_##name;                                                        \
    void* forwardSlot_##name = nullptr;                                                          \
    asm(".text\n.globl " KESTRIX_ASM_NAME(Forwarded_##name) "\n" KESTRIX_ASM_NAME(Forwarded_##name) \
        ":\n\t" KESTRIX_ASM_JUMP_THROUGH(KESTRIX_ASM_NAME(forwardSlot_##name)) "\n");
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
