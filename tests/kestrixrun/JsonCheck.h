// A strict reader of one JSON object of plain members (strings, numbers, true, false, null), to
// check kestrixrun's JSON lines independently of the code that writes them.
#pragma once
#include <map>
#include <string>

struct JsonValue {
    enum Type { String, Number, Literal } type = Literal;
    std::string text;   // a string's decoded UTF-8, a number's or a literal's spelling
    double number = 0;
};

using JsonObject = std::map<std::string, JsonValue>;

// Parses line as one object and nothing else; "" or what is wrong with it.
std::string ParseJsonObject(const std::string& line, JsonObject& object);

// Decodes standard base64 with padding; false on any other character or a bad length.
bool DecodeBase64(const std::string& text, std::string& bytes);
