#include "JsonCheck.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Reader {
    const std::string& text;
    size_t at = 0;
    std::string error;

    void SkipSpace()
    {
        while (at < text.size() && strchr(" \t\r\n", text[at]))
            at++;
    }
    bool Fail(const std::string& what)
    {
        if (error.empty())
            error = what + " at " + std::to_string(at);
        return false;
    }
    bool Expect(char c)
    {
        SkipSpace();
        if (at < text.size() && text[at] == c) {
            at++;
            return true;
        }
        return Fail(std::string("expected '") + c + "'");
    }
    static void AppendUtf8(std::string& out, unsigned code)
    {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6);
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xE0 | code >> 12);
            out += char(0x80 | (code >> 6 & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }
    bool ReadString(std::string& out)
    {
        if (!Expect('"'))
            return false;
        while (at < text.size()) {
            unsigned char c = static_cast<unsigned char>(text[at++]);
            if (c == '"')
                return true;
            if (c < 0x20)
                return Fail("control character in a string");
            if (c != '\\') {
                out += char(c);
                continue;
            }
            if (at >= text.size())
                break;
            char escape = text[at++];
            const char* simple = strchr("\"\\/bfnrt", escape);
            if (simple && escape) {
                out += "\"\\/\b\f\n\r\t"[simple - "\"\\/bfnrt"];
            } else if (escape == 'u' && at + 4 <= text.size()) {
                char* end = nullptr;
                std::string digits = text.substr(at, 4);
                unsigned code = unsigned(strtoul(digits.c_str(), &end, 16));
                if (end != digits.c_str() + 4)
                    return Fail("bad \\u escape");
                AppendUtf8(out, code);
                at += 4;
            } else {
                return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }
    bool ReadValue(JsonValue& value)
    {
        SkipSpace();
        if (at >= text.size())
            return Fail("missing value");
        if (text[at] == '"') {
            value.type = JsonValue::String;
            return ReadString(value.text);
        }
        for (const char* literal : {"true", "false", "null"})
            if (text.compare(at, strlen(literal), literal) == 0) {
                value.type = JsonValue::Literal;
                value.text = literal;
                at += strlen(literal);
                return true;
            }
        size_t start = at;
        if (text[at] == '-')
            at++;
        if (at >= text.size() || !isdigit(static_cast<unsigned char>(text[at])))
            return Fail("bad value");
        if (text[at] == '0' && at + 1 < text.size() && isdigit(static_cast<unsigned char>(text[at + 1])))
            return Fail("leading zero");
        while (at < text.size() && strchr("0123456789.eE+-", text[at]))
            at++;
        value.type = JsonValue::Number;
        value.text = text.substr(start, at - start);
        char* end = nullptr;
        value.number = strtod(value.text.c_str(), &end);
        if (end != value.text.c_str() + value.text.size())
            return Fail("bad number");
        return true;
    }
};

int Base64Value(char c)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const char* found = c ? strchr(digits, c) : nullptr;
    return found ? int(found - digits) : -1;
}

}  // namespace

std::string ParseJsonObject(const std::string& line, JsonObject& object)
{
    object.clear();
    Reader reader{line, 0, ""};
    if (!reader.Expect('{'))
        return reader.error;
    reader.SkipSpace();
    if (reader.at < line.size() && line[reader.at] == '}') {
        reader.at++;
    } else {
        for (;;) {
            std::string name;
            JsonValue value;
            if (!reader.ReadString(name) || !reader.Expect(':') || !reader.ReadValue(value))
                return reader.error;
            if (object.count(name))
                return "member " + name + " twice";
            object[name] = value;
            reader.SkipSpace();
            if (reader.at < line.size() && line[reader.at] == ',') {
                reader.at++;
                continue;
            }
            if (!reader.Expect('}'))
                return reader.error;
            break;
        }
    }
    reader.SkipSpace();
    return reader.at == line.size() ? "" : "text after the object";
}

bool DecodeBase64(const std::string& text, std::string& bytes)
{
    bytes.clear();
    if (text.size() % 4)
        return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        int values[4];
        int padding = 0;
        for (int j = 0; j < 4; j++) {
            char c = text[i + j];
            bool last = i + 4 == text.size();
            if (c == '=' && last && j >= 2 && (j == 3 || text[i + 3] == '=')) {
                values[j] = 0;
                padding++;
            } else if ((values[j] = Base64Value(c)) < 0 || padding) {
                return false;
            }
        }
        unsigned group = unsigned(values[0]) << 18 | unsigned(values[1]) << 12 | unsigned(values[2]) << 6 | unsigned(values[3]);
        bytes += char(group >> 16);
        if (padding < 2)
            bytes += char(group >> 8 & 0xFF);
        if (padding < 1)
            bytes += char(group & 0xFF);
    }
    return true;
}
