// Socket option names by level, and the kind of value each option carries.
#pragma once

enum OptionValueKind {
    ValueNone,     // nothing shown
    ValueBool,     // ", optval=true" or ", optval=false" from the first byte
    ValueInt,      // ", optval=%d"
    ValueLinger,   // ", l_onoff=%d, l_linger=%d"
};

struct OptionName {
    int option;
    const char* name;
    OptionValueKind kind;
};

struct OptionLevel {
    int level;
    const char* name;
    const OptionName* options;
    int count;
};

// Null for a level or option without a name.
const OptionLevel* FindOptionLevel(int level);
const OptionName* FindOptionName(const OptionLevel* level, int option);
