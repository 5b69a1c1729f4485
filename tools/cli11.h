// CLI11 for the tool, and the kinds of option its commands share.
#pragma once

#include <map>
#include <string>

#include <CLI/CLI.hpp>

namespace velder::tools {

// A number as people write one: decimal digits only, whatever their leading
// zeros (010 is ten), within [low, high].
CLI::Validator Decimal(long long low, long long high);

// An option that takes such a number, its default shown in the help.
template <typename T>
CLI::Option* NumberOption(CLI::App& command, const std::string& name, T& value, long long low,
                          long long high, const std::string& help) {
    return command.add_option(name, value, help)
        ->capture_default_str()
        ->transform(Decimal(low, high));
}

// An option that takes one of the names in `choices` and sets `value` to what it maps to.
template <typename T>
CLI::Option* Choice(CLI::App& command, const std::string& name, T& value,
                    const std::map<std::string, T>& choices, const std::string& help) {
    const auto set = [&value, choices](const std::string& text) { value = choices.at(text); };
    return command.add_option_function<std::string>(name, set, help)->check(CLI::IsMember(choices));
}

}  // namespace velder::tools
