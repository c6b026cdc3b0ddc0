#include "app/Strings.h"

#include "Common/Ansi.h"

#include <map>

namespace strings {
namespace {

// The table in the program's code page, converted once on first use.
const std::map<unsigned, std::string>& Converted() {
    static const std::map<unsigned, std::string> table = [] {
        std::map<unsigned, std::string> converted;
        for (const Entry* e = TableBegin(); e != TableEnd(); ++e)
            converted.emplace(e->id, ansi::FromUtf8(e->utf8));
        return converted;
    }();
    return table;
}

} // namespace

const std::string& Text(unsigned id) {
    static const std::string none;
    const auto& table = Converted();
    auto it = table.find(id);
    return it == table.end() ? none : it->second;
}

std::string Literal(std::string_view utf8, std::string_view argument) {
    return Literal(utf8, {argument});
}

std::string Literal(std::string_view utf8, std::initializer_list<std::string_view> arguments) {
    std::string text = ansi::FromUtf8(utf8);
    std::size_t from = 0;
    for (std::string_view argument : arguments) {
        const std::size_t at = text.find("%s", from);
        if (at == std::string::npos)
            break;
        text.replace(at, 2, argument);
        from = at + argument.size(); // an argument that holds "%s" itself stays as it is
    }
    return text;
}

std::vector<unsigned> AllIds() {
    std::vector<unsigned> ids;
    for (const auto& [id, text] : Converted())
        ids.push_back(id);
    return ids;
}

} // namespace strings
