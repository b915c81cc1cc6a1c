#pragma once

#include "cmdline/parameter_spec.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace talve {

// Checks a command line against the argument specification carried by the
// installer. On acceptance, validatedArguments() maps every parameter given
// to its value as typed or to one of the marker texts; on rejection,
// errorMessage() says why (empty for a parameter of unknown type).
class ArgumentValidator {
public:
    explicit ArgumentValidator(const std::string& specificationText);

    bool validate(int argc, const char* const argv[]);
    bool validateParameter(const std::string& argument, int index, int argc, const char* const argv[]);

    const std::string& errorMessage() const { return errorMessage_; }
    const std::map<std::string, std::string>& validatedArguments() const { return validatedArguments_; }

    // Where a name is registered twice, the block closed first is the one used.
    const ParameterSpec* findParameter(const std::string& name) const;
    const std::vector<ParameterSpec>& parameters() const { return parameters_; }

private:
    using Value = std::optional<std::string>;

    bool checkInteger(const ParameterSpec& parameter, const Value& value);
    bool checkBoolean(const ParameterSpec& parameter, const Value& value);
    bool checkString(const ParameterSpec& parameter, const Value& value);
    bool checkEnumeration(const ParameterSpec& parameter, const Value& value);

    bool isReservedKeyword(const std::string& value) const;
    bool accept(const ParameterSpec& parameter, const std::string& value);
    bool acceptAsValue(const ParameterSpec& parameter, const std::string& value);
    bool reject(const std::string& message);

    std::vector<ParameterSpec> parameters_;
    std::map<std::string, std::string> validatedArguments_;
    std::string errorMessage_;
    bool valueConsumed_ = false;
};

} // namespace talve
