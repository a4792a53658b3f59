// What differs between the 64-bit (x86-64) and the 32-bit (i686) build, decided here once.
// Records and the control block do not differ: they use fixed-width fields on both.
#pragma once

#if defined(_WIN64)
#define KESTRIX_ARCHITECTURE "x64"
#define KESTRIX_BITNESS "64-bit"
// C names carry no prefix in assembly, and a data symbol is reached relative to RIP.
#define KESTRIX_ASM_NAME(name) #name
#define KESTRIX_ASM_JUMP_THROUGH(slot) "jmp *" slot "(%rip)"
#elif defined(_WIN32) && defined(__i386__)
#define KESTRIX_ARCHITECTURE "x86"
#define KESTRIX_BITNESS "32-bit"
#define KESTRIX_ASM_NAME(name) "_" #name
#define KESTRIX_ASM_JUMP_THROUGH(slot) "jmp *" slot
#else
#error "Kestrix builds for x86-64 and i686 Windows only"
#endif
