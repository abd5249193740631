// The command line's help in its three forms, all from the one description of
// the commands and options (the CLI::App): --help wrapped to the terminal's
// width, the manual page talmera-repair.1, and the bash completion script.
// The build writes the last two with the hidden commands --man-page and
// --bash-completion, so that they never drift from --help.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace CLI {
class App;
class FormatterBase;
}

namespace talmera::cli {

// The width --help is wrapped to: the terminal's columns when standard output
// is one, else $COLUMNS, else 80 (kept between 40 and 200).
size_t helpWidth(bool outputIsTerminal);

// Breaks the lines of a help text longer than `width` at spaces; an option's
// description continues under itself, an indented line under its indent.
std::string wrapHelp(const std::string& text, size_t width);

// CLI11's help formatter, wrapped to `width`.
std::shared_ptr<CLI::FormatterBase> wrappingFormatter(size_t width);

// The manual page (man(7) macros) of the program and every command.
void writeManPage(const CLI::App& app, const std::string& version, std::ostream& out);

// A bash completion script: commands, their options, the values of options
// that take a fixed set, folders and files where they are asked for, and the
// tables of the FILE already given (read with `catalog --tables`).
void writeBashCompletion(const CLI::App& app, std::ostream& out);

}  // namespace talmera::cli
