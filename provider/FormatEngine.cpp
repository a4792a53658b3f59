// The engines that write numbers, names and flag words.
#include "Formatting.h"
#include <cstdio>
#include <cstring>

char* FormatNumber(LONG value, char* buffer)
{
    sprintf(buffer, "%ld", value);
    return buffer;
}

void AppendFlagNames(char* destination, const FlagName* table, int count, const char* prefix,
                     DWORD value, BOOL showZero)
{
    BOOL written = FALSE;
    for (int i = 0; i < count; i++) {
        if (!(table[i].value & value))
            continue;
        strcat(destination, written ? "|" : prefix);
        strcat(destination, table[i].name);
        written = TRUE;
    }
    if (!written && showZero) {
        strcat(destination, prefix);
        strcat(destination, "0");
    }
}

void AppendEventNames(char* destination, LONG eventMask)
{
    AppendFlagNames(destination, NetworkEventNames, NetworkEventCount, ", lEvent=", eventMask, TRUE);
}

static const char* NameOrNumber(const char* name, int value, char* scratch)
{
    if (name)
        return name;
    sprintf(scratch, "%d", value);
    return scratch;
}

const char* AddressFamilyText(int family, char* scratch)
{
    return NameOrNumber(AddressFamilyName(family), family, scratch);
}

const char* SocketTypeText(int type, char* scratch)
{
    return NameOrNumber(SocketTypeName(type), type, scratch);
}

const char* ProtocolText(int protocol, char* scratch)
{
    return NameOrNumber(ProtocolName(protocol), protocol, scratch);
}

void FormatSocketCreationExtra(char* destination, GROUP group, DWORD flags)
{
    destination[0] = '\0';
    if (group == SG_UNCONSTRAINED_GROUP)
        strcpy(destination, ", g=SG_UNCONSTRAINED_GROUP");
    else if (group == SG_CONSTRAINED_GROUP)
        strcpy(destination, ", g=SG_CONSTRAINED_GROUP");
    else if (group != 0)
        sprintf(destination, ", g=%d", static_cast<int>(group));
    AppendFlagNames(destination, SocketCreationFlagNames, SocketCreationFlagCount, ", dwFlags=",
                    flags, FALSE);
}
