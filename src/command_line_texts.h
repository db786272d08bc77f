#pragma once
// Every text the command line prints about itself, in one place so that it
// can be read against what the program shows. Pieces are joined by the
// code in command_line.cpp; none of them carries emphasis.

#include <string_view>

namespace brelix::texts {

inline constexpr std::string_view command_name = "brelix";
inline constexpr std::string_view version = BRELIX_VERSION;  // from CMake's project version
inline constexpr std::string_view about = "Utility minify ombril / veltrano files";

// Help texts of the arguments, in declaration order.
inline constexpr std::string_view boot_help = "List of boot files to minify";
inline constexpr std::string_view list_help = "List of files to minify";
inline constexpr std::string_view extra_help = "List of files to minify";
inline constexpr std::string_view ombril_help = "minify ombril files";
inline constexpr std::string_view veltrano_help = "minify veltrano files";
inline constexpr std::string_view help_help = "Print help";
inline constexpr std::string_view version_help = "Print version";

// The help text's frame.
inline constexpr std::string_view usage_heading = "Usage:";
inline constexpr std::string_view options_placeholder = "[OPTIONS]";
inline constexpr std::string_view arguments_heading = "Arguments:";
inline constexpr std::string_view options_heading = "Options:";
inline constexpr std::string_view default_open = "[default: ";
inline constexpr std::string_view default_close = "]";

// Usage-error reports.
inline constexpr std::string_view error_marker = "error:";
inline constexpr std::string_view tip_marker = "tip:";
inline constexpr std::string_view unexpected_argument_open = "unexpected argument '";
inline constexpr std::string_view unexpected_argument_close = "' found";
inline constexpr std::string_view to_pass_open = "to pass '";
inline constexpr std::string_view to_pass_middle = "' as a value, use '";
inline constexpr std::string_view to_pass_separator = "-- ";
inline constexpr std::string_view to_pass_close = "'";
inline constexpr std::string_view similar_open = "a similar argument exists: '";
inline constexpr std::string_view similar_close = "'";
inline constexpr std::string_view value_required_open = "a value is required for '";
inline constexpr std::string_view value_required_close = "' but none was supplied";
inline constexpr std::string_view used_twice_open = "the argument '";
inline constexpr std::string_view used_twice_close = "' cannot be used multiple times";
inline constexpr std::string_view unexpected_value_open = "unexpected value '";
inline constexpr std::string_view unexpected_value_middle = "' for '";
inline constexpr std::string_view unexpected_value_close = "' found; no more were expected";
inline constexpr std::string_view invalid_utf8 =
    "invalid UTF-8 was detected in one or more arguments";
inline constexpr std::string_view missing_required =
    "the following required argument was not provided: ";
inline constexpr std::string_view more_information_open = "For more information, try '";
inline constexpr std::string_view more_information_option = "--help";
inline constexpr std::string_view more_information_close = "'.";

}  // namespace brelix::texts
