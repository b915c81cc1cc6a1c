#include "cmdline/argument_validator.h"

#include "cmdline/parameter_builder.h"
#include "common/decimal.h"

namespace talve {

namespace {

std::string bracketedList(const std::set<std::string>& values) {
    std::string list;
    for (const std::string& value : values) list += " [" + value + "]";
    return list;
}

} // namespace

ArgumentValidator::ArgumentValidator(const std::string& specificationText)
    : parameters_(buildParameters(specificationText)) {}

const ParameterSpec* ArgumentValidator::findParameter(const std::string& name) const {
    for (const ParameterSpec& parameter : parameters_) {
        if (parameter.name == name) return &parameter;
    }
    return nullptr;
}

bool ArgumentValidator::validate(int argc, const char* const argv[]) {
    valueConsumed_ = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (validatedArguments_.count(argument) != 0) {
            return reject("Parameter [" + argument +
                          "] is present multiple times on the command line. Each paramater can only be used once in a command line.");
        }
        if (!validateParameter(argument, i, argc, argv)) return false;
        if (valueConsumed_) {
            valueConsumed_ = false;
            ++i; // a value is never examined as an argument
        }
    }
    return true;
}

bool ArgumentValidator::validateParameter(const std::string& argument, int index, int argc, const char* const argv[]) {
    errorMessage_.clear();
    const ParameterSpec* parameter = findParameter(argument);
    if (parameter == nullptr) return reject("Unknown argument : [" + argument + "]");

    Value value;
    if (index + 1 < argc) value = argv[index + 1];

    switch (parameter->type) {
    case ParameterType::NoValue:
        return accept(*parameter, noValueMarker);
    case ParameterType::Integer:
        return checkInteger(*parameter, value);
    case ParameterType::Boolean:
        return checkBoolean(*parameter, value);
    case ParameterType::String:
        return checkString(*parameter, value);
    case ParameterType::Enumeration:
        return checkEnumeration(*parameter, value);
    case ParameterType::Unknown:
        break;
    }
    return false; // a specification fault, not the user's: nothing to tell
}

// "0" is the only spelling of zero taken as a number, so that 00, -0 and
// text without digits, which all convert to 0, count as missing values.
bool ArgumentValidator::checkInteger(const ParameterSpec& parameter, const Value& value) {
    const std::string& name = parameter.name;
    std::int32_t number = value ? parseDecimal(*value) : 0;
    if (value && (number != 0 || *value == "0")) {
        if (parameter.minValue <= number && number <= parameter.maxValue) return acceptAsValue(parameter, *value);
        return reject("The provided value [" + *value + "] for parameter [" + name +
                      "] is outside of the expected range (between " + std::to_string(parameter.minValue) + " and " +
                      std::to_string(parameter.maxValue) + ").");
    }
    if (parameter.optional) return accept(parameter, notPresentMarker);
    if (value) return reject("The provided value [" + *value + "] for parameter [" + name + "] is not a number.");
    return reject("Missing integer value for parameter [" + name + "].");
}

bool ArgumentValidator::checkBoolean(const ParameterSpec& parameter, const Value& value) {
    const std::string& name = parameter.name;
    if (value && (*value == "True" || *value == "False")) return acceptAsValue(parameter, *value);
    if (parameter.optional) return accept(parameter, notPresentMarker);
    if (value) {
        return reject("The provided value [" + *value + "] for parameter [" + name +
                      "] is not a boolean. [True] or [False] is expected.");
    }
    return reject("Missing boolean value for parameter [" + name + "].");
}

bool ArgumentValidator::checkString(const ParameterSpec& parameter, const Value& value) {
    const std::string& name = parameter.name;
    if (value && isReservedKeyword(*value)) {
        if (parameter.optional) return accept(parameter, notPresentMarker);
        return reject("Reserved keyword [" + *value + "] cannot be used as value for parameter [" + name + "]");
    }
    if (value) return acceptAsValue(parameter, *value);
    if (parameter.optional) return accept(parameter, notPresentMarker);
    return reject("Missing value for parameter [" + name + "].");
}

bool ArgumentValidator::checkEnumeration(const ParameterSpec& parameter, const Value& value) {
    const std::string& name = parameter.name;
    bool allowed = value && parameter.possibleValues.count(*value) != 0;
    if (allowed) {
        if (parameter.optional && isReservedKeyword(*value)) return accept(parameter, notPresentMarker);
        return acceptAsValue(parameter, *value);
    }
    if (parameter.optional) return accept(parameter, notPresentMarker);
    std::string expected = ". One of the following is expected :" + bracketedList(parameter.possibleValues) + ".";
    if (!value) return reject("Missing value for parameter [" + name + "]" + expected);
    return reject("The provided value [" + *value + "] for parameter [" + name + "] is not a valid value" + expected);
}

bool ArgumentValidator::isReservedKeyword(const std::string& value) const {
    return !value.empty() && value.front() == '-' && findParameter(value) != nullptr;
}

// Never replaces: a repeated name is refused by validate() before it gets here.
bool ArgumentValidator::accept(const ParameterSpec& parameter, const std::string& value) {
    validatedArguments_.emplace(parameter.name, value);
    return true;
}

bool ArgumentValidator::acceptAsValue(const ParameterSpec& parameter, const std::string& value) {
    valueConsumed_ = true;
    return accept(parameter, value);
}

bool ArgumentValidator::reject(const std::string& message) {
    errorMessage_ = message;
    return false;
}

} // namespace talve
