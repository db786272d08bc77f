#include "src/command_line.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "src/command_line_texts.h"
#include "src/jaro.h"

namespace brelix {
namespace {

using platform::Stream;

enum class Kind { option, flag, help, version };

// One argument that is written with dashes. The positional EXTRA is the
// only other argument and has no declaration of its own.
struct Declaration {
  std::string_view id;  // also the long form
  char short_form;
  std::string_view value_name;  // shown only for options
  Kind kind;
  std::string_view help;
};

Declaration flag_of(const catalogue::Package& package) {
  return Declaration{package.flag, package.letter, package.value_name, Kind::flag, package.help};
}

// Declaration order: the order of the help text, and the order that breaks
// ties between similar names. The packages' flags come from the catalogue,
// whose table is constant before anything here is initialised.
const std::array declarations = {
    Declaration{"boot", 'b', "BOOT", Kind::option, texts::boot_help},
    Declaration{"list", 'l', "LIST", Kind::option, texts::list_help},
    flag_of(catalogue::packages[0]),
    flag_of(catalogue::packages[1]),
    Declaration{"help", 'h', "", Kind::help, texts::help_help},
    Declaration{"version", 'V', "", Kind::version, texts::version_help},
};

constexpr std::string_view extra_value_name = "EXTRA";

// Candidates must score above this to be suggested.
constexpr double similarity_threshold = 0.7;

const Declaration* find_long(std::string_view name) {
  for (const Declaration& declaration : declarations) {
    if (declaration.id == name) {
      return &declaration;
    }
  }
  return nullptr;
}

const Declaration* find_short(char letter) {
  for (const Declaration& declaration : declarations) {
    if (declaration.short_form == letter) {
      return &declaration;
    }
  }
  return nullptr;
}

// The long name most like name, or nullptr when none scores enough.
const Declaration* most_similar(std::string_view name) {
  const Declaration* best = nullptr;
  double best_score = similarity_threshold;
  for (const Declaration& declaration : declarations) {
    const double score = jaro(name, declaration.id);
    // ">=" lets a later declaration win a tie; the first candidate must
    // still beat the threshold strictly.
    if (score > similarity_threshold && score >= best_score) {
      best = &declaration;
      best_score = score;
    }
  }
  return best;
}

// The argument as messages name it: --boot <BOOT>, --ombril.
std::string spec_of(const Declaration& declaration) {
  std::string spec = "--";
  spec += declaration.id;
  if (declaration.kind == Kind::option) {
    spec += " <";
    spec += declaration.value_name;
    spec += '>';
  }
  return spec;
}

// The entry of the options section: -b, --boot <BOOT>.
std::string entry_of(const Declaration& declaration) {
  std::string entry = "-";
  entry += declaration.short_form;
  entry += ", ";
  entry += spec_of(declaration);
  return entry;
}

std::string positional_entry() {
  std::string entry = "[";
  entry += extra_value_name;
  entry += ']';
  return entry;
}

std::string usage_line(std::string_view program, const Styler& style) {
  std::string tail(program);
  tail += ' ';
  tail += texts::options_placeholder;
  tail += ' ';
  tail += positional_entry();
  std::string line = style(Emphasis::heading, texts::usage_heading);
  line += ' ';
  line += style(Emphasis::literal, tail);
  return line;
}

// An empty default still shows, as "[default: ]".
std::string default_suffix() {
  std::string suffix = " ";
  suffix += texts::default_open;
  suffix += texts::default_close;
  return suffix;
}

void append_entry_line(std::string& out, std::string_view entry, std::size_t column,
                       std::string_view help, bool show_default, const Styler& style) {
  out += "  ";
  out += style(Emphasis::literal, entry);
  out.append(column - entry.size(), ' ');
  out += help;
  if (show_default) {
    out += default_suffix();
  }
  out += '\n';
}

std::string help_text(std::string_view program, const Styler& style) {
  std::string out(texts::about);
  out += "\n\n";
  out += usage_line(program, style);
  out += "\n\n";

  const std::string positional = positional_entry();
  out += style(Emphasis::heading, texts::arguments_heading);
  out += '\n';
  append_entry_line(out, positional, positional.size() + 2, texts::extra_help, true, style);
  out += '\n';

  std::size_t widest = 0;
  for (const Declaration& declaration : declarations) {
    widest = std::max(widest, entry_of(declaration).size());
  }
  out += style(Emphasis::heading, texts::options_heading);
  out += '\n';
  for (const Declaration& declaration : declarations) {
    append_entry_line(out, entry_of(declaration), widest + 2, declaration.help,
                      declaration.kind == Kind::option, style);
  }
  return out;
}

std::string version_text() {
  std::string out(texts::command_name);
  out += ' ';
  out += texts::version;
  out += '\n';
  return out;
}

// The last path component of argument zero, unchanged; the command name
// when there is none to take.
std::string program_name(std::span<const std::optional<std::string>> args) {
  if (args.empty() || !args[0]) {
    return std::string(texts::command_name);
  }
  const std::string_view path = *args[0];
  const std::size_t separator = path.find_last_of(platform::path_separators());
  const std::string_view last =
      separator == std::string_view::npos ? path : path.substr(separator + 1);
  return std::string(last.empty() ? texts::command_name : last);
}

std::string quoted_piece(std::string_view open, std::string_view piece, std::string_view close,
                         Emphasis emphasis, const Styler& style) {
  std::string out(open);
  out += style(emphasis, piece);
  out += close;
  return out;
}

std::string unexpected_argument(std::string_view arg, const Styler& style) {
  return quoted_piece(texts::unexpected_argument_open, arg, texts::unexpected_argument_close,
                      Emphasis::invalid, style);
}

std::string to_pass_tip(std::string_view arg, const Styler& style) {
  std::string tip =
      quoted_piece(texts::to_pass_open, arg, texts::to_pass_middle, Emphasis::invalid, style);
  std::string as_value(texts::to_pass_separator);
  as_value += arg;
  tip += style(Emphasis::valid, as_value);
  tip += texts::to_pass_close;
  return tip;
}

struct UsageError {
  std::string message;
  std::optional<std::string> tip;
  bool with_usage = true;
};

Report usage_error_report(const UsageError& error, std::string_view program, const Styler& style) {
  std::string out = style(Emphasis::error, texts::error_marker);
  out += ' ';
  out += error.message;
  out += '\n';
  if (error.tip) {
    out += "\n  ";
    out += style(Emphasis::tip, texts::tip_marker);
    out += ' ';
    out += *error.tip;
    out += '\n';
  }
  if (error.with_usage) {
    out += '\n';
    out += usage_line(program, style);
    out += '\n';
  }
  out += '\n';
  out += quoted_piece(texts::more_information_open, texts::more_information_option,
                      texts::more_information_close, Emphasis::literal, style);
  out += '\n';
  return Report{Stream::error, std::move(out), usage_error_status};
}

// One left-to-right pass over the arguments. Every handler either consumes
// its argument (and perhaps the next) or returns the report that ends the
// parse; the first report wins, so help met before an error is shown and
// help met after one is not.
class ArgumentReader {
 public:
  ArgumentReader(std::span<const std::optional<std::string>> args, const Styler& output_styler,
                 const Styler& error_styler)
      : args_(args), output_(output_styler), error_(error_styler), program_(program_name(args)) {}

  std::expected<Arguments, Report> parse() {
    bool options_ended = false;
    for (index_ = 1; index_ < args_.size(); ++index_) {
      if (!args_[index_]) {
        return std::unexpected(fail({std::string(texts::invalid_utf8), std::nullopt}));
      }
      const std::string_view arg = *args_[index_];
      std::optional<Report> report;
      if (options_ended) {
        report = positional(arg);
      } else if (arg == "--") {
        options_ended = true;
      } else if (arg.starts_with("--")) {
        report = long_option(arg);
      } else if (arg.size() > 1 && arg[0] == '-') {
        report = short_group(arg);
      } else {
        report = positional(arg);
      }
      if (report) {
        return std::unexpected(std::move(*report));
      }
    }
    // Defaults for what was not given.
    if (!values_.boot) values_.boot.emplace();
    if (!values_.list) values_.list.emplace();
    if (!values_.extra) values_.extra.emplace();
    if (!values_.ombril) values_.ombril = false;
    if (!values_.veltrano) values_.veltrano = false;
    return read_record(std::move(values_), error_);
  }

 private:
  Report fail(const UsageError& error) const { return usage_error_report(error, program_, error_); }

  // --NAME, --NAME=VALUE, --NAME VALUE.
  std::optional<Report> long_option(std::string_view arg) {
    const std::string_view body = arg.substr(2);
    const std::size_t equals = body.find('=');
    const std::string_view name = body.substr(0, equals);
    std::optional<std::string_view> attached;
    if (equals != std::string_view::npos) {
      attached = body.substr(equals + 1);
    }
    const Declaration* declaration = find_long(name);
    if (declaration == nullptr) {
      const Declaration* similar = most_similar(name);
      std::string tip;
      if (similar != nullptr) {
        std::string suggestion = "--";
        suggestion += similar->id;
        tip = quoted_piece(texts::similar_open, suggestion, texts::similar_close, Emphasis::valid,
                           error_);
      } else {
        tip = to_pass_tip(arg, error_);
      }
      return fail({unexpected_argument(arg, error_), std::move(tip)});
    }
    if (declaration->kind == Kind::option) {
      return option(*declaration, attached);
    }
    if (attached) {
      return unexpected_value(*declaration, *attached);
    }
    return no_value(*declaration);
  }

  // -L, a group of letters (-ov), -bVALUE, -b=VALUE, -b VALUE.
  std::optional<Report> short_group(std::string_view arg) {
    for (std::size_t pos = 1; pos < arg.size(); ++pos) {
      const Declaration* declaration = find_short(arg[pos]);
      if (declaration == nullptr) {
        // The whole argument, as written, is what could be passed as a value.
        return fail({unexpected_argument(arg, error_), to_pass_tip(arg, error_)});
      }
      std::string_view rest = arg.substr(pos + 1);
      if (declaration->kind == Kind::option) {
        if (rest.starts_with('=')) {
          rest.remove_prefix(1);
          return option(*declaration, rest);
        }
        if (!rest.empty()) {
          return option(*declaration, rest);
        }
        return option(*declaration, std::nullopt);
      }
      // A flag letter followed by "=" is the short form of --ombril=VALUE.
      if (rest.starts_with('=')) {
        return unexpected_value(*declaration, rest.substr(1));
      }
      if (std::optional<Report> report = no_value(*declaration)) {
        return report;
      }
    }
    return std::nullopt;
  }

  // An option whose value was attached, or else is the next argument.
  std::optional<Report> option(const Declaration& declaration,
                               std::optional<std::string_view> attached) {
    std::string value;
    if (attached) {
      value = *attached;
    } else {
      const std::size_t next = index_ + 1;
      if (next < args_.size() && !args_[next]) {
        return fail({std::string(texts::invalid_utf8), std::nullopt});
      }
      // Something that reads as an option (or as "--") is not taken as the
      // value; "-" alone and the empty text are values.
      if (next >= args_.size() || (args_[next]->size() > 1 && args_[next]->front() == '-')) {
        return fail({quoted_piece(texts::value_required_open, spec_of(declaration),
                                  texts::value_required_close, Emphasis::literal, error_),
                     std::nullopt, false});
      }
      index_ = next;
      value = *args_[next];
    }
    std::optional<std::string>& slot = declaration.id == "boot" ? values_.boot : values_.list;
    if (slot) {
      return used_twice(declaration);
    }
    slot = std::move(value);
    return std::nullopt;
  }

  // A flag, help or version, written without a value.
  std::optional<Report> no_value(const Declaration& declaration) {
    switch (declaration.kind) {
      case Kind::help:
        return Report{Stream::output, help_text(program_, output_), help_status};
      case Kind::version:
        return Report{Stream::output, version_text(), help_status};
      case Kind::flag: {
        std::optional<bool>& slot =
            declaration.id == catalogue::packages[0].flag ? values_.ombril : values_.veltrano;
        if (slot) {
          return used_twice(declaration);
        }
        slot = true;
        return std::nullopt;
      }
      case Kind::option:
        break;
    }
    return std::nullopt;
  }

  std::optional<Report> positional(std::string_view arg) {
    if (values_.extra) {
      return fail({unexpected_argument(arg, error_), std::nullopt});
    }
    values_.extra.emplace(arg);
    return std::nullopt;
  }

  Report unexpected_value(const Declaration& declaration, std::string_view value) const {
    std::string message = quoted_piece(texts::unexpected_value_open, value,
                                       texts::unexpected_value_middle, Emphasis::invalid, error_);
    message += quoted_piece("", spec_of(declaration), texts::unexpected_value_close,
                            Emphasis::literal, error_);
    return fail({std::move(message), std::nullopt});
  }

  Report used_twice(const Declaration& declaration) const {
    return fail({quoted_piece(texts::used_twice_open, spec_of(declaration), texts::used_twice_close,
                              Emphasis::literal, error_),
                 std::nullopt});
  }

  std::span<const std::optional<std::string>> args_;
  const Styler& output_;
  const Styler& error_;
  std::string program_;
  std::size_t index_ = 0;
  ArgumentValues values_;
};

}  // namespace

std::expected<Arguments, Report> read_record(ArgumentValues values, const Styler& error_styler) {
  const auto missing = [&](std::string_view id) {
    std::string message(texts::missing_required);
    message += error_styler(Emphasis::literal, id);
    return std::unexpected(
        usage_error_report({std::move(message), std::nullopt}, texts::command_name, error_styler));
  };
  Arguments arguments;
  if (!values.boot) return missing("boot");
  arguments.boot = std::move(*values.boot);
  if (!values.list) return missing("list");
  arguments.list = std::move(*values.list);
  if (!values.extra) return missing("extra");
  arguments.extra = std::move(*values.extra);
  if (!values.ombril) return missing("ombril");
  arguments.ombril = *values.ombril;
  if (!values.veltrano) return missing("veltrano");
  arguments.veltrano = *values.veltrano;
  return arguments;
}

std::expected<Arguments, Report> parse_arguments(std::span<const std::optional<std::string>> args,
                                                 const Styler& output_styler,
                                                 const Styler& error_styler) {
  return ArgumentReader(args, output_styler, error_styler).parse();
}

bool flag_given(const Arguments& arguments, const catalogue::Package& package) {
  return package.flag == catalogue::packages[0].flag ? arguments.ombril : arguments.veltrano;
}

const std::string* option_value(const Arguments& arguments, catalogue::ListOption option) {
  switch (option) {
    case catalogue::ListOption::boot:
      return &arguments.boot;
    case catalogue::ListOption::list:
      return &arguments.list;
    case catalogue::ListOption::extra:
      return &arguments.extra;
    case catalogue::ListOption::none:
      break;
  }
  return nullptr;
}

std::expected<Arguments, Report> Arguments::parse() {
  const std::vector<std::optional<std::string>> args = platform::arguments();
  return parse_arguments(args, Styler::for_stream(Stream::output),
                         Styler::for_stream(Stream::error));
}

}  // namespace brelix
