#include "check/check_text.h"

#include <cstdio>

std::string shown(const std::string& text, size_t longest) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == longest) {
            out += "...";
            break;
        }
        auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (c < 32 || c > 126) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return "'" + out + "'";
}

std::string byteName(unsigned char c) {
    switch (c) {
    case '\t':
        return "tab";
    case '\r':
        return "carriage return";
    case 0x7F:
        return "byte 127";
    default:
        break;
    }
    char name[32];
    if (c < 32 || c > 126) {
        snprintf(name, sizeof name, "byte 0x%02X", c);
    } else {
        snprintf(name, sizeof name, "'%c'", c);
    }
    return name;
}

std::string jsonString(const std::string& text, bool utf8) {
    std::string out = "\"";
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 32 || (byte > 126 && !utf8)) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}
