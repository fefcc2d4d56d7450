#include "svg_signature.h"

#include <string_view>

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           c == '.';
}

// Skips a markup declaration from its "<!" on, brackets of an internal subset included;
// npos when it does not end within text.
size_t SkipDeclaration(std::string_view text, size_t at) {
    int depth = 0;
    for (size_t i = at + 2; i < text.size(); ++i) {
        if (text[i] == '[') ++depth;
        if (text[i] == ']') --depth;
        if (text[i] == '>' && depth <= 0) return i + 1;
    }
    return std::string_view::npos;
}

}  // namespace

bool LooksLikeSvg(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t at = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (at < text.size()) {
        if (IsSpace(text[at])) {
            ++at;
            continue;
        }
        if (text[at] != '<') return false;
        const std::string_view rest = text.substr(at);
        size_t end = std::string_view::npos;
        if (rest.starts_with("<?")) {
            end = rest.find("?>");
            if (end != std::string_view::npos) end += 2;
        } else if (rest.starts_with("<!--")) {
            end = rest.find("-->", 4);
            if (end != std::string_view::npos) end += 3;
        } else if (rest.starts_with("<!")) {
            end = SkipDeclaration(rest, 0);
        } else {
            // The root element: its name, with or without a namespace prefix, must be svg.
            size_t name = 1;
            while (name < rest.size() && IsNameChar(rest[name])) ++name;
            if (name < rest.size() && rest[name] == ':') {
                const size_t local = name + 1;
                name = local;
                while (name < rest.size() && IsNameChar(rest[name])) ++name;
                if (rest.substr(local, name - local) != "svg") return false;
            } else if (rest.substr(1, name - 1) != "svg") {
                return false;
            }
            return name < rest.size() && (IsSpace(rest[name]) || rest[name] == '>' || rest[name] == '/');
        }
        if (end == std::string_view::npos) return false;
        at += end;
    }
    return false;
}
