#include "cmdline/parameter_builder.h"

#include "cmdline/spec_reader.h"
#include "common/decimal.h"

#include <deque>

namespace talve {

namespace {

struct Block {
    ParameterSpec spec;
    bool registered = false;
};

ParameterType typeNamed(const std::string& name) {
    if (name == "Integer") return ParameterType::Integer;
    if (name == "NoValue") return ParameterType::NoValue;
    if (name == "Boolean") return ParameterType::Boolean;
    if (name == "String") return ParameterType::String;
    if (name == "Enumeration") return ParameterType::Enumeration;
    return ParameterType::Unknown;
}

void addWords(std::set<std::string>& words, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) words.insert(text.substr(start, end - start));
        start = end + 1;
    }
}

void applyAttribute(ParameterSpec& spec, const std::string& name, const std::string& value) {
    if (name == "Type") spec.type = typeNamed(value);
    else if (name == "Optional") spec.optional = value == "True";
    else if (name == "MinValue") spec.minValue = parseDecimal(value);
    else if (name == "MaxValue") spec.maxValue = parseDecimal(value);
    else if (name == "PossibleValues") addWords(spec.possibleValues, value);
}

} // namespace

// Each opening line starts a deeper level and a closing line does not end
// one: only a line the reader refuses does. The levels are kept on an
// explicit stack rather than the call stack, because a well-formed text
// nests one level per block and a long one must not exhaust the stack.
std::vector<ParameterSpec> buildParameters(const std::string& specificationText) {
    std::deque<Block> blocks(1); // the placeholder: nameless, all defaults
    std::vector<Block*> levels{&blocks.front()};
    std::vector<const Block*> registrationOrder;

    SpecReader reader(specificationText);
    while (!levels.empty()) {
        if (!reader.next()) {
            levels.pop_back();
            continue;
        }
        const SpecItem& item = reader.item();
        Block& current = *levels.back();
        switch (item.kind) {
        case SpecItem::Kind::BlockOpen:
            blocks.emplace_back();
            blocks.back().spec.name = item.name;
            levels.push_back(&blocks.back());
            break;
        case SpecItem::Kind::BlockClose:
            if (!current.registered) {
                current.registered = true;
                registrationOrder.push_back(&current);
            }
            break;
        case SpecItem::Kind::Attribute:
            applyAttribute(current.spec, item.name, item.value);
            break;
        }
    }

    std::vector<ParameterSpec> parameters;
    parameters.reserve(registrationOrder.size());
    for (const Block* block : registrationOrder) parameters.push_back(block->spec);
    return parameters;
}

} // namespace talve
